// One open scanner, what sane_open returns: the library opened on the device path
// (FindScannerEx) under the hold of device_lock.h, the options, and the scan in
// progress. The library drives one scanner per process, so a process has at most
// one handle.
//
// sane_start runs the host's sequence up to the start of the scan: the carriage
// home and the scan origin found (InitializeScanner, once per open), the source's
// light selected and ready (SetLamp, GetLampStatus), the scan described
// (SetScanParameter), the tone curves given to the library (SetGamma) and sized
// (GetDataStatus), StartScanEx; the rest of the scan runs in a ScanJob. Waiting
// for a carriage that still returns home from the previous scan, and for the
// light, can be cancelled; the debug output says what is waited for and how long.
//
// The tone curves go to the library, which has the scanner apply them, when it
// takes them: curves that never fall or never rise (what the scanner's gamma
// memory holds), or any curve at 16 bits (the library applies those itself). A
// curve the library refuses is applied by the backend to the lines it delivers,
// with the library's curves set back to the identity.
#pragma once

#include <sane/sane.h>

#include <atomic>
#include <memory>
#include <string>

#include "device_lock.h"
#include "options.h"
#include "scan_job.h"

namespace qrx::sane {

class ScannerHandle : public OptionHost {
 public:
  // Opens the scanner at the library device path.
  static SANE_Status open(const std::string& path, std::unique_ptr<ScannerHandle>& handle);
  // Stops a scan that still runs and closes the scanner (TerminateScanner).
  ~ScannerHandle() override;

  const std::string& path() const { return path_; }
  const SANE_Option_Descriptor* descriptor(SANE_Int option) const;
  SANE_Status control_option(SANE_Int option, SANE_Action action, void* value, SANE_Int* info);
  SANE_Status parameters(SANE_Parameters* parameters);
  SANE_Status start();
  SANE_Status read(SANE_Byte* data, SANE_Int max_length, SANE_Int* length);
  void cancel();
  SANE_Status set_io_mode(SANE_Bool non_blocking);
  SANE_Status select_fd(SANE_Int* fd);

  // OptionHost
  SANE_Status calibrate() override;
  SANE_Status button_pressed(int button, bool& pressed) override;

 private:
  ScannerHandle(std::string path, std::unique_ptr<DeviceLock> hold,
                std::unique_ptr<ScanOptions> options)
      : path_(std::move(path)), hold_(std::move(hold)), options_(std::move(options)) {}

  bool scanning() const;
  SANE_Status initialise();
  SANE_Status select_light(uint8_t light);
  // SetScanParameter for the options' scan.
  SANE_Status describe_scan(const ScanSettings& settings);
  // SetGamma with the options' curves; curves the backend must apply itself
  // (null when none) in host_curves.
  SANE_Status give_tone_curves(const ScanSettings& settings,
                               std::shared_ptr<const ToneCurves>& host_curves);
  // Waits ms unless a cancel comes first; false when it came.
  bool wait(int ms) const;
  // Ends the last scan's job once no cancel from another thread (or a signal
  // handler) still uses it.
  void drop_job();

  const std::string path_;
  std::unique_ptr<DeviceLock> hold_;
  std::unique_ptr<ScanOptions> options_;
  bool initialised_ = false;
  bool library_curves_ = false;  // SetGamma has left curves other than the identity
  std::unique_ptr<ScanJob> job_;
  std::atomic<ScanJob*> running_job_{nullptr};  // job_, as cancel() may see it
  std::atomic<int> cancels_{0};                 // cancel() calls under way
  std::atomic<bool> cancel_{false};
  // From a start until the front end has read the end of its data (or cancelled
  // it) the parameters are the running scan's image; otherwise the options'.
  bool scan_in_progress_ = false;
  SANE_Parameters announced_{};  // the running scan's image
  uint8_t buttons_ = 0;          // presses read but not yet asked for, bit (button - 1)
};

}  // namespace qrx::sane
