// With --trace FILE: every request the scanner serves, one line each, in the order
// served, with the connection that sent it (emulator/README.md gives the format).
#pragma once

#include <cstdio>
#include <string>

#include "emulator/requests.h"

namespace qrx::sim {

class TraceFile {
 public:
  TraceFile() = default;
  ~TraceFile() { close(); }
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;

  // Creates or empties path; false with a message when it cannot.
  bool open(const std::string& path, std::string& error);
  // One line; called under the scanner's lock, so lines never mix.
  void write(const emu::TraceEntry& entry);
  // Writes out what is buffered and closes; false when anything was lost.
  bool close();

 private:
  std::FILE* file_ = nullptr;
  bool failed_ = false;
};

}  // namespace qrx::sim
