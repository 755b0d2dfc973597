// The --trace file (see trace_file.h).
#include "trace_file.h"

#include <cerrno>
#include <cstring>

namespace qrx::sim {
namespace {

const char* kind_name(emu::RequestKind kind) {
  switch (kind) {
    case emu::RequestKind::ControlIn:
      return "ci";
    case emu::RequestKind::ControlOut:
      return "co";
    case emu::RequestKind::BulkIn:
      return "bi";
    case emu::RequestKind::BulkOut:
      return "bo";
    case emu::RequestKind::Descriptor:
      return "de";
  }
  return "??";
}

}  // namespace

bool TraceFile::open(const std::string& path, std::string& error) {
  file_ = std::fopen(path.c_str(), "w");
  if (file_ == nullptr) {
    error = "cannot write the trace file " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void TraceFile::write(const emu::TraceEntry& e) {
  if (file_ == nullptr) return;
  char data[2 * 8 + 2] = "-";
  for (unsigned i = 0; i < e.data_size; ++i) std::snprintf(data + 2 * i, 3, "%02x", e.data[i]);
  if (std::fprintf(file_, "%u %llu %s %02x %04x %d %u %u %d %s\n", e.connection,
                   static_cast<unsigned long long>(e.time_us), kind_name(e.kind), e.request,
                   e.index, e.reg, e.length, e.transferred, e.ok ? 1 : 0, data) < 0) {
    failed_ = true;
  }
}

bool TraceFile::close() {
  if (file_ == nullptr) return !failed_;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  return closed && !failed_;
}

}  // namespace qrx::sim
