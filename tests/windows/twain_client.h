// The application's side of a TWAIN session for the data source's tests: the
// source loaded from a path, the source manager's part played here (the memory
// functions of DAT_ENTRYPOINT, DAT_NULL messages caught), triplets sent as an
// application sends them, capability containers read back, and the three
// transfers turned into one image with their headers checked.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "../../twain/twain_api.h"

namespace qrx::wintest {

// An image as transferred: samples top-down, RGB order, 8 or 16 bits as numbers.
struct Picture {
  uint32_t width = 0, height = 0;
  int channels = 0, depth = 0;
  std::vector<double> samples;  // 0..1, row by row, channels interleaved
  double at(uint32_t x, uint32_t y, int c) const {
    return samples[(size_t{y} * width + x) * channels + c];
  }
};

class TwainClient {
 public:
  // Loads the data source; fails the test when it or DS_Entry is missing.
  explicit TwainClient(const std::string& ds_path);
  ~TwainClient();

  TW_UINT16 call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data);
  // DAT_STATUS after a call.
  TW_UINT16 condition();
  // A call that must return `rc` (and, on failure, condition `cc`).
  void expect(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data, TW_UINT16 rc,
              TW_UINT16 cc, const char* what);

  void open();   // DAT_ENTRYPOINT, then MSG_OPENDS
  void close();  // MSG_CLOSEDS
  // Capabilities.
  TW_UINT16 set_one(TW_UINT16 cap, TW_UINT16 type, double value);
  TW_UINT16 set_fix32(TW_UINT16 cap, double value) { return set_one(cap, TWTY_FIX32, value); }
  double get_current(TW_UINT16 cap);
  // MSG_GET: the container type and its values (enumeration items, or the
  // range's min, max, step, default, current; a one-value's single item).
  TW_UINT16 get(TW_UINT16 cap, std::vector<double>& values, double* current = nullptr);
  TW_UINT16 set_frame(double left, double top, double right, double bottom);

  // Enables without UI and waits for MSG_XFERREADY through DAT_EVENT.
  void enable_without_ui();
  TW_IMAGEINFO image_info();
  // The transfers (state 6 to 7 and back after MSG_ENDXFER); each checks the
  // headers it is given and returns the image.
  Picture native_transfer(const TW_IMAGEINFO& info);
  Picture memory_transfer(const TW_IMAGEINFO& info, uint32_t buffer_bytes);
  Picture file_transfer(const TW_IMAGEINFO& info, const std::string& file);
  void end_transfer(TW_UINT16 expected_count = 0);
  void disable();

  // DAT_NULL messages the source sent through the source manager.
  const std::vector<TW_UINT16>& callbacks() const { return callbacks_; }
  void clear_callbacks() { callbacks_.clear(); }
  HWND window() const { return window_; }
  TW_IDENTITY& app() { return app_; }

 private:
  static TW_UINT16 PASCAL manager_entry(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg,
                                         TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
  HMODULE module_ = nullptr;
  DSENTRYPROC entry_ = nullptr;
  TW_IDENTITY app_{};
  TW_IDENTITY source_{};
  HWND window_ = nullptr;
  std::vector<TW_UINT16> callbacks_;
  static TwainClient* current_;
};

// Turns a DIB (BITMAPINFOHEADER onwards) into a picture, checking its header,
// colour table and stride against the image information.
Picture decode_dib(const uint8_t* dib, size_t size, const TW_IMAGEINFO& info);

}  // namespace qrx::wintest
