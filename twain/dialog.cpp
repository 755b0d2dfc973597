// The scan dialog and the progress indicator (see dialog.h).
#include "dialog.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "source.h"

namespace qrx::twain {
namespace {

constexpr char kDialogClass[] = "QRX7730TwainDialog";
constexpr char kPreviewClass[] = "QRX7730TwainPreview";
constexpr char kProgressClass[] = "QRX7730TwainProgress";
enum : int {
  kResolution = 101, kMode = 102, kStatus = 103, kBrightness = 104, kContrast = 105,
  kPreview = 106, kPane = 107, kArea = 108, kScan = IDOK, kCancel = IDCANCEL
};
// The preview pane, in dialog pixels; the glass is drawn as large as fits.
constexpr int kPaneX = 12, kPaneY = 12, kPaneWidth = 250, kPaneHeight = 344;
// The trackbars run in steps of 10 of TWAIN's -1000 .. 1000.
constexpr int kToneStep = 10;
constexpr int kToneSteps = 1000 / kToneStep;

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
           int h, int id, void* param = nullptr) {
  HWND window = CreateWindowA(type, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), own_instance(),
                              param);
  SendMessageA(window, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), TRUE);
  return window;
}

HWND trackbar(HWND parent, int x, int y, int id, double value) {
  HWND bar = child(parent, TRACKBAR_CLASSA, "", TBS_HORZ | TBS_NOTICKS | WS_TABSTOP, x, y, 170, 26, id);
  // Positions from 0 (-1000) to 200 (1000): not every trackbar takes a range below 0.
  SendMessageA(bar, TBM_SETRANGE, TRUE, MAKELPARAM(0, 2 * kToneSteps));
  SendMessageA(bar, TBM_SETPOS, TRUE, static_cast<LPARAM>(std::lround(value / kToneStep) + kToneSteps));
  return bar;
}

}  // namespace

Dialog::~Dialog() {
  if (window_ != nullptr) DestroyWindow(window_);
}

bool Dialog::open(std::string& error) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  register_class(kDialogClass, &Dialog::procedure);
  register_class(kPreviewClass, &Dialog::preview_procedure);
  window_ = CreateWindowExA(WS_EX_DLGMODALFRAME, kDialogClass, "QRX7730 Flatbed - Scan",
                            WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, CW_USEDEFAULT,
                            CW_USEDEFAULT, 560, 410, source_.parent(), nullptr, own_instance(),
                            this);
  if (window_ == nullptr) {
    error = "the scan dialog could not be created";
    return false;
  }
  pane_ = child(window_, kPreviewClass, "", WS_BORDER, kPaneX, kPaneY, kPaneWidth, kPaneHeight,
                kPane, this);
  const int x = 280;
  child(window_, "STATIC", "Resolution:", 0, x, 16, 80, 20, 0);
  resolution_ = child(window_, "COMBOBOX", "", CBS_DROPDOWNLIST | WS_TABSTOP | WS_VSCROLL, x + 90,
                      12, 170, 200, kResolution);
  child(window_, "STATIC", "Mode:", 0, x, 50, 80, 20, 0);
  mode_ = child(window_, "COMBOBOX", "", CBS_DROPDOWNLIST | WS_TABSTOP, x + 90, 46, 170, 120, kMode);
  const Settings& s = source_.settings();
  child(window_, "STATIC", "Brightness:", 0, x, 86, 80, 20, 0);
  brightness_ = trackbar(window_, x + 85, 82, kBrightness, s.brightness);
  child(window_, "STATIC", "Contrast:", 0, x, 120, 80, 20, 0);
  contrast_ = trackbar(window_, x + 85, 116, kContrast, s.contrast);
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
  area_ = child(window_, "STATIC", "", 0, x, 156, 260, 36, kArea);
  show_area();
  child(window_, "BUTTON", "Preview", BS_PUSHBUTTON | WS_TABSTOP, x, 198, 90, 28, kPreview);
  status_ = child(window_, "STATIC", "Drag on the preview to choose the area.", 0, x, 236, 260, 60,
                  kStatus);
  scan_ = child(window_, "BUTTON", ui_only_ ? "OK" : "Scan", BS_DEFPUSHBUTTON | WS_TABSTOP, x + 70,
                330, 90, 28, kScan);
  child(window_, "BUTTON", "Cancel", BS_PUSHBUTTON | WS_TABSTOP, x + 170, 330, 90, 28, kCancel);
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
  s.brightness = static_cast<double>(SendMessageA(brightness_, TBM_GETPOS, 0, 0) - kToneSteps) * kToneStep;
  s.contrast = static_cast<double>(SendMessageA(contrast_, TBM_GETPOS, 0, 0) - kToneSteps) * kToneStep;
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
  } else if (id == kPreview) {
    take_preview();
  } else if (id == kCancel) {
    source_.cancel_requested();
  }
}

void Dialog::take_preview() {
  SetWindowTextA(status_, "Scanning the preview...");
  std::string error;
  if (!source_.preview(preview_, preview_width_, preview_height_, error)) {
    preview_.clear();
    SetWindowTextA(status_, ("No preview: " + error).c_str());
    return;
  }
  SetWindowTextA(status_, "Drag on the preview to choose the area.");
  InvalidateRect(pane_, nullptr, TRUE);
}

double Dialog::scale() const {
  const Abilities& a = source_.abilities();
  return std::min((kPaneWidth - 2) / a.glass_width_in, (kPaneHeight - 2) / a.glass_length_in);
}

void Dialog::paint_preview(HDC dc) {
  const Abilities& a = source_.abilities();
  const double k = scale();
  const int w = static_cast<int>(a.glass_width_in * k), h = static_cast<int>(a.glass_length_in * k);
  if (!preview_.empty()) {
    struct {
      BITMAPINFOHEADER header;
      RGBQUAD colours[256];
    } info{};
    info.header.biSize = sizeof info.header;
    info.header.biWidth = static_cast<LONG>(preview_width_);
    info.header.biHeight = -static_cast<LONG>(preview_height_);  // top-down
    info.header.biPlanes = 1;
    info.header.biBitCount = 8;
    info.header.biClrUsed = 256;
    for (int i = 0; i < 256; ++i) info.colours[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    // Rows of a DIB are padded to 4 bytes.
    const uint32_t stride = (preview_width_ + 3) / 4 * 4;
    std::vector<uint8_t> padded(size_t{stride} * preview_height_);
    for (uint32_t y = 0; y < preview_height_; ++y) {
      std::memcpy(&padded[size_t{y} * stride], &preview_[size_t{y} * preview_width_], preview_width_);
    }
    SetStretchBltMode(dc, HALFTONE);
    StretchDIBits(dc, 0, 0, w, h, 0, 0, preview_width_, preview_height_, padded.data(),
                  reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, SRCCOPY);
  } else {
    RECT glass{0, 0, w, h};
    FillRect(dc, &glass, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  }
  const Settings& s = source_.settings();
  HPEN pen = CreatePen(PS_DASH, 1, RGB(220, 0, 0));
  HGDIOBJ old_pen = SelectObject(dc, pen);
  HGDIOBJ old_brush = SelectObject(dc, GetStockObject(NULL_BRUSH));
  Rectangle(dc, static_cast<int>(s.left * k), static_cast<int>(s.top * k),
            static_cast<int>(s.right * k) + 1, static_cast<int>(s.bottom * k) + 1);
  SelectObject(dc, old_brush);
  SelectObject(dc, old_pen);
  DeleteObject(pen);
}

void Dialog::drag(int x, int y, bool done) {
  const Abilities& a = source_.abilities();
  const double k = scale();
  Settings& s = source_.settings();
  const double x0 = std::clamp(anchor_.x / k, 0.0, a.glass_width_in);
  const double y0 = std::clamp(anchor_.y / k, 0.0, a.glass_length_in);
  const double x1 = std::clamp(x / k, 0.0, a.glass_width_in);
  const double y1 = std::clamp(y / k, 0.0, a.glass_length_in);
  // A click without a drag leaves the area as it was.
  if (std::fabs(x1 - x0) * k >= 2 && std::fabs(y1 - y0) * k >= 2) {
    s.left = std::min(x0, x1);
    s.right = std::max(x0, x1);
    s.top = std::min(y0, y1);
    s.bottom = std::max(y0, y1);
    s.supported_size = TWSS_NONE;
    InvalidateRect(pane_, nullptr, TRUE);
  }
  if (done) show_area();
}

void Dialog::show_area() {
  const Settings& s = source_.settings();
  char text[128];
  std::snprintf(text, sizeof text, "Area: %.2f x %.2f in\nat %.2f, %.2f in from the corner",
                s.right - s.left, s.bottom - s.top, s.left, s.top);
  SetWindowTextA(area_, text);
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

LRESULT CALLBACK Dialog::preview_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) {
    SetWindowLongPtrA(window, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(l)->lpCreateParams));
  }
  auto* self = reinterpret_cast<Dialog*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self != nullptr) {
    const int x = GET_X_LPARAM(l), y = GET_Y_LPARAM(l);
    switch (message) {
      case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        self->paint_preview(dc);
        EndPaint(window, &paint);
        return 0;
      }
      case WM_LBUTTONDOWN:
        self->dragging_ = true;
        self->anchor_ = POINT{x, y};
        SetCapture(window);
        return 0;
      case WM_MOUSEMOVE:
        if (self->dragging_) self->drag(x, y, false);
        return 0;
      case WM_LBUTTONUP:
        if (self->dragging_) {
          self->dragging_ = false;
          ReleaseCapture();
          self->drag(x, y, true);
        }
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
