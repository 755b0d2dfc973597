// Injected faults that act on single requests: fail the n-th request that matches a
// filter (once, several times or for ever), or answer the n-th register read
// without its 0x55 marker.
#pragma once

#include <cstdint>
#include <vector>

#include "emulator/requests.h"

namespace qrx::emu {

class FaultPlan {
 public:
  // The nth (1 = next) request matching filter fails, and so do the count - 1 after it
  // (count 0: every matching request from the nth on).
  void add_failure(const RequestFilter& filter, uint32_t nth, uint32_t count);
  // Register reads (of reg, or any register when reg < 0) answered without the marker.
  void add_missing_marker(int reg, uint32_t nth, uint32_t count);
  bool take_failure(RequestKind kind, uint8_t request, int reg);
  bool take_missing_marker(int reg);
  void clear();

 private:
  struct Rule {
    RequestFilter filter;
    uint32_t skip;
    uint32_t count;  // 0: unlimited
    bool spent;
  };
  static bool take(std::vector<Rule>& rules, RequestKind kind, uint8_t request, int reg);
  std::vector<Rule> failures_;
  std::vector<Rule> markers_;
};

}  // namespace qrx::emu
