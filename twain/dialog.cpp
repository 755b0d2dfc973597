// The scan dialog and the progress indicator (see dialog.h).
#include "dialog.h"

#include <cstdio>

#include "source.h"

namespace qrx::twain {
namespace {

constexpr char kDialogClass[] = "QRX7730TwainDialog";
constexpr char kProgressClass[] = "QRX7730TwainProgress";
enum : int { kResolution = 101, kMode = 102, kScan = IDOK, kCancel = IDCANCEL, kStatus = 103 };

HINSTANCE own_instance() {
  HMODULE self = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&own_instance), &self);
  return self;
}

void register_class(const char* name, WNDPROC procedure) {
  WNDCLASSA c{};
  if (GetClassInfoA(own_instance(), name, &c)) return;
  c.lpfnWndProc = procedure;
  c.hInstance = own_instance();
  c.hCursor = LoadCursor(nullptr, IDC_ARROW);
  c.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  c.lpszClassName = name;
  RegisterClassA(&c);
}

HWND child(HWND parent, const char* type, const char* text, DWORD style, int x, int y, int w,
           int h, int id) {
  HWND window = CreateWindowA(type, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), own_instance(),
                              nullptr);
  SendMessageA(window, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), TRUE);
  return window;
}

}  // namespace

Dialog::~Dialog() {
  if (window_ != nullptr) DestroyWindow(window_);
}

bool Dialog::open(std::string& error) {
  register_class(kDialogClass, &Dialog::procedure);
  window_ = CreateWindowExA(WS_EX_DLGMODALFRAME, kDialogClass, "QRX7730 Flatbed - Scan",
                            WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, CW_USEDEFAULT,
                            CW_USEDEFAULT, 360, 260, source_.parent(), nullptr, own_instance(),
                            this);
  if (window_ == nullptr) {
    error = "the scan dialog could not be created";
    return false;
  }
  child(window_, "STATIC", "Resolution:", 0, 12, 16, 90, 20, 0);
  resolution_ = child(window_, "COMBOBOX", "", CBS_DROPDOWNLIST | WS_TABSTOP | WS_VSCROLL, 110, 12,
                      120, 200, kResolution);
  child(window_, "STATIC", "Mode:", 0, 12, 50, 90, 20, 0);
  mode_ = child(window_, "COMBOBOX", "", CBS_DROPDOWNLIST | WS_TABSTOP, 110, 46, 120, 120, kMode);
  const Settings& s = source_.settings();
  int selected = 0, index = 0;
  for (uint16_t dpi : source_.abilities().resolutions) {
    char text[16];
    std::snprintf(text, sizeof text, "%u dpi", dpi);
    SendMessageA(resolution_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    SendMessageA(resolution_, CB_SETITEMDATA, index, dpi);
    if (dpi == s.resolution) selected = index;
    ++index;
  }
  SendMessageA(resolution_, CB_SETCURSEL, selected, 0);
  for (const char* mode : {"Black and white", "Grey", "Colour"}) {
    SendMessageA(mode_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(mode));
  }
  SendMessageA(mode_, CB_SETCURSEL, s.pixel_type, 0);
  char area[96];
  std::snprintf(area, sizeof area, "Area: %.2f x %.2f in from the corner of the glass",
                s.right - s.left, s.bottom - s.top);
  child(window_, "STATIC", area, 0, 12, 86, 330, 20, 0);
  status_ = child(window_, "STATIC", "", 0, 12, 116, 330, 40, kStatus);
  scan_ = child(window_, "BUTTON", ui_only_ ? "OK" : "Scan", BS_DEFPUSHBUTTON | WS_TABSTOP, 150,
                180, 90, 28, kScan);
  child(window_, "BUTTON", "Cancel", BS_PUSHBUTTON | WS_TABSTOP, 250, 180, 90, 28, kCancel);
  ShowWindow(window_, SW_SHOW);
  UpdateWindow(window_);
  return true;
}

bool Dialog::handle(MSG* message) {
  if (window_ == nullptr || message == nullptr) return false;
  if (message->hwnd != window_ && !IsChild(window_, message->hwnd)) return false;
  if (!IsDialogMessageA(window_, message)) {
    TranslateMessage(message);
    DispatchMessageA(message);
  }
  return true;
}

void Dialog::apply_choices() {
  Settings& s = source_.settings();
  const LRESULT r = SendMessageA(resolution_, CB_GETCURSEL, 0, 0);
  if (r != CB_ERR) s.resolution = static_cast<uint16_t>(SendMessageA(resolution_, CB_GETITEMDATA, r, 0));
  const LRESULT m = SendMessageA(mode_, CB_GETCURSEL, 0, 0);
  if (m != CB_ERR) {
    s.pixel_type = static_cast<TW_UINT16>(m);
    if (s.pixel_type == TWPT_BW) s.bit_depth = 1;
    else if (s.bit_depth == 1) s.bit_depth = 8;
  }
}

void Dialog::command(int id) {
  if (id == kScan) {
    apply_choices();
    if (ui_only_) {
      source_.ok_requested();
      return;
    }
    SetWindowTextA(status_, "Scanning...");
    EnableWindow(scan_, FALSE);
    if (!source_.scan_requested()) EnableWindow(scan_, TRUE);
  } else if (id == kCancel) {
    source_.cancel_requested();
  }
}

void Dialog::scan_finished() {
  if (window_ == nullptr) return;
  SetWindowTextA(status_, "Done.");
  EnableWindow(scan_, TRUE);
}

void Dialog::show_error(const std::string& text) {
  if (window_ == nullptr) return;
  SetWindowTextA(status_, text.c_str());
  EnableWindow(scan_, TRUE);
}

LRESULT CALLBACK Dialog::procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) {
    SetWindowLongPtrA(window, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(l)->lpCreateParams));
  }
  auto* self = reinterpret_cast<Dialog*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self != nullptr) {
    if (message == WM_COMMAND && HIWORD(w) == BN_CLICKED) {
      self->command(LOWORD(w));
      return 0;
    }
    if (message == WM_CLOSE) {
      self->command(kCancel);
      return 0;
    }
  }
  return DefWindowProcA(window, message, w, l);
}

Progress::Progress(HWND parent) {
  register_class(kProgressClass, &Progress::procedure);
  window_ = CreateWindowExA(WS_EX_TOOLWINDOW, kProgressClass, "QRX7730 Flatbed",
                            WS_POPUP | WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT, CW_USEDEFAULT, 340,
                            110, parent, nullptr, own_instance(), this);
  if (window_ == nullptr) return;
  text_ = child(window_, "STATIC", "Preparing the scanner...", 0, 12, 16, 310, 40, 0);
}

Progress::~Progress() {
  if (window_ != nullptr) DestroyWindow(window_);
}

bool Progress::update(double seconds) {
  if (window_ == nullptr) return true;
  // Shown only once the wait is long enough to notice (the first scan calibrates).
  if (seconds >= 1 && !IsWindowVisible(window_)) ShowWindow(window_, SW_SHOWNOACTIVATE);
  char text[128];
  std::snprintf(text, sizeof text,
                "The scanner is calibrating (%.0f s). The first scan at a resolution takes a "
                "few minutes.",
                seconds);
  SetWindowTextA(text_, text);
  MSG message;
  while (PeekMessageA(&message, window_, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  return !cancelled_;
}

LRESULT CALLBACK Progress::procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) {
    SetWindowLongPtrA(window, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(l)->lpCreateParams));
  }
  auto* self = reinterpret_cast<Progress*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (message == WM_CLOSE && self != nullptr) {
    self->cancelled_ = true;
    return 0;
  }
  return DefWindowProcA(window, message, w, l);
}

}  // namespace qrx::twain
