// The data source's own dialog, as an application that asks for it sees it: it
// opens on MSG_ENABLEDS with ShowUI, is captured to a BMP file, its choices are
// made and Scan pressed through window messages, the image arrives through
// DAT_EVENT, and Cancel asks the application to close the source.
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
  CHECK(pump(app, 1500) == MSG_NULL, "the dialog waits for the user");
  screenshot(dialog, shot);
  // The user picks 75 dpi (the first resolution) and grey, and presses Scan.
  HWND resolution = find_child(dialog, 101), mode = find_child(dialog, 102);
  CHECK(resolution != nullptr && mode != nullptr, "the dialog's resolution and mode lists");
  const LRESULT count = SendMessageA(resolution, CB_GETCOUNT, 0, 0);
  int chosen = -1;
  for (LRESULT i = 0; i < count; ++i) {
    if (SendMessageA(resolution, CB_GETITEMDATA, i, 0) == 75) chosen = static_cast<int>(i);
  }
  CHECK(chosen >= 0, "75 dpi is offered");
  SendMessageA(resolution, CB_SETCURSEL, chosen, 0);
  SendMessageA(mode, CB_SETCURSEL, 1, 0);
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
  CHECK(pump(app, 30000) == MSG_XFERREADY, "Scan brings MSG_XFERREADY through DAT_EVENT");
  info = app.image_info();
  CHECK(info.PixelType == TWPT_GRAY && info.XResolution.Whole == 75 && info.BitsPerPixel == 8,
        "the dialog's choices: pixel type %d at %d dpi, %d bits", info.PixelType,
        info.XResolution.Whole, info.BitsPerPixel);
  const Picture p = app.native_transfer(info);
  app.end_transfer(0);
  TW_IMAGELAYOUT layout{};
  app.expect(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &layout, TWRC_SUCCESS, 0, "DAT_IMAGELAYOUT");
  CHECK(layout.Frame.Left.Whole == 0 && layout.Frame.Top.Whole == 0 && layout.Frame.Right.Whole == 8 &&
            layout.Frame.Bottom.Whole == 11,
        "the dialog scans the whole glass: frame to %d x %d in", layout.Frame.Right.Whole,
        layout.Frame.Bottom.Whole);
  // Compared over the chart's width and its top 5.2 in (ramp, patches, black
  // patch, slanted edge): 637 x 390 pixels at 75 dpi. Its line pairs below are
  // finer than 75 dpi resolves.
  const Frame frame{0, 0, 637 / 75.0, 390 / 75.0};
  Picture chart_part = p;
  chart_part.width = 637;
  chart_part.height = 390;
  chart_part.samples.clear();
  for (uint32_t y = 0; y < chart_part.height; ++y) {
    for (uint32_t x = 0; x < chart_part.width; ++x) chart_part.samples.push_back(p.at(x, y, 0));
  }
  const ChartFit fit = fit_chart(chart_part, frame, 75, 2);
  CHECK(fit.correlation >= 0.99 && std::abs(fit.dx) <= 1 && std::abs(fit.dy) <= 1,
        "the dialog's scan: correlation %.4f at (%d, %d)", fit.correlation, fit.dx, fit.dy);
  note("the dialog's scan: %ux%u grey, correlation %.4f", p.width, p.height, fit.correlation);
  // Cancel asks the application to close the source.
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
  CHECK(pump(app, 10000) == MSG_CLOSEDSREQ, "Cancel brings MSG_CLOSEDSREQ");
  app.disable();
  CHECK(FindWindowA("QRX7730TwainDialog", nullptr) == nullptr, "the dialog is gone");
  app.close();
}

}  // namespace qrx::wintest
