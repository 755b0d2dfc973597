// Gamma tables (see gamma.h).
#include "imaging/gamma.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "qrx7730.h"

namespace qrx::imaging {
namespace {

// Entry 16384 (a quarter of the input range) of the curves hosts commonly send.
constexpr size_t kQuarterInput = 16384;
constexpr uint16_t kIdentityAtQuarter = 16384;
constexpr uint16_t kGamma18AtQuarter = 30338;  // 65535 * 0.25^(1/1.8)
constexpr uint16_t kGamma22AtQuarter = 34898;  // 65535 * 0.25^(1/2.2)

constexpr double kLowestExponent = 0.1;
constexpr double kHighestExponent = 10.0;

}  // namespace

// clang-format off
const std::array<uint16_t, kCurvePoints> kReferenceCurve22 = {
    0, 0, 1, 3, 7, 11, 17, 24, 32, 41, 52, 65,
    78, 93, 110, 128, 148, 169, 192, 216, 242, 269, 298, 329,
    361, 395, 431, 468, 507, 548, 591, 635, 681, 729, 778, 829,
    882, 937, 994, 1052, 1113, 1175, 1239, 1305, 1373, 1442, 1514, 1587,
    1662, 1739, 1818, 1899, 1982, 2067, 2154, 2243, 2333, 2426, 2521, 2617,
    2716, 2817, 2919, 3024, 3130, 3239, 3350, 3462, 3577, 3694, 3813, 3934,
    4057, 4182, 4309, 4438, 4569, 4702, 4838, 4975, 5115, 5257, 5401, 5546,
    5695, 5845, 5997, 6152, 6308, 6467, 6628, 6791, 6956, 7124, 7294, 7465,
    7639, 7815, 7994, 8174, 8357, 8542, 8729, 8919, 9110, 9304, 9500, 9699,
    9899, 10102, 10307, 10514, 10724, 10935, 11150, 11366, 11584, 11805, 12028, 12254,
    12481, 12711, 12944, 13178, 13415, 13654, 13896, 14140, 14386, 14634, 14885, 15138,
    15393, 15651, 15911, 16174, 16438, 16705, 16975, 17247, 17521, 17797, 18076, 18357,
    18641, 18927, 19215, 19506, 19799, 20095, 20393, 20693, 20996, 21301, 21608, 21918,
    22231, 22545, 22862, 23182, 23504, 23828, 24155, 24484, 24816, 25150, 25487, 25826,
    26167, 26511, 26857, 27206, 27557, 27911, 28267, 28626, 28987, 29351, 29717, 30085,
    30456, 30830, 31206, 31584, 31965, 32349, 32735, 33123, 33514, 33907, 34303, 34702,
    35103, 35506, 35912, 36321, 36732, 37145, 37561, 37980, 38401, 38825, 39251, 39680,
    40111, 40545, 40981, 41420, 41862, 42306, 42753, 43202, 43653, 44108, 44565, 45024,
    45486, 45951, 46418, 46888, 47360, 47835, 48312, 48792, 49275, 49760, 50248, 50738,
    51232, 51727, 52225, 52726, 53230, 53736, 54245, 54756, 55270, 55786, 56305, 56827,
    57352, 57879, 58408, 58941, 59476, 60013, 60553, 61096, 61642, 62190, 62741, 63294,
    63850, 64409, 64970, 65535,
};
// clang-format on

double estimate_exponent(const uint16_t* table) {
  switch (table[kQuarterInput]) {
    case kIdentityAtQuarter:
      return 1.0;
    case kGamma18AtQuarter:
      return 1.8;
    case kGamma22AtQuarter:
      return 2.2;
    default:
      break;
  }
  // The input where the curve departs furthest from the identity (the first on
  // ties) says most about its exponent.
  size_t at = 0;
  int largest = 0;
  for (size_t i = 0; i < transport::kGammaEntries; ++i) {
    const int difference = std::abs(static_cast<int>(table[i]) - static_cast<int>(i));
    if (difference > largest) {
      largest = difference;
      at = i;
    }
  }
  if (largest == 0) return 1.0;
  const double y = table[at] / 65535.0;
  const double x = static_cast<double>(at) / 65535.0;
  if (y == 0.0 || x == 0.0 || std::log(x) == 0.0) return -1.0;
  const double g = std::floor(100.0 / (std::log(y) / std::log(x)) + 0.5) / 100.0;
  if (g < kLowestExponent || g > kHighestExponent) return -1.0;
  return g;
}

void generate_curve(double exponent, uint16_t* destination) {
  for (size_t i = 0; i < kCurvePoints; ++i) {
    const double fraction = static_cast<double>(i) / static_cast<double>(kCurvePoints - 1);
    destination[i] = static_cast<uint16_t>(65535.0 * std::pow(fraction, exponent));
  }
}

bool derive_expansion(const uint16_t* table, uint16_t* destination) {
  if (table == nullptr || destination == nullptr) return false;
  if (table[kQuarterInput] == kGamma22AtQuarter) {
    std::copy(kReferenceCurve22.begin(), kReferenceCurve22.end(), destination);
    return true;
  }
  const double g = estimate_exponent(table);
  if (g <= 0.0) return false;
  generate_curve(g, destination);
  return true;
}

uint16_t update_gamma_channel(transport::ScannerContext& context, CurveConditions conditions,
                              const uint16_t* table, size_t channel) {
  std::vector<uint16_t>& gamma = context.gamma_table[channel];
  std::vector<uint16_t>& caller = context.caller_gamma[channel];
  std::vector<uint16_t>& expand = context.expand_table[channel];
  // The tables come with the power-on; before it there is nothing to update.
  if (table == nullptr || gamma.size() != transport::kGammaEntries ||
      caller.size() != transport::kGammaEntries) {
    return QRX_E_PARAMETER;
  }
  if (conditions.lamp_select == QRX_LAMP_FLATBED) {
    const bool expand_ready = expand.size() == transport::kExpandEntries;
    if (!derive_expansion(table, expand_ready ? expand.data() : nullptr)) return QRX_E_PARAMETER;
  }
  if (!conditions.calibrating) std::copy(table, table + transport::kGammaEntries, gamma.begin());
  std::copy(table, table + transport::kGammaEntries, caller.begin());
  return QRX_OK;
}

uint16_t set_gamma(transport::ScannerContext& context, CurveConditions conditions,
                   const uint16_t* table, uint8_t channel, uint16_t last_error) {
  if (channel == 0) {
    for (size_t c = 0; c < 3; ++c) last_error = update_gamma_channel(context, conditions, table, c);
    return last_error;
  }
  if (channel <= 3) return update_gamma_channel(context, conditions, table, channel - 1u);
  return last_error;
}

}  // namespace qrx::imaging
