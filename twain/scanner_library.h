// The scanner as the data source reaches it: QRX7730L.DLL loaded at run time
// (from beside the data source first, as the application loads the source by its
// full path and Windows would not look there for the source's own imports), its
// exports, the choice of device path, the hold that keeps a second application
// off a scanner in use, and what the scanner says it can do.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "qrx7730.h"

namespace qrx::twain {

// clang-format off
#define QRX_TWAIN_EXPORTS(X)                                                             \
  X(FindScannerEx) X(InitializeScanner) X(TerminateScanner) X(GetScannerAbilitySize)     \
  X(GetScannerAbilityXp) X(SetLamp) X(SetScanParameter) X(StartScanEx) X(ReadScan)       \
  X(StopScanEx) X(GetDataStatus) X(GetScannerStatus) X(GetCalibrationStatus)
// clang-format on

struct Exports {
#define QRX_TWAIN_MEMBER(name) decltype(&::name) name = nullptr;
  QRX_TWAIN_EXPORTS(QRX_TWAIN_MEMBER)
#undef QRX_TWAIN_MEMBER
};

// What the ability record says, in the units the data source works in.
struct Abilities {
  std::vector<uint16_t> resolutions;  // dpi, ascending
  double glass_width_in = 0, glass_length_in = 0;
};

class ScannerLibrary {
 public:
  ~ScannerLibrary();
  // Loads the DLL (once); false with a reason when it or an export is missing.
  bool load(std::string& error);
  const Exports& x() const { return exports_; }
  // The library's status code after its last call.
  uint16_t status() const;
  // Calls `call` again while it fails because the carriage is still on its way
  // home from the last scan (up to 40 s); its last result.
  template <class Call>
  bool while_moving(Call&& call) const {
    for (int poll = 0;; ++poll) {
      if (call()) return true;
      if (status() != QRX_E_CARRIAGE_MOVING || poll >= kCarriagePolls) return false;
      Sleep(kCarriagePollMs);
    }
  }
  static constexpr int kCarriagePolls = 160;
  static constexpr DWORD kCarriagePollMs = 250;

  // Takes the hold on the scanner, opens it (FindScannerEx, InitializeScanner)
  // and reads its abilities. False with a reason; `busy` when another
  // application holds it.
  bool open(std::string& error, bool& busy);
  void close();
  bool is_open() const { return open_; }
  const Abilities& abilities() const { return abilities_; }
  const std::string& device_path() const { return path_; }

 private:
  bool read_abilities(std::string& error);
  bool take_hold(const std::string& path);
  HMODULE module_ = nullptr;
  Exports exports_;
  HANDLE hold_ = nullptr;
  bool open_ = false;
  std::string path_;
  Abilities abilities_;
};

// The device paths to try, in order: QRX7730_DEVICE, then the DevicePath value
// under HKLM\SOFTWARE\Quarn\Imagent\Devices\QRX7730 (64-bit view), else the
// still-image devices \\.\Usbscan0 ... \\.\Usbscan9.
std::vector<std::string> candidate_device_paths();

// A sentence for a library status code, for the debug output and the dialog.
std::string describe_status(uint16_t status);

}  // namespace qrx::twain
