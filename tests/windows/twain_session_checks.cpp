// Whole TWAIN sessions against the emulated scanner's chart, a transfer
// cancelled part way, and a second application while one holds the scanner.
#include <cmath>
#include <cstring>

#include "harness.h"
#include "twain_chart.h"
#include "twain_client.h"
#include "twain_tests.h"

namespace qrx::wintest {
namespace {

enum class Mech { kNative, kMemory, kFile };

const char* mech_name(Mech m) {
  return m == Mech::kNative ? "native" : m == Mech::kMemory ? "memory" : "file";
}
const char* type_name(int t) { return t == TWPT_BW ? "black-and-white" : t == TWPT_GRAY ? "grey" : "colour"; }

// The chart's grey ramp and colour patches; for black and white the corner of
// the black patch, half of it paper.
constexpr Frame kTones{0.45, 0.45, 1.95, 1.95};
constexpr Frame kCorner{4.5, 2.5, 5.5, 3.2};

struct Case {
  int pixel_type, depth, dpi;
  Mech mech;
  Frame frame;
};

Picture transfer(TwainClient& app, Mech mech, const TW_IMAGEINFO& info, const char* tag) {
  switch (mech) {
    case Mech::kNative: return app.native_transfer(info);
    case Mech::kMemory: {
      // An application's buffer of an odd size: whole rows, not the preferred size.
      const uint32_t row = (static_cast<uint32_t>(info.ImageWidth) * info.BitsPerPixel + 7) / 8;
      return app.memory_transfer(info, row * 37 + 5);
    }
    case Mech::kFile: return app.file_transfer(info, std::string("twain-") + tag + ".bmp");
  }
  return Picture{};
}

// One session: negotiate, enable without UI, check the image information, transfer.
Picture scan(TwainClient& app, const Case& c, TW_IMAGEINFO& info, const char* tag) {
  CHECK(app.set_one(ICAP_PIXELTYPE, TWTY_UINT16, c.pixel_type) == TWRC_SUCCESS, "ICAP_PIXELTYPE");
  CHECK(app.set_one(ICAP_BITDEPTH, TWTY_UINT16, c.depth) == TWRC_SUCCESS, "ICAP_BITDEPTH %d", c.depth);
  CHECK(app.set_fix32(ICAP_XRESOLUTION, c.dpi) == TWRC_SUCCESS, "ICAP_XRESOLUTION %d", c.dpi);
  CHECK(app.set_fix32(ICAP_YRESOLUTION, c.dpi) == TWRC_SUCCESS, "ICAP_YRESOLUTION %d", c.dpi);
  const TW_UINT16 mech = c.mech == Mech::kNative ? TWSX_NATIVE : c.mech == Mech::kMemory ? TWSX_MEMORY : TWSX_FILE;
  CHECK(app.set_one(ICAP_XFERMECH, TWTY_UINT16, mech) == TWRC_SUCCESS, "ICAP_XFERMECH");
  CHECK(app.set_frame(c.frame.left, c.frame.top, c.frame.right, c.frame.bottom) == TWRC_SUCCESS,
        "DAT_IMAGELAYOUT");
  app.enable_without_ui();
  info = app.image_info();
  const int samples = c.pixel_type == TWPT_RGB ? 3 : 1;
  CHECK(info.SamplesPerPixel == samples && info.BitsPerSample[0] == c.depth &&
            info.BitsPerPixel == samples * c.depth && info.PixelType == c.pixel_type &&
            info.Compression == TWCP_NONE && !info.Planar,
        "image info: %d samples of %d bits, %d bits per pixel, type %d", info.SamplesPerPixel,
        info.BitsPerSample[0], info.BitsPerPixel, info.PixelType);
  CHECK(info.XResolution.Whole == c.dpi && info.XResolution.Frac == 0 && info.YResolution.Whole == c.dpi,
        "image info resolution %d", info.XResolution.Whole);
  // The frame's size at the resolution, to a pixel.
  const double width = (c.frame.right - c.frame.left) * c.dpi;
  const double height = (c.frame.bottom - c.frame.top) * c.dpi;
  CHECK(std::fabs(info.ImageWidth - width) <= 1 && std::fabs(info.ImageLength - height) <= 1,
        "image of %ld x %ld pixels for a frame of %.1f x %.1f", info.ImageWidth, info.ImageLength,
        width, height);
  Picture p = transfer(app, c.mech, info, tag);
  app.end_transfer(0);
  app.disable();
  return p;
}

}  // namespace

void check_sessions(const std::string& ds) {
  TwainClient app(ds);
  app.open();
  // Every mode at every resolution, the three transfers taking turns.
  const int types[3] = {TWPT_RGB, TWPT_GRAY, TWPT_BW};
  const int dpis[3] = {75, 300, 600};
  int turn = 0;
  for (int t : types) {
    for (int dpi : dpis) {
      const Mech mech = static_cast<Mech>(turn++ % 3);
      const Case c{t, t == TWPT_BW ? 1 : 8, dpi, mech, t == TWPT_BW ? kCorner : kTones};
      char tag[64];
      std::snprintf(tag, sizeof tag, "%s-%d-%s", type_name(t), dpi, mech_name(mech));
      const DWORD started = GetTickCount();
      TW_IMAGEINFO info;
      const Picture p = scan(app, c, info, tag);
      const ChartFit fit = fit_chart(p, c.frame, dpi, 3);
      CHECK(fit.correlation >= 0.99 && std::abs(fit.dx) <= 1 && std::abs(fit.dy) <= 1,
            "%s: correlation %.4f with the chart at shift (%d, %d)", tag, fit.correlation, fit.dx,
            fit.dy);
      note("%s: %ux%u, correlation %.4f at (%d, %d), %lu ms", tag, p.width, p.height,
           fit.correlation, fit.dx, fit.dy, GetTickCount() - started);
    }
  }
  // 16 bits per sample: grey by memory, colour as a 48-bit DIB.
  for (const Case& c : {Case{TWPT_GRAY, 16, 300, Mech::kMemory, kTones},
                        Case{TWPT_RGB, 16, 75, Mech::kNative, kTones}}) {
    TW_IMAGEINFO info;
    const Picture p = scan(app, c, info, "deep");
    const ChartFit fit = fit_chart(p, c.frame, c.dpi, 3);
    CHECK(fit.correlation >= 0.99 && std::abs(fit.dx) <= 1 && std::abs(fit.dy) <= 1,
          "16-bit %s: correlation %.4f at (%d, %d)", type_name(c.pixel_type), fit.correlation,
          fit.dx, fit.dy);
    note("16-bit %s at %d dpi: correlation %.4f", type_name(c.pixel_type), c.dpi, fit.correlation);
  }
  // The whole width of the glass, where the geometry shows: 75 dpi colour.
  {
    std::vector<double> values;
    double width_in = 0;
    app.get(ICAP_PHYSICALWIDTH, values, &width_in);
    const Frame whole{0, 0, width_in, 0.6};
    TW_IMAGEINFO info;
    const Picture p = scan(app, Case{TWPT_RGB, 8, 75, Mech::kNative, whole}, info, "whole");
    const ChartFit fit = fit_chart(p, whole, 75, 3);
    CHECK(fit.correlation >= 0.99 && std::abs(fit.dx) <= 1 && std::abs(fit.dy) <= 1,
          "whole width: correlation %.4f at (%d, %d)", fit.correlation, fit.dx, fit.dy);
    note("whole width %.3f in at 75 dpi: %u pixels, correlation %.4f", width_in, p.width, fit.correlation);
  }
  app.close();
}

void check_cancel(const std::string& ds) {
  TwainClient app(ds);
  app.open();
  CHECK(app.set_one(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY) == TWRC_SUCCESS, "ICAP_XFERMECH");
  CHECK(app.set_fix32(ICAP_XRESOLUTION, 300) == TWRC_SUCCESS, "300 dpi");
  CHECK(app.set_frame(kTones.left, kTones.top, kTones.right, kTones.bottom) == TWRC_SUCCESS, "frame");
  app.enable_without_ui();
  const TW_IMAGEINFO info = app.image_info();
  const uint32_t row = static_cast<uint32_t>(info.ImageWidth) * 3;
  std::vector<uint8_t> buffer(row * 16);
  TW_IMAGEMEMXFER xfer{};
  xfer.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
  xfer.Memory.Length = static_cast<TW_UINT32>(buffer.size());
  xfer.Memory.TheMem = buffer.data();
  app.expect(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer, TWRC_SUCCESS, 0, "the first strip");
  CHECK(xfer.Rows == 16, "the first strip holds 16 rows, not %lu", xfer.Rows);
  // The application gives up part way.
  TW_PENDINGXFERS pending{};
  app.expect(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending, TWRC_SUCCESS, 0,
             "MSG_RESET during the transfer");
  CHECK(pending.Count == 0, "no transfer pending after the reset (%u)", pending.Count);
  app.expect(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer, TWRC_FAILURE, TWCC_SEQERROR,
             "a strip after the reset");
  app.disable();
  // The scanner is free: a whole scan follows.
  CHECK(app.set_one(ICAP_XFERMECH, TWTY_UINT16, TWSX_NATIVE) == TWRC_SUCCESS, "ICAP_XFERMECH");
  app.enable_without_ui();
  const TW_IMAGEINFO again = app.image_info();
  const Picture p = app.native_transfer(again);
  app.end_transfer(0);
  app.disable();
  const ChartFit fit = fit_chart(p, kTones, 300, 3);
  CHECK(fit.correlation >= 0.99, "the scan after the cancelled one: correlation %.4f", fit.correlation);
  note("cancelled after 16 rows; the next scan matches the chart (%.4f)", fit.correlation);
  app.close();
}

int hold_scanner(const std::string& ds, const std::string& role) {
  set_process_tag("second-application");
  TwainClient app(ds);
  TW_IDENTITY source{};
  const DWORD started = GetTickCount();
  const TW_UINT16 rc = app.call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source);
  const DWORD took = GetTickCount() - started;
  const TW_UINT16 cc = rc == TWRC_FAILURE ? app.condition() : 0;
  if (role == "refused") {
    CHECK(rc == TWRC_FAILURE && cc == TWCC_MAXCONNECTIONS,
          "a second application's MSG_OPENDS: return code %u, condition %u", rc, cc);
    CHECK(took < 10000, "it is told at once, not after %lu ms", took);
    note("refused with TWCC_MAXCONNECTIONS after %lu ms", took);
  } else {
    CHECK(rc == TWRC_SUCCESS, "MSG_OPENDS once the first application closed: %u (%u)", rc, cc);
    app.call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source);
    note("opened once the first application had closed the source");
  }
  return 0;
}

void check_second_application(const std::string& ds) {
  TwainClient app(ds);
  app.open();
  const std::string refused = "--ds \"" + ds + "\" --hold refused";
  PROCESS_INFORMATION child = start_self(refused.c_str());
  CHECK(wait_for_exit(child, 60000) == 0, "the second application was refused");
  CloseHandle(child.hProcess);
  app.close();
  const std::string taken = "--ds \"" + ds + "\" --hold opened";
  child = start_self(taken.c_str());
  CHECK(wait_for_exit(child, 60000) == 0, "the second application opened the freed scanner");
  CloseHandle(child.hProcess);
}

int bench_native(const std::string& ds, const std::string& file) {
  set_process_tag("bench");
  TwainClient app(ds);
  app.open();
  CHECK(app.set_fix32(ICAP_XRESOLUTION, 300) == TWRC_SUCCESS, "300 dpi");
  CHECK(app.set_one(ICAP_SUPPORTEDSIZES, TWTY_UINT16, TWSS_A4LETTER) == TWRC_SUCCESS, "A4");
  const DWORD started = GetTickCount();
  app.enable_without_ui();
  const TW_IMAGEINFO info = app.image_info();
  TW_HANDLE handle = nullptr;
  CHECK(app.call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle) == TWRC_XFERDONE, "native transfer");
  const DWORD transferred = GetTickCount() - started;
  // Saved as an application saves it: the DIB behind a file header.
  const size_t size = GlobalSize(handle);
  const auto* dib = static_cast<const uint8_t*>(GlobalLock(handle));
  BITMAPFILEHEADER header{};
  header.bfType = 0x4D42;
  header.bfSize = static_cast<DWORD>(sizeof header + size);
  header.bfOffBits = sizeof header + sizeof(BITMAPINFOHEADER);
  FILE* f = std::fopen(file.c_str(), "wb");
  CHECK(f != nullptr && std::fwrite(&header, sizeof header, 1, f) == 1 &&
            std::fwrite(dib, size, 1, f) == 1 && std::fclose(f) == 0,
        "writing %s", file.c_str());
  GlobalUnlock(handle);
  GlobalFree(handle);
  app.end_transfer(0);
  app.disable();
  app.close();
  note("A4 at 300 dpi colour, %ldx%ld: native transfer in %lu ms", info.ImageWidth, info.ImageLength,
       transferred);
  return 0;
}

}  // namespace qrx::wintest
