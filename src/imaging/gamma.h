// Gamma tables: the caller's per-channel tone curves (SetGamma), the 8-to-16-bit
// expansion curves derived from them by estimating each curve's exponent, and the
// stored 2.2 reference curve. 48-bit scans map every sample through GammaTable;
// the scan setup loads a 256-point version of it into the scanner for the other
// depths; ExpandTable widens 8-bit samples to 16 bits.
#pragma once

#include <array>
#include <cstdint>

#include "qrx7730.h"
#include "transport/scanner_context.h"

namespace qrx::imaging {

// Entries of the expansion curves.
inline constexpr size_t kCurvePoints = 256;

// entry i = trunc(65535 * (i / 255)^2.2), stored rather than computed.
extern const std::array<uint16_t, kCurvePoints> kReferenceCurve22;

// The exponent g of a caller's 65536-entry curve output = input^(1/g), rounded to
// two decimals; the three curves a host commonly sends are recognised by their
// entry 16384. -1.0 when no exponent between 0.1 and 10 fits.
double estimate_exponent(const uint16_t* table);

// destination[i] = trunc(65535 * (i / 255)^exponent), i = 0..255.
void generate_curve(double exponent, uint16_t* destination);

// The expansion curve of a caller's table: the stored reference curve for the
// 2.2 curve, else the curve of the estimated exponent. False (destination
// untouched) when either pointer is missing or no exponent can be estimated.
bool derive_expansion(const uint16_t* table, uint16_t* destination);

// What a caller's curve is taken under: the light selected, and whether the
// background calibration runs.
struct CurveConditions {
  uint8_t lamp_select = QRX_LAMP_NONE;
  bool calibrating = false;
};

// Takes the caller's curve for channel c (0..2): derives ExpandTable[c] first
// when the flatbed light is selected, then copies the curve into GammaTable[c] and
// keeps it as the caller's curve that every scan start composes from. While the
// background calibration runs (calibrating), GammaTable is left alone, since the
// calibration's reads load the scanner's gamma memory from it: the curve is only
// kept as the caller's, and the scan start that follows composes GammaTable from
// it. 0, or 0x9700 (nothing changed) when the expansion cannot be derived or the
// context's tables do not exist yet.
uint16_t update_gamma_channel(transport::ScannerContext& context, CurveConditions conditions,
                              const uint16_t* table, size_t channel);

// SetGamma: channel 0 updates the three channels in order, 1..3 one channel; any
// other value changes nothing. Returns the last error after the call (the last
// update's status, or last_error unchanged when nothing was updated).
uint16_t set_gamma(transport::ScannerContext& context, CurveConditions conditions,
                   const uint16_t* table, uint8_t channel, uint16_t last_error);

}  // namespace qrx::imaging
