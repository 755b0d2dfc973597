// The data source's own dialog, as an application that asks for it sees it: it
// opens on MSG_ENABLEDS with ShowUI, is captured to a BMP file, its choices are
// made and Scan pressed through window messages, the image arrives through
// DAT_EVENT, and Cancel asks the application to close the source.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "harness.h"
#include "twain_chart.h"
#include "twain_client.h"
#include "twain_tests.h"

namespace qrx::wintest {
namespace {

// Passes the application's messages to the source for `ms` and returns the
// first message the source has for the application (MSG_NULL when none came).
TW_UINT16 pump(TwainClient& app, DWORD ms) {
  const DWORD started = GetTickCount();
  while (GetTickCount() - started < ms) {
    MSG message;
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      Sleep(10);
      continue;
    }
    TW_EVENT event{};
    event.pEvent = &message;
    const TW_UINT16 rc = app.call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
    if (rc == TWRC_NOTDSEVENT) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    if (event.TWMessage != MSG_NULL) return event.TWMessage;
  }
  return MSG_NULL;
}

// The window's pixels as the screen shows them, written as a 24-bit BMP file.
void screenshot(HWND window, const std::string& path) {
  RECT r;
  GetWindowRect(window, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  CHECK(bitmap != nullptr, "a bitmap for the screenshot");
  HGDIOBJ old = SelectObject(memory, bitmap);
  CHECK(BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY), "BitBlt of the dialog");
  GdiFlush();
  const uint32_t stride = (w * 3 + 3) / 4 * 4;
  BITMAPFILEHEADER fh{};
  fh.bfType = 0x4D42;
  fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
  fh.bfSize = fh.bfOffBits + stride * h;
  FILE* f = std::fopen(path.c_str(), "wb");
  CHECK(f != nullptr, "the screenshot file %s", path.c_str());
  std::fwrite(&fh, sizeof fh, 1, f);
  std::fwrite(&bi.bmiHeader, sizeof bi.bmiHeader, 1, f);
  std::fwrite(bits, stride * h, 1, f);
  std::fclose(f);
  // A dialog drawn on the screen is not one colour.
  const auto* p = static_cast<const uint8_t*>(bits);
  bool varied = false;
  for (size_t i = 3; i < size_t{stride} * h && !varied; ++i) varied = p[i] != p[0];
  CHECK(varied, "the screenshot shows the dialog (it is all one colour)");
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  note("dialog screenshot %dx%d written to %s", w, h, path.c_str());
}

HWND find_child(HWND dialog, int id) { return GetDlgItem(dialog, id); }

}  // namespace

void check_dialog(const std::string& ds, const std::string& shot) {
  TwainClient app(ds);
  app.open();
  TW_USERINTERFACE ui{};
  ui.ShowUI = TRUE;
  ui.hParent = app.window();
  app.expect(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui, TWRC_SUCCESS, 0, "MSG_ENABLEDS with UI");
  HWND dialog = FindWindowA("QRX7730TwainDialog", nullptr);
  CHECK(dialog != nullptr && IsWindowVisible(dialog), "the scan dialog is shown");
  // State 5 with the dialog up: no image yet.
  TW_IMAGEINFO info{};
  app.expect(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info, TWRC_FAILURE, TWCC_SEQERROR, "state 5: DAT_IMAGEINFO");
  TW_HANDLE none = nullptr;
  app.expect(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &none, TWRC_FAILURE, TWCC_SEQERROR,
             "state 5: a native transfer");
  CHECK(pump(app, 1000) == MSG_NULL, "the dialog waits for the user");
  // Preview: a quick scan of the whole glass into the pane.
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(106, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, 106)));
  CHECK(pump(app, 1500) == MSG_NULL, "a preview is no image for the application");
  char status[256] = {};
  GetDlgItemTextA(dialog, 103, status, sizeof status);
  CHECK(std::strncmp(status, "No preview", 10) != 0, "the preview was scanned: %s", status);
  // The user drags the area on the preview over the grey ramp and the colour
  // patches (the pane draws the glass from its top left corner).
  HWND pane = GetDlgItem(dialog, 107);
  CHECK(pane != nullptr, "the preview pane");
  RECT inside;
  GetClientRect(pane, &inside);
  const double per_inch = std::min((inside.right + 0.0) / 8.5067, (inside.bottom + 0.0) / 11.6933);
  const int x0 = static_cast<int>(0.45 * per_inch + 0.5), y0 = static_cast<int>(0.45 * per_inch + 0.5);
  const int x1 = static_cast<int>(3.0 * per_inch + 0.5), y1 = static_cast<int>(2.0 * per_inch + 0.5);
  SendMessageA(pane, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x0, y0));
  SendMessageA(pane, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM((x0 + x1) / 2, (y0 + y1) / 2));
  SendMessageA(pane, WM_LBUTTONUP, 0, MAKELPARAM(x1, y1));
  pump(app, 500);
  screenshot(dialog, shot);
  // The user picks 75 dpi (the first resolution) and grey, and presses Scan.
  HWND resolution = find_child(dialog, 101), mode = find_child(dialog, 102);
  CHECK(resolution != nullptr && mode != nullptr, "the dialog's resolution and mode lists");
  const LRESULT count = SendMessageA(resolution, CB_GETCOUNT, 0, 0);
  int chosen = -1;
  for (LRESULT i = 0; i < count; ++i) {
    if (SendMessageA(resolution, CB_GETITEMDATA, i, 0) == 300) chosen = static_cast<int>(i);
  }
  CHECK(chosen >= 0, "300 dpi is offered");
  SendMessageA(resolution, CB_SETCURSEL, chosen, 0);
  SendMessageA(mode, CB_SETCURSEL, 1, 0);
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
  CHECK(pump(app, 30000) == MSG_XFERREADY, "Scan brings MSG_XFERREADY through DAT_EVENT");
  info = app.image_info();
  CHECK(info.PixelType == TWPT_GRAY && info.XResolution.Whole == 300 && info.BitsPerPixel == 8,
        "the dialog's choices: pixel type %d at %d dpi, %d bits", info.PixelType,
        info.XResolution.Whole, info.BitsPerPixel);
  TW_IMAGELAYOUT layout{};
  app.expect(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &layout, TWRC_SUCCESS, 0, "DAT_IMAGELAYOUT");
  auto inches = [](TW_FIX32 f) { return f.Whole + f.Frac / 65536.0; };
  const Frame frame{inches(layout.Frame.Left), inches(layout.Frame.Top), inches(layout.Frame.Right),
                    inches(layout.Frame.Bottom)};
  // The dragged area, to a pixel of the pane.
  const double slack = 1.0 / per_inch;
  CHECK(std::fabs(frame.left - 0.45) <= slack && std::fabs(frame.top - 0.45) <= slack &&
            std::fabs(frame.right - 3.0) <= slack && std::fabs(frame.bottom - 2.0) <= slack,
        "the dragged area: %.3f, %.3f to %.3f, %.3f in", frame.left, frame.top, frame.right, frame.bottom);
  const Picture p = app.native_transfer(info);
  app.end_transfer(0);
  CHECK(std::fabs(p.width - (frame.right - frame.left) * 300) <= 1 &&
            std::fabs(p.height - (frame.bottom - frame.top) * 300) <= 1,
        "an image of %u x %u pixels for the area", p.width, p.height);
  const ChartFit fit = fit_chart(p, frame, 300, 2);
  CHECK(fit.correlation >= 0.99 && std::abs(fit.dx) <= 1 && std::abs(fit.dy) <= 1,
        "the dialog's scan: correlation %.4f at (%d, %d)", fit.correlation, fit.dx, fit.dy);
  note("the dialog's scan of %.2f x %.2f in: %ux%u grey, correlation %.4f", frame.right - frame.left,
       frame.bottom - frame.top, p.width, p.height, fit.correlation);
  // Cancel asks the application to close the source.
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
  CHECK(pump(app, 10000) == MSG_CLOSEDSREQ, "Cancel brings MSG_CLOSEDSREQ");
  app.disable();
  CHECK(FindWindowA("QRX7730TwainDialog", nullptr) == nullptr, "the dialog is gone");
  app.close();
}

}  // namespace qrx::wintest
