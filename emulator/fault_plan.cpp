// Counting of requests against the injected fault rules.
#include "emulator/fault_plan.h"

namespace qrx::emu {

void FaultPlan::add_failure(const RequestFilter& filter, uint32_t nth, uint32_t count) {
  failures_.push_back({filter, nth > 0 ? nth - 1 : 0, count, false});
}

void FaultPlan::add_missing_marker(int reg, uint32_t nth, uint32_t count) {
  markers_.push_back({RequestFilter{RequestKind::ControlIn, kRequestRegisterRead, reg},
                      nth > 0 ? nth - 1 : 0, count, false});
}

bool FaultPlan::take(std::vector<Rule>& rules, RequestKind kind, uint8_t request, int reg) {
  bool hit = false;
  for (Rule& rule : rules) {
    if (rule.spent || !rule.filter.matches(kind, request, reg)) continue;
    if (rule.skip > 0) {
      --rule.skip;
      continue;
    }
    hit = true;
    if (rule.count > 0 && --rule.count == 0) rule.spent = true;
  }
  return hit;
}

bool FaultPlan::take_failure(RequestKind kind, uint8_t request, int reg) {
  return take(failures_, kind, request, reg);
}

bool FaultPlan::take_missing_marker(int reg) {
  return take(markers_, RequestKind::ControlIn, kRequestRegisterRead, reg);
}

void FaultPlan::clear() {
  failures_.clear();
  markers_.clear();
}

}  // namespace qrx::emu
