// The data source's own windows, plain Win32: the scan dialog an application
// asks for with ShowUI (resolution, mode, brightness and contrast, the area on a
// preview of the glass, Scan, Cancel) and the progress indicator shown while the
// scanner calibrates before a scan.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qrx::twain {

class Source;

class Dialog {
 public:
  // ui_only: the settings dialog of MSG_ENABLEDSUIONLY (OK instead of Scan).
  Dialog(Source& source, bool ui_only) : source_(source), ui_only_(ui_only) {}
  ~Dialog();
  bool open(std::string& error);
  // Handles a message of the application's loop meant for the dialog.
  bool handle(MSG* message);
  void scan_finished();
  void show_error(const std::string& text);
  HWND window() const { return window_; }

 private:
  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM w, LPARAM l);
  static LRESULT CALLBACK preview_procedure(HWND window, UINT message, WPARAM w, LPARAM l);
  void command(int id);
  void apply_choices();
  void take_preview();
  void paint_preview(HDC dc);
  // The preview's pixels per inch of glass.
  double scale() const;
  void drag(int x, int y, bool done);
  void show_area();
  Source& source_;
  bool ui_only_;
  HWND window_ = nullptr, pane_ = nullptr;
  HWND resolution_ = nullptr, mode_ = nullptr, brightness_ = nullptr, contrast_ = nullptr;
  HWND area_ = nullptr, scan_ = nullptr, status_ = nullptr;
  std::vector<uint8_t> preview_;  // grey, top-down
  uint32_t preview_width_ = 0, preview_height_ = 0;
  bool dragging_ = false;
  POINT anchor_{};
};

class Progress {
 public:
  explicit Progress(HWND parent);
  ~Progress();
  // Shows the seconds waited so far; false once the user cancelled.
  bool update(double seconds);

 private:
  HWND window_ = nullptr, text_ = nullptr;
  bool cancelled_ = false;
  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM w, LPARAM l);
};

}  // namespace qrx::twain
