// The soak test's verdict (see soak_trace.h).
#include "soak_trace.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <tuple>
#include <utility>

namespace qrx::test {
namespace {

constexpr unsigned kMarkerRequest = 0xF0;
constexpr size_t kMostNotes = 10;

struct LogLine {
  bool main = false;
  uint64_t hold = 0;
};

// Channel number -> the lines of that channel, in order.
using ClientLog = std::map<uint32_t, std::vector<LogLine>>;

ClientLog read_log(const std::string& path) {
  ClientLog log;
  std::ifstream in(path);
  uint32_t channel = 0, call = 0;
  int thread = 0;
  unsigned long long hold = 0;
  std::string line;
  while (std::getline(in, line)) {
    if (std::sscanf(line.c_str(), "%u %d %llu %u", &channel, &thread, &hold, &call) != 4) break;
    log[channel].push_back({thread == 0, hold});
  }
  return log;
}

struct Frame {
  int pid = 0;
  uint64_t first = UINT64_MAX, last = 0;  // trace positions of its requests
  uint64_t main_first = UINT64_MAX, main_last = 0;
  bool has_main = false;
};

struct Connection {
  int pid = 0;
  const std::vector<LogLine>* lines = nullptr;
  size_t next = 0;
};

}  // namespace

SoakVerdict check_soak(const std::string& trace_path, const std::map<int, std::string>& logs) {
  SoakVerdict verdict;
  std::map<int, ClientLog> clients;
  for (const auto& [pid, path] : logs) clients[pid] = read_log(path);
  const auto note = [&](const std::string& text) {
    if (verdict.notes.size() < kMostNotes) verdict.notes.push_back(text);
  };

  std::map<unsigned, Connection> connections;
  std::map<std::pair<int, uint64_t>, Frame> frames;
  std::vector<std::tuple<uint64_t, int, uint64_t>> library_requests;  // position, process, hold
  std::ifstream trace(trace_path);
  std::string line;
  while (std::getline(trace, line)) {
    unsigned connection = 0, code = 0, index = 0;
    unsigned long long time = 0;
    char kind[4] = {};
    char data[32] = {};
    int reg = 0;
    unsigned length = 0, moved = 0, ok = 0;
    if (std::sscanf(line.c_str(), "%u %llu %3s %x %x %d %u %u %u %31s", &connection, &time, kind,
                    &code, &index, &reg, &length, &moved, &ok, data) != 10) {
      note("unreadable trace line: " + line);
      ++verdict.unaccounted;
      continue;
    }
    if (std::string(kind) == "co" && code == kMarkerRequest) {
      // The marker of a client's channel: its process id, little-endian.
      unsigned b[4] = {};
      if (std::sscanf(data, "%2x%2x%2x%2x", &b[0], &b[1], &b[2], &b[3]) != 4) continue;
      const int pid = static_cast<int>(b[0] | b[1] << 8 | b[2] << 16 | b[3] << 24);
      Connection& c = connections[connection];
      c.pid = pid;
      const auto client = clients.find(pid);
      if (client != clients.end()) {
        const auto channel = client->second.find(index);
        if (channel != client->second.end()) c.lines = &channel->second;
      }
      ++verdict.connections;
      continue;
    }
    const uint64_t at = verdict.requests++;
    const auto c = connections.find(connection);
    if (c == connections.end() || c->second.lines == nullptr ||
        c->second.next >= c->second.lines->size()) {
      ++verdict.unaccounted;
      note("request " + std::to_string(at) + " of connection " + std::to_string(connection) +
           " is in no client's log");
      continue;
    }
    const LogLine& tag = (*c->second.lines)[c->second.next++];
    const int pid = c->second.pid;
    if (tag.hold == 0) {
      if (tag.main) {
        ++verdict.unframed_main;
        note("process " + std::to_string(pid) + " sent request " + std::to_string(at) +
             " from its own thread outside any hold");
      } else {
        library_requests.emplace_back(at, pid, 0);
      }
      continue;
    }
    Frame& frame = frames[{pid, tag.hold}];
    frame.pid = pid;
    frame.first = std::min(frame.first, at);
    frame.last = std::max(frame.last, at);
    if (tag.main) {
      frame.has_main = true;
      frame.main_first = std::min(frame.main_first, at);
      frame.main_last = std::max(frame.main_last, at);
    } else {
      library_requests.emplace_back(at, pid, tag.hold);
    }
  }

  // A hold the host's thread made requests under is that thread's frame; the image
  // reader may send requests meanwhile, which belong to no frame. A hold only
  // library threads used is the background calibration's frame.
  std::vector<Frame> spans;
  for (auto& [key, frame] : frames) {
    if (frame.has_main) {
      frame.first = frame.main_first;
      frame.last = frame.main_last;
    }
    spans.push_back(frame);
  }
  verdict.frames = spans.size();
  std::sort(spans.begin(), spans.end(),
            [](const Frame& a, const Frame& b) { return a.first < b.first; });
  // Each process's latest frame end so far: a frame starting before another
  // process's frame has ended lies inside it.
  std::map<int, const Frame*> latest;
  for (const Frame& frame : spans) {
    for (const auto& [pid, other] : latest) {
      if (pid != frame.pid && other->last > frame.first) {
        ++verdict.interleaved;
        note("a frame of process " + std::to_string(frame.pid) + " (requests " +
             std::to_string(frame.first) + " to " + std::to_string(frame.last) +
             ") began inside one of process " + std::to_string(pid) + " (requests " +
             std::to_string(other->first) + " to " + std::to_string(other->last) + ")");
        break;
      }
    }
    const Frame*& mine = latest[frame.pid];
    if (mine == nullptr || frame.last > mine->last) mine = &frame;
  }

  // Requests of library threads: those under a hold only library threads used
  // are the background calibration's, framed; the rest are the image reader's,
  // counted, and so is each that came inside another process's frame.
  std::map<int, std::vector<const Frame*>> by_process;  // each in order of its start
  for (const Frame& frame : spans) by_process[frame.pid].push_back(&frame);
  for (const auto& [at, pid, hold] : library_requests) {
    if (hold != 0 && !frames.at({pid, hold}).has_main) continue;
    ++verdict.library_threads;
    for (const auto& [other, list] : by_process) {
      if (other == pid) continue;
      const auto after = std::upper_bound(list.begin(), list.end(), at,
                                          [](uint64_t p, const Frame* f) { return p < f->first; });
      if (after != list.begin() && (*std::prev(after))->last > at) {
        ++verdict.reader_in_frames;
        break;
      }
    }
  }
  return verdict;
}

}  // namespace qrx::test
