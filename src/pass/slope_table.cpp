// Slope-table generation and upload.
#include "pass/slope_table.h"

#include <algorithm>
#include <cmath>

#include "platform/memory.h"
#include "qrx7730.h"
#include "transport/registers.h"

namespace qrx::pass {
namespace {

// Step rate below which the motor starts and stops without a ramp (steps/s).
constexpr uint32_t kRampRate = 400;
// Start step time at full steps, in ticks of 8/30 us: 2500 us, 400 steps/s.
constexpr uint32_t kStartTicks = 9375;

uint32_t entries_of(const MotorPlan& plan, int slot) {
  const uint32_t n = static_cast<uint32_t>(plan.slots[slot].steps) << plan.step_mode;
  return std::min(n, kSlotEntries);  // a slot never spills into the next one
}

void raise_divider(MotorPlan& plan, uint32_t value) {
  plan.step_divider = std::max(plan.step_divider, step_divider(value));
}

}  // namespace

void generate_slope_table(MotorPlan& plan, int slot, std::vector<uint16_t>& table) {
  const uint32_t n = entries_of(plan, slot);
  const uint32_t m = 1u << plan.step_mode;
  uint64_t period = plan.line_period;
  if (plan.vertical_multiplier >= 2) period *= plan.vertical_multiplier;
  const uint64_t product = period * plan.motor_lines;  // 64 bits: never wraps
  const bool decelerate = plan.slots[slot].decelerate != 0;

  // Target step time in microseconds and the step rate it gives.
  const uint64_t q = (product / 1200) * 8 / 30;
  const uint64_t rate = q == 0 ? UINT64_MAX : 1000000 / q;
  const uint32_t vs = kStartTicks / m;
  const uint32_t vt = static_cast<uint32_t>(static_cast<double>(product) / 1200.0 / m);
  table.assign(n, 0);

  if (!(rate > kRampRate && n >= 16)) {
    raise_divider(plan, vt);
    std::fill(table.begin(), table.end(), static_cast<uint16_t>(vt / plan.step_divider));
    return;
  }
  uint32_t h = 0;
  double delta = (static_cast<double>(vs) - vt) / n;
  if (!decelerate && n > 16) {
    h = 8;
    raise_divider(plan, vs);
    for (uint32_t i = 0; i < h; ++i) table[i] = static_cast<uint16_t>(vs / plan.step_divider);
    delta = (static_cast<double>(vs) - vt) / (n - 8);
  }
  const uint32_t span = n - h;
  for (uint32_t i = 0; i < span; ++i) {
    const double share = std::pow(static_cast<double>(i) / span, 1.0);
    const uint16_t drop = static_cast<uint16_t>(static_cast<int64_t>(delta * span * share));
    uint32_t v = vs >= drop ? vs - drop : 0;
    if (v <= vt) v = vt;
    if (i == 0 && (decelerate || n <= 16)) raise_divider(plan, v);
    const uint32_t value = (i + 2 >= span) ? vt : v;  // the last two entries hold the target
    table[h + i] = static_cast<uint16_t>(value / plan.step_divider);
  }
}

uint16_t build_slope_table(const transport::ScannerContext& context,
                           const settings::ScannerSetting& setting, int slot, MotorPlan& plan,
                           std::vector<uint16_t>& table) {
  const uint32_t n = entries_of(plan, slot);
  if (!platform::try_resize(table, n)) return QRX_E_NOMEM_SLOPE;
  const bool decelerate = plan.slots[slot].decelerate != 0;
  const uint8_t stored = context.stored_table[decelerate ? 1 : 0];
  const uint16_t* source = stored != 0 ? setting.motor_table(stored - 1) : nullptr;
  if (source != nullptr) {
    const uint32_t copied = std::min<uint32_t>(n, settings::kMotorTableEntries);
    std::copy(source, source + copied, table.begin());
    // A stored table shorter than the ramp asks for ends in zeros: a step time of
    // zero would drive the motor without limit, so the last real step time holds.
    uint16_t last = 0;
    for (uint32_t i = 0; i < n; ++i) {
      if (table[i] == 0) {
        table[i] = last;
      } else {
        last = table[i];
      }
    }
  } else {
    generate_slope_table(plan, slot, table);
  }

  if (!decelerate && n > 0) {
    const uint32_t start_limit = setting.MOTOR_START_SPEED();
    if (static_cast<uint64_t>(plan.step_divider) * table[0] < start_limit) {
      const uint8_t k = step_divider(start_limit);
      if (plan.step_divider < k) {
        const uint32_t by = k / plan.step_divider;
        for (uint16_t& entry : table) entry = static_cast<uint16_t>(entry / by);
        plan.step_divider = k;
      }
      table[0] = static_cast<uint16_t>(start_limit / plan.step_divider);
    }
  }

  uint32_t sum = 0;
  for (uint16_t entry : table) sum += entry;
  plan.slots[slot].table_sum = sum;
  plan.slots[slot].last_step_time = n > 0 ? table[n - 1] : 0;
  return QRX_OK;
}

uint16_t load_slope_table(transport::ScannerContext& context,
                          const settings::ScannerSetting& setting, int slot, MotorPlan& plan) {
  std::vector<uint16_t> table;
  const uint16_t status = build_slope_table(context, setting, slot, plan, table);
  if (status != QRX_OK) return status;
  const uint32_t n = static_cast<uint32_t>(table.size());
  std::vector<uint8_t> bytes;
  if (!platform::try_resize(bytes, 2 * static_cast<size_t>(n))) return QRX_E_NOMEM_SLOPE;
  for (uint32_t i = 0; i < n; ++i) {
    bytes[2 * i] = static_cast<uint8_t>(table[i]);
    bytes[2 * i + 1] = static_cast<uint8_t>(table[i] >> 8);
  }
  static constexpr uint16_t kSlotCodes[5] = {QRX_E_MOTOR_SLOT0, QRX_E_MOTOR_SLOT1,
                                             QRX_E_MOTOR_SLOT2, QRX_E_MOTOR_SLOT3,
                                             QRX_E_MOTOR_SLOT4};
  const bool written = transport::write_memory(context.link, context.memory_map.slope_table[slot],
                                               bytes.data(), static_cast<uint32_t>(bytes.size()));
  return written ? uint16_t{QRX_OK} : kSlotCodes[slot];
}

}  // namespace qrx::pass
