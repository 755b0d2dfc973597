// The film adapter's lamps in the lid: continuous lights (not pulsed like the LEDs)
// that shine through the transparency in the holder (or the clear glass beside it)
// onto the whole sensor line once the carriage stands under the film area. The
// visible lamp starts at 30 % of its strength when struck cold and brightens as it
// warms; switched off it cools slowly, so a short break (a carriage move) barely
// dims it. The infrared lamp beside it (a row of diodes) is at full strength at
// once and lights only the fourth, infrared channel of a four-channel read. Their
// kind comes from the options: absent, warm, unsettled (the visible output jumps
// from one pass to the next) or weak.
#pragma once

#include <cstdint>

#include "emulator/options.h"

namespace qrx::emu {

// The film area begins this far from the home position (glass y, 2400 dpi units);
// beyond it the lit film lamp reaches the sensor.
inline constexpr int kFilmAreaTopUnits = 3200;

class FilmLamp {
 public:
  explicit FilmLamp(Options::FilmLight kind) : kind_(kind) {}

  // The visible film lamp (register 0x03 bits 5..4 both set) is lit or not from
  // chip time t on.
  void set_lit(bool lit, uint64_t t);
  // A pass started: the unsettled lamp jumps to its other level.
  void pass_started() {
    if (lit_) ++passes_;
  }
  // Counts the lamp adds to a sensor element's 16-bit output at chip time t (not
  // before the last set_lit): 0 while off or when there is no film adapter.
  float counts(uint64_t t) const;
  // Counts the infrared lamp adds to an element's infrared sample while it is lit
  // (register 0x6C bit 7): 0 when there is no film adapter.
  float infrared_counts() const;

 private:
  // How warm the lamp is at time t, 0 (cold) to 1.
  double warmth(uint64_t t) const;

  Options::FilmLight kind_;
  bool lit_ = false;
  double warmth_ = 0;   // at since_
  uint64_t since_ = 0;  // chip time of the last switch
  uint32_t passes_ = 0;
};

}  // namespace qrx::emu
