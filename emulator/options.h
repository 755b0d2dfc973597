// Options of one emulated scanner: what is plugged in and what lies on its glass.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qrx::emu {

struct Options {
  uint64_t seed = 7730;          // makes the sensor's offsets, non-uniformity and noise repeatable
  uint8_t port_type = 1;         // 1: bit 3 of the identification status byte set; 2: clear
  uint8_t board_variant = 0;     // register 0xA6 bit 4
  std::string document;          // PNG or PNM file placed at the scan origin; empty: the test chart
  bool sensor_noise = true;      // random noise on every read
  bool sensor_nonuniformity = true;  // per-pixel dark offset and response non-uniformity
  uint32_t buffer_bytes = 852 * 8192;  // the chip's line buffer (a multiple of 4, at least 4096)
  uint32_t lamp_percent = 100;   // LED strength: below 100 an aged or failing light
  // Light and sensor faults for the lamp and self-test paths (keys film-light,
  // falloff, dark, stuck-bit; see emulator/README.md):
  // the film adapter's lamp in the lid: absent (nothing lights), warming up to full
  // strength, flickering from pass to pass so that it never settles, or weak.
  enum class FilmLight { kNone, kWarm, kUnsettled, kWeak };
  FilmLight film_light = FilmLight::kNone;
  // The transparency in the film holder, under that lamp: a PNG or PNM file, its
  // values taken as transmittance; empty: the built-in slide (key film).
  std::string film_document;
  uint32_t falloff_percent = 6;  // LED light lost towards both ends of the sensor
  uint32_t dark_level = 2800;    // nominal dark output of a sensor element, 16-bit counts
  int64_t ram_stuck_bit = -1;    // RAM byte offset * 8 + bit that always reads 0; -1 none
  // The black reference mark: where it should be, missing, or so wide that it
  // darkens both columns of the edge search at once.
  enum class Mark { kStandard, kNone, kWide };
  Mark mark = Mark::kStandard;
  uint32_t mark_percent = 4;     // the mark's reflectance: 4 is black ink, more a grey mark
  // With the wide mark: its part under the edge search's second column starts this
  // many 2400 dpi units lower than the part under the first (0: both level).
  uint32_t mark_step_units = 0;
  // How many times faster than real time the in-process scanner behind "sim:" runs
  // (0.01 to 1000). Not 1: the process clock becomes a clock that runs this fast,
  // so the library's waits shrink with the scanner's work.
  double speed = 1.0;

  bool operator==(const Options&) const = default;
};

// Range of the speed factor.
inline constexpr double kMinSpeed = 0.01;
inline constexpr double kMaxSpeed = 1000.0;

// Environment variable with the options of the in-process emulator behind "sim:",
// for example QRX7730_SIM="seed=5,port-type=2,board-variant=1,document=/tmp/page.png".
inline constexpr const char* kOptionsVariable = "QRX7730_SIM";

// Parses comma-separated key=value pairs (seed, port-type, board-variant, document,
// noise, nonuniformity, buffer, lamp (percent), mark (standard, none, wide), film,
// mark-level (percent), mark-step (units), speed, and the fault keys) over
// the values already in options. False with a message
// on an unknown key or a bad value; options is then unchanged.
bool parse_options(std::string_view text, Options& options, std::string& error);

}  // namespace qrx::emu
