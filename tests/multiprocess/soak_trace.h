// The soak test's verdict on one run: the daemon's trace (every request with the
// connection that sent it) read beside the clients' logs (which busy-flag hold of
// their process each request was made under), so that a framed sequence of one
// process with another process's framed request inside it is seen.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qrx::test {

struct SoakVerdict {
  uint64_t requests = 0;           // in the trace, the clients' markers left out
  uint64_t connections = 0;        // connections matched with a client's channel
  uint64_t frames = 0;             // holds of the busy flag that made requests
  uint64_t interleaved = 0;        // frames with another process's framed request inside
  uint64_t unframed_main = 0;      // requests of a host's own thread outside any hold
  uint64_t library_threads = 0;    // requests of the image reader (outside the host's frames)
  uint64_t reader_in_frames = 0;   // of those, inside another process's frame
  uint64_t unaccounted = 0;        // traced requests that no client's log names
  std::vector<std::string> notes;  // the first few violations, described
};

// trace_path: the daemon's --trace file; logs: each client's process id and log.
// A client killed between writing a log line and sending its request leaves one
// line more than the trace has; that is not counted.
SoakVerdict check_soak(const std::string& trace_path, const std::map<int, std::string>& logs);

}  // namespace qrx::test
