// The emulated scanner behind its USB port: the controller chip with its carriage,
// sensor and glass, answering the vendor control requests, the device descriptor and
// bulk transfers exactly as the driver library uses them. Besides the port it offers
// tests an inspection API, fault injection, a request trace and the ground truth of
// what lies on the glass. Thread-safe: every call holds one internal mutex. All time
// comes from the clock it was created with and is evaluated lazily on each call.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "emulator/options.h"
#include "emulator/requests.h"
#include "emulator/scene.h"
#include "emulator/usb_port.h"
#include "platform/clock.h"

namespace qrx::emu {

class Chip;
class FaultPlan;

struct Reflectance {
  double red = 0, green = 0, blue = 0;  // linear, 0 (black) to 1
};

class Scanner final : public UsbPort {
 public:
  // Builds a scanner from options. clock == nullptr follows the process clock
  // (platform::clock()) at every request, so a clock installed later is honoured.
  // Returns nullptr with a message in error when the document cannot be loaded.
  static std::unique_ptr<Scanner> create(const Options& options, std::string& error,
                                         platform::Clock* clock = nullptr);
  ~Scanner() override;
  Scanner(const Scanner&) = delete;
  Scanner& operator=(const Scanner&) = delete;

  // UsbPort.
  bool control_in(uint8_t request, uint16_t index, uint8_t* data, uint32_t length) override;
  bool control_out(uint8_t request, uint16_t index, const uint8_t* data, uint32_t length) override;
  bool descriptor(uint16_t& vendor_id, uint16_t& product_id, uint16_t& release) override;
  bool bulk_in(uint8_t* data, uint32_t length, uint32_t& transferred) override;
  bool bulk_out(const uint8_t* data, uint32_t length, uint32_t& transferred) override;

  static constexpr uint16_t kDeviceRelease = 0x0100;

  // ---- Inspection (each call first brings the model up to the clock's time) ----
  uint8_t peek_register(uint8_t reg);            // what a read returns, without latching
  void poke_register(uint8_t reg, uint8_t value);  // stores, without side effects
  bool peek_memory(uint32_t address, uint8_t* data, uint32_t size);
  bool poke_memory(uint32_t address, const uint8_t* data, uint32_t size);
  uint16_t afe_register(uint8_t address);        // AFE registers written via 0x51/0x3A/0x3B
  uint8_t setting(uint8_t number);               // last value of request 0x8C
  double carriage_steps();                       // full motor steps (1/1200 in) from home
  void set_carriage_steps(double steps);         // places the carriage (no pass running)
  bool motor_running();
  bool pass_active();
  bool carriage_paused();                        // waiting for room in the line buffer
  uint64_t lines_produced();                     // lines stored since creation
  uint32_t pass_lines();                         // lines stored by the current/last pass
  std::vector<int> pass_line_rows();             // glass y (2400 dpi) of each of them
  // The current/last pass's motor phase error in chip ticks (0: in phase); nullopt
  // when the pass had none to check (README: Motor phase).
  std::optional<int64_t> motor_phase_error();
  uint32_t buffered_bytes();
  uint32_t buffer_capacity();
  // Power removed and restored (registers to reset values, reg 0x06 bit 4 clear).
  void power_cycle();

  // ---- Faults ----
  // The nth (1 = next) request matching filter fails, and the count - 1 after it (count
  // 0: all from the nth on).
  void fail_request(const RequestFilter& filter, uint32_t nth, uint32_t count = 1);
  // The nth register read (of reg, or of any register when reg < 0) is answered
  // without the 0x55 marker (second byte 0x00).
  void omit_marker(uint32_t nth, int reg = -1, uint32_t count = 1);
  void stall_image_data(bool on);  // lines are still taken but no more are stored
  void jam_motor(bool on);         // the motor keeps running after every pass
  void disconnect();               // every request fails from now on
  // The nth request from now (1 = next), of any kind, finds the scanner unplugged:
  // it and every request after it fail, as after disconnect().
  void disconnect_at(uint32_t nth);
  // From the nth bulk read from now on (1 = next) the scanner sends nothing more:
  // every bulk read succeeds without moving a byte, however much is buffered.
  void stall_bulk_reads_from(uint32_t nth);
  void reconnect();                // plugged in again: a power cycle
  bool unplugged();                // a disconnect has happened (and no reconnect since)
  void press_button(int button);   // front-panel buttons 1 to 4
  void release_button(int button);
  void set_bulk_in_limit(uint32_t bytes);  // each bulk read returns at most bytes (0: no limit)
  // In every pass of exactly counts.size() lines, line i reads counts[i] higher (or
  // lower) than the glass gives, before noise and clipping: known outliers.
  void glitch_lines(std::vector<int32_t> counts);
  void clear_faults();             // all of the above except disconnect and buttons

  // Requests of a kind (RequestKind::Any: of every kind) answered or refused since
  // the scanner was created, traced or not.
  uint64_t request_count(RequestKind kind = RequestKind::Any);

  // ---- Trace of served requests ----
  std::vector<TraceEntry> trace();
  std::vector<TraceEntry> trace(const RequestFilter& filter);
  void clear_trace();
  void set_trace_capacity(size_t entries);  // oldest entries dropped; 0 turns tracing off
  // The connection the following requests come from, recorded in their entries (the
  // daemon passes its connections' requests on one at a time and names each).
  void set_connection(uint32_t connection);
  // Called with every served request as it is recorded, whatever the capacity (the
  // daemon's --trace file); under the scanner's lock, so it must not call back.
  void set_trace_sink(std::function<void(const TraceEntry&)> sink);

  // ---- Ground truth ----
  Reflectance reflectance(double glass_x, double glass_y);  // 2400 dpi units
  // The same in scan window coordinates (x, y from the scan origin).
  Reflectance document_reflectance(double x, double y);
  // The share of the film adapter's light that passes at film window (x, y) (y from
  // the reference edge, README: Film adapter): the transparency's transmittance
  // where it lies, 1 elsewhere.
  Reflectance film_transmittance(double x, double y);
  SceneLayout layout();
  double step_out_steps() const;          // where home-and-step-out leaves the carriage
  double scan_origin_steps() const;       // glass y / 2 of the scan window's y = 0
  uint16_t expected_home_offset() const;  // what the reference edge search should find
  int lead_in_units() const;              // glass x = sensor element - lead-in
  const Options& options() const { return options_; }

 private:
  Scanner(const Options& options, std::unique_ptr<Scene> scene, platform::Clock* clock);
  void advance();
  void record(TraceEntry entry, const uint8_t* data, uint32_t size);
  // Counts a request and says whether it is refused: unplugged, or an injected failure.
  bool refused(RequestKind kind, uint8_t request, int reg);
  bool serve_control_in(uint8_t request, uint16_t index, uint8_t* data, uint32_t length, int reg);
  bool serve_control_out(uint8_t request, uint16_t index, const uint8_t* data, uint32_t length);

  std::mutex mutex_;
  Options options_;
  platform::Clock* clock_;
  std::unique_ptr<Chip> chip_;
  std::unique_ptr<FaultPlan> faults_;
  bool clock_started_ = false;
  uint64_t last_raw_us_ = 0;
  uint64_t model_us_ = 0;
  bool disconnected_ = false;
  uint32_t disconnect_countdown_ = 0;  // 0: no disconnect armed
  uint32_t stall_countdown_ = 0;       // 0: no stall armed
  bool bulk_reads_stalled_ = false;
  std::array<uint64_t, 5> request_counts_{};  // by kind
  uint32_t bulk_in_limit_ = 0;
  std::deque<TraceEntry> trace_;
  size_t trace_capacity_ = 100000;
  uint32_t connection_ = 0;
  std::function<void(const TraceEntry&)> trace_sink_;
};

}  // namespace qrx::emu
