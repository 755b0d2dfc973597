// Vocabulary shared by the scanner's trace and fault injection: the kinds of USB
// request, a filter that selects requests, and one served request as traced.
#pragma once

#include <array>
#include <cstdint>

namespace qrx::emu {

// Any: in a filter, a request of every kind (never the kind of a served request).
enum class RequestKind : uint8_t { ControlIn, ControlOut, BulkIn, BulkOut, Descriptor, Any };

// Vendor request codes the scanner answers.
inline constexpr uint8_t kRequestRegisterRead = 0x8E;  // also the identification byte
inline constexpr uint8_t kRequestRegisterWrite = 0x83;
inline constexpr uint8_t kRequestBulkHeader = 0x82;
inline constexpr uint8_t kRequestSetting = 0x8C;
inline constexpr uint8_t kRequestWordSelect = 0x8B;
inline constexpr uint8_t kRequestWordRead = 0x8A;

// Selects requests by kind and, optionally, by request code and by register (the
// register of a register read or register write).
struct RequestFilter {
  RequestKind kind = RequestKind::ControlIn;
  int request = -1;  // -1: any request code
  int reg = -1;      // -1: any (or no) register

  bool matches(RequestKind k, uint8_t code, int register_number) const {
    return (kind == RequestKind::Any || k == kind) && (request < 0 || request == code) &&
           (reg < 0 || reg == register_number);
  }
};

struct TraceEntry {
  uint64_t time_us = 0;       // clock time when the request was served
  uint32_t connection = 0;    // the daemon's connection that sent it (from 1); 0 in-process
  RequestKind kind = RequestKind::ControlIn;
  uint8_t request = 0;        // control request code; 0 for bulk and descriptor requests
  uint16_t index = 0;
  int reg = -1;               // register read or written, else -1
  uint32_t length = 0;        // bytes asked for or offered
  uint32_t transferred = 0;   // bytes moved
  bool ok = false;
  uint8_t data_size = 0;      // bytes kept below (at most 8)
  std::array<uint8_t, 8> data{};  // first bytes sent (out) or answered (in)
};

}  // namespace qrx::emu
