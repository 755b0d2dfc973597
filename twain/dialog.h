// The data source's own windows, plain Win32: the scan dialog an application
// asks for with ShowUI (resolution, mode, Scan, Cancel) and the progress
// indicator shown while the scanner calibrates before a transfer.
#pragma once

#include <windows.h>

#include <string>

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
  void command(int id);
  void apply_choices();
  Source& source_;
  bool ui_only_;
  HWND window_ = nullptr;
  HWND resolution_ = nullptr, mode_ = nullptr, scan_ = nullptr, status_ = nullptr;
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
