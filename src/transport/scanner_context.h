// ScannerContext: the one device context of the process. Every device operation
// takes it. It holds the driver link and everything the operations hand to each
// other: power-on results, the current scan's fields, the motor and memory map,
// shading memory, exposure values, gamma tables, and the threads and ring of a
// running scan. There is no register cache: every register access goes to the
// device.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/thread.h"
#include "transport/device_link.h"

namespace qrx::imaging {
class ImageRing;
}  // namespace qrx::imaging

namespace qrx::transport {

// LED exposure of one read: four channel bytes (R, G, B, IR), then four exposure
// times in the units of the scan programme. 12 bytes, stored as-is in shading files.
struct ExposureSet {
  std::array<uint8_t, 4> channel{};
  std::array<uint16_t, 4> exposure{};
};
static_assert(sizeof(ExposureSet) == 12, "exposure sets are stored as 12 bytes");

// A window in 2400 dpi units.
struct ScanWindow {
  uint32_t x = 0;
  uint32_t y = 0;
  uint32_t width = 0;
  uint32_t length = 0;
};

// Controller memory addresses of the slope tables and shading data of a pass.
struct MemoryMap {
  std::array<uint32_t, 5> slope_table{};
  std::array<uint32_t, 4> shading{};
};

inline constexpr size_t kShadingEntries = 65536;  // per channel: 41088 pixels at 4800 dpi fit
inline constexpr size_t kGammaEntries = 65536;
inline constexpr size_t kExpandEntries = 256;
inline constexpr size_t kAgBlockBytes = 44;

// Closes a file held by the context.
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using HeldFile = std::unique_ptr<std::FILE, FileCloser>;

struct ScannerContext {
  ScannerContext() = default;
  // Stops the image reader, waits for worker threads and closes the driver.
  ~ScannerContext();
  ScannerContext(const ScannerContext&) = delete;
  ScannerContext& operator=(const ScannerContext&) = delete;

  // --- driver link: handle, port type, device release, product id ------------
  DeviceLink link;
  // The scanner's own directory for its calibration and scan origin, inside the
  // user's temporary directory, named at open after what identifies the device;
  // empty: the temporary directory itself (a device the backend cannot tell apart).
  std::string store_name;

  // --- power-on results ------------------------------------------------------
  uint8_t board_variant = 0;  // register 0xA6 bit 4 at power-on
  // Register 0x06 bit 4 before the power-on of the latest open: the controller had
  // been set up since it last came up from power (plugged in, switched on).
  bool controller_was_set_up = false;
  // A leading 0, then the gamma memory address of each colour channel.
  std::array<uint32_t, 4> gamma_memory{};
  std::array<std::vector<uint16_t>, 3> gamma_table;   // 65536 entries each
  std::array<std::vector<uint16_t>, 3> expand_table;  // 256 entries each
  // The caller's last curves (identity after power-on): every scan start composes
  // GammaTable afresh from them, so that compositions never pile up.
  std::array<std::vector<uint16_t>, 3> caller_gamma;  // 65536 entries each
  uint32_t line_buffer_reserve = 0;
  std::array<uint32_t, 3> line_buffer_address{};  // one per colour channel
  uint32_t buffer_segment = 0;

  // --- reference values found by the first initialisation -------------------
  uint16_t reference_offset = 0;  // HomeOffset, motor steps
  uint16_t reference_aux = 0;     // HomeOffsetAux

  // --- the current scan, as set by the scan parameters ------------------------
  uint16_t scan_x_res = 0;    // resolution the sensor is read at across
  uint16_t output_x_res = 0;  // resolution asked for across
  uint16_t scan_y_res = 0;    // motor lines per inch
  uint16_t output_y_res = 0;  // resolution asked for down
  ScanWindow window;          // 2400 dpi units
  uint8_t bit_depth = 0;      // 8, 16, 24 or 48
  uint8_t color_channels = 0; // 1, 3 or 4
  uint32_t gray_from_color = 0;
  uint8_t lamp_select = 0;    // light source at the scan parameters
  uint8_t light_selection = 0;// second copy; calibration and reference reads set it too
  uint8_t film_type = 0;
  uint8_t low_res_oversample = 0;
  uint8_t ag_flag = 0;        // UseAGData as given
  uint16_t ag_in_use = 0;     // 1 when the host's AG block was taken
  std::array<uint8_t, kAgBlockBytes> ag_block{};

  // --- motor plan and memory map ----------------------------------------------
  std::array<uint8_t, 2> stored_table{};  // stored slope tables in use (acceleration, deceleration)
  MemoryMap memory_map;

  // --- scan programme ----------------------------------------------------------
  uint32_t image_line_bytes = 0;  // bytes of one line of the image window
  uint32_t read_line_bytes = 0;   // bytes of one line as the scanner delivers it
  uint16_t sensor_resolution = 0; // 600, 1200, 2400 or 4800
  uint8_t timing_code = 0;        // 10, 8, 6 or 4

  // --- shading memory -----------------------------------------------------------
  // Gain lines hold the white reference until computed, offset lines the dark
  // reference; the white copy keeps the loaded white for the per-scan recomputation.
  std::array<std::vector<uint16_t>, 4> shading_gain;    // R, G, B, IR
  std::array<std::vector<uint16_t>, 4> shading_offset;  // R, G, B, IR
  std::array<std::vector<uint16_t>, 4> shading_white;   // R, G, B, IR
  uint32_t shading_pixel_count = 0;

  // --- exposure ------------------------------------------------------------------
  // Exposures found by calibration per resolution 300..4800 dpi (R, G, B, IR).
  std::array<std::array<uint16_t, 4>, 5> exposure_cache{};
  // Set while the background calibration runs its flatbed series: each resolution
  // then starts its exposure search from the one before.
  uint32_t exposure_cache_enabled = 0;

  // --- scan start and stop ------------------------------------------------------
  std::unique_ptr<platform::Thread> calibration_thread;
  // Guards calibration_thread between the host's threads (a poll of one beside a
  // stop from another); the calibration thread itself never takes it.
  mutable std::mutex calibration_thread_lock;
  std::atomic<uint32_t> calibration_stop{0};   // asks the calibration thread to end early
  std::unique_ptr<platform::Thread> reader_thread;
  std::atomic<uint32_t> stop_reader{0};
  std::shared_ptr<imaging::ImageRing> image_ring;
  uint32_t scan_line_count = 0;               // lines of the running scan
  std::atomic<uint32_t> lines_to_read{0};     // raw lines not yet consumed
  std::array<uint32_t, 2> read_counters{};
  uint32_t vertical_above_horizontal = 0;     // ScanXRes < ScanYRes
  uint16_t scan_count = 0;                    // scans since the last calibration
  uint16_t gain_factor = 0;                   // 4.12 fixed point

  // --- read path -------------------------------------------------------------------
  // Work buffers of the line assembly: grown to a scan's line sizes at its first
  // line and kept for later scans, so that lines are not allocated one by one.
  std::vector<uint8_t> read_wrap;       // raw lines that cross the end of the ring
  std::vector<uint8_t> read_reduced;    // the line reduced from them
  std::vector<uint8_t> read_half_line;  // a line before the half-resolution widening
  // Source of 16-bit lines under the playback light (8). Nothing opens it yet, so
  // reads under that light find it empty.
  HeldFile playback_file;

  // --- lamp warm-up ----------------------------------------------------------------
  std::array<std::array<uint16_t, 9>, 3> brightness_history{};  // R, G, B; newest first

  uint8_t warm_up_attempts = 0;   // polls of the current warm-up
  uint8_t weak_light = 0;         // the light stayed below its lower limits
  uint32_t warm_up_start_ms = 0;  // tick count of the first measuring poll
  // First SetLamp refused because the motor was running, while no later one succeeded,
  // the latest such refusal, and the count of stops seen at it.
  bool lamp_refused = false;
  uint32_t lamp_refused_ms = 0;
  uint32_t lamp_last_refused_ms = 0;
  uint32_t lamp_refused_stops = 0;
  // Times this process has found the motor stopped (every wait for the carriage,
  // every light selection that found it still), from any of its threads.
  std::atomic<uint32_t> carriage_stops_seen{0};
};

}  // namespace qrx::transport
