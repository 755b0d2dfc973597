// The data source's state machine (every triplet sent in a state that does not
// allow it fails with TWCC_SEQERROR and changes nothing) and its capabilities
// (values refused, rounded with TWRC_CHECKSTATUS, converted between units).
#include <algorithm>
#include <cmath>
#include <cstring>

#include "harness.h"
#include "twain_client.h"
#include "twain_tests.h"

namespace qrx::wintest {
namespace {

struct Triplet {
  TW_UINT32 dg;
  TW_UINT16 dat, msg;
  const char* name;
};

// Sends each triplet and expects TWCC_SEQERROR from every one.
void expect_sequence_errors(TwainClient& app, const char* state, std::initializer_list<Triplet> list) {
  for (const Triplet& t : list) {
    // Room for whatever structure the triplet takes.
    alignas(8) uint8_t data[1024] = {};
    if (t.dat == DAT_CAPABILITY) {
      auto* cap = reinterpret_cast<TW_CAPABILITY*>(data);
      cap->Cap = ICAP_PIXELTYPE;
      cap->ConType = TWON_ONEVALUE;
      cap->hContainer = GlobalAlloc(GHND, sizeof(TW_ONEVALUE));
      auto* one = static_cast<TW_ONEVALUE*>(GlobalLock(cap->hContainer));
      one->ItemType = TWTY_UINT16;
      one->Item = TWPT_BW;
      GlobalUnlock(cap->hContainer);
      const TW_HANDLE given = cap->hContainer;
      app.expect(t.dg, t.dat, t.msg, data, TWRC_FAILURE, TWCC_SEQERROR,
                 (std::string(state) + ": " + t.name).c_str());
      GlobalFree(given);
      continue;
    }
    if (t.dat == DAT_IMAGELAYOUT) {
      auto* layout = reinterpret_cast<TW_IMAGELAYOUT*>(data);
      layout->Frame.Right.Whole = 1;
      layout->Frame.Bottom.Whole = 1;
    }
    if (t.dat == DAT_USERINTERFACE) reinterpret_cast<TW_USERINTERFACE*>(data)->hParent = app.window();
    app.expect(t.dg, t.dat, t.msg, data, TWRC_FAILURE, TWCC_SEQERROR,
               (std::string(state) + ": " + t.name).c_str());
  }
}

constexpr Triplet kOpen{DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, "MSG_OPENDS"};
constexpr Triplet kClose{DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, "MSG_CLOSEDS"};
constexpr Triplet kEnable{DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, "MSG_ENABLEDS"};
constexpr Triplet kDisable{DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, "MSG_DISABLEDS"};
constexpr Triplet kEvent{DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, "MSG_PROCESSEVENT"};
constexpr Triplet kCapGet{DG_CONTROL, DAT_CAPABILITY, MSG_GET, "capability MSG_GET"};
constexpr Triplet kCapSet{DG_CONTROL, DAT_CAPABILITY, MSG_SET, "capability MSG_SET"};
constexpr Triplet kCapReset{DG_CONTROL, DAT_CAPABILITY, MSG_RESET, "capability MSG_RESET"};
constexpr Triplet kEndXfer{DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, "MSG_ENDXFER"};
constexpr Triplet kResetXfers{DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, "pending MSG_RESET"};
constexpr Triplet kInfo{DG_IMAGE, DAT_IMAGEINFO, MSG_GET, "DAT_IMAGEINFO"};
constexpr Triplet kLayoutSet{DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, "DAT_IMAGELAYOUT MSG_SET"};
constexpr Triplet kNative{DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, "DAT_IMAGENATIVEXFER"};
constexpr Triplet kMemory{DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, "DAT_IMAGEMEMXFER"};
constexpr Triplet kFile{DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, "DAT_IMAGEFILEXFER"};

}  // namespace

void check_state_machine(const std::string& ds) {
  TwainClient app(ds);
  // State 3: only the identity, the status and the entry points.
  TW_IDENTITY id{};
  app.expect(DG_CONTROL, DAT_IDENTITY, MSG_GET, &id, TWRC_SUCCESS, 0, "state 3: DAT_IDENTITY MSG_GET");
  CHECK(std::strcmp(id.ProductName, "QRX7730 Flatbed") == 0, "the identity: %s", id.ProductName);
  expect_sequence_errors(app, "state 3", {kClose, kEnable, kDisable, kEvent, kCapGet, kCapSet,
                                          kEndXfer, kInfo, kLayoutSet, kNative, kMemory, kFile});
  app.open();
  // State 4.
  expect_sequence_errors(app, "state 4", {kOpen, kDisable, kEvent, kEndXfer, kResetXfers, kInfo,
                                          kNative, kMemory, kFile});
  CHECK(app.get_current(ICAP_PIXELTYPE) == TWPT_RGB, "state 4's refusals changed nothing");
  // State 6: an image is ready.
  CHECK(app.set_fix32(ICAP_XRESOLUTION, 75) == TWRC_SUCCESS, "75 dpi");
  CHECK(app.set_frame(0.5, 0.5, 1.5, 1.0) == TWRC_SUCCESS, "frame");
  CHECK(app.set_one(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY) == TWRC_SUCCESS, "memory transfer");
  app.enable_without_ui();
  const TW_IMAGEINFO before = app.image_info();
  expect_sequence_errors(app, "state 6", {kOpen, kClose, kEnable, kDisable, kCapSet, kCapReset,
                                          kLayoutSet});
  CHECK(app.get_current(ICAP_PIXELTYPE) == TWPT_RGB, "state 6's refused MSG_SET changed nothing");
  const TW_IMAGEINFO after = app.image_info();
  CHECK(std::memcmp(&before, &after, sizeof before) == 0, "the image information is unchanged");
  // State 7: part way through a memory transfer.
  const uint32_t row = static_cast<uint32_t>(before.ImageWidth) * 3;
  std::vector<uint8_t> buffer(row * 4);
  TW_IMAGEMEMXFER xfer{};
  xfer.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
  xfer.Memory.Length = static_cast<TW_UINT32>(buffer.size());
  xfer.Memory.TheMem = buffer.data();
  app.expect(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer, TWRC_SUCCESS, 0, "state 6: the first strip");
  expect_sequence_errors(app, "state 7", {kOpen, kClose, kEnable, kDisable, kCapSet, kLayoutSet,
                                          kNative, kFile});
  // The transfer goes on where it was.
  uint32_t rows = xfer.Rows;
  TW_UINT16 rc = TWRC_SUCCESS;
  while (rc == TWRC_SUCCESS) {
    rc = app.call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer);
    CHECK(rc == TWRC_SUCCESS || rc == TWRC_XFERDONE, "state 7: strip at row %u: %u", rows, rc);
    CHECK(xfer.YOffset == rows, "the strip continues at row %u, not %lu", rows, xfer.YOffset);
    rows += xfer.Rows;
  }
  CHECK(rows == static_cast<uint32_t>(before.ImageLength), "%u rows of %ld", rows, before.ImageLength);
  expect_sequence_errors(app, "state 7 after the last strip", {kResetXfers, kMemory});
  app.end_transfer(0);
  // State 5 (without UI the source stays enabled until the application disables it).
  expect_sequence_errors(app, "state 5", {kOpen, kClose, kEnable, kCapSet, kEndXfer, kInfo, kNative});
  app.disable();
  app.close();
  expect_sequence_errors(app, "state 3 again", {kClose, kCapGet});
  note("the state machine: every refused triplet failed with TWCC_SEQERROR");
}

void check_capabilities(const std::string& ds) {
  TwainClient app(ds);
  app.open();
  std::vector<double> caps;
  CHECK(app.get(CAP_SUPPORTEDCAPS, caps) == TWON_ARRAY, "CAP_SUPPORTEDCAPS is an array");
  for (TW_UINT16 cap : {CAP_XFERCOUNT, CAP_UICONTROLLABLE, CAP_INDICATORS, CAP_DEVICEONLINE,
                        CAP_FEEDERENABLED, ICAP_XFERMECH, ICAP_PIXELTYPE, ICAP_BITDEPTH,
                        ICAP_XRESOLUTION, ICAP_YRESOLUTION, ICAP_UNITS, ICAP_PHYSICALWIDTH,
                        ICAP_PHYSICALHEIGHT, ICAP_SUPPORTEDSIZES, ICAP_BRIGHTNESS, ICAP_CONTRAST,
                        ICAP_THRESHOLD, ICAP_COMPRESSION, ICAP_PLANARCHUNKY, ICAP_PIXELFLAVOR,
                        ICAP_BITORDER}) {
    CHECK(std::find(caps.begin(), caps.end(), cap) != caps.end(), "0x%04X is listed", cap);
    std::vector<double> values;
    CHECK(app.get(cap, values) != 0 && !values.empty(), "MSG_GET of 0x%04X", cap);
    TW_CAPABILITY q{};
    q.Cap = cap;
    app.expect(DG_CONTROL, DAT_CAPABILITY, MSG_QUERYSUPPORT, &q, TWRC_SUCCESS, 0, "MSG_QUERYSUPPORT");
    const auto* one = static_cast<const TW_ONEVALUE*>(GlobalLock(q.hContainer));
    CHECK(q.ConType == TWON_ONEVALUE && (one->Item & TWQC_GET), "0x%04X can be read", cap);
    GlobalUnlock(q.hContainer);
    GlobalFree(q.hContainer);
  }
  std::vector<double> v;
  app.get(CAP_UICONTROLLABLE, v);
  CHECK(v.size() == 1 && v[0] == 1, "the source scans without its UI");
  // An unknown capability, a read-only one, values out of reach.
  CHECK(app.set_one(CAP_AUTOFEED, TWTY_BOOL, 1) == TWRC_FAILURE &&
            app.condition() == TWCC_CAPUNSUPPORTED, "CAP_AUTOFEED is not supported");
  CHECK(app.get(CAP_AUTOFEED, v) == 0 && app.condition() == TWCC_CAPUNSUPPORTED, "nor read");
  CHECK(app.set_one(CAP_FEEDERENABLED, TWTY_BOOL, 1) == TWRC_FAILURE &&
            app.condition() == TWCC_BADVALUE, "a flatbed has no feeder to enable");
  CHECK(app.set_one(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_CMYK) == TWRC_FAILURE &&
            app.condition() == TWCC_BADVALUE, "CMYK is refused");
  CHECK(app.get_current(ICAP_PIXELTYPE) == TWPT_RGB, "the refused value changed nothing");
  CHECK(app.set_one(ICAP_BITDEPTH, TWTY_UINT16, 12) == TWRC_FAILURE && app.condition() == TWCC_BADVALUE,
        "12 bits are refused");
  CHECK(app.set_one(ICAP_BITDEPTH, TWTY_UINT16, 24) == TWRC_CHECKSTATUS &&
            app.get_current(ICAP_BITDEPTH) == 8, "24-bit colour is 8 bits per sample");
  CHECK(app.set_fix32(ICAP_XRESOLUTION, 301) == TWRC_CHECKSTATUS &&
            app.get_current(ICAP_XRESOLUTION) == 300, "301 dpi is rounded to 300");
  CHECK(app.set_fix32(ICAP_XRESOLUTION, 600) == TWRC_SUCCESS && app.get_current(ICAP_YRESOLUTION) == 600,
        "600 dpi is taken, across and down");
  CHECK(app.set_fix32(ICAP_BRIGHTNESS, 2000) == TWRC_FAILURE && app.condition() == TWCC_BADVALUE,
        "brightness 2000 is out of range");
  CHECK(app.set_fix32(ICAP_BRIGHTNESS, 10.5) == TWRC_CHECKSTATUS && app.get_current(ICAP_BRIGHTNESS) == 11,
        "brightness 10.5 is rounded to 11");
  CHECK(app.set_one(CAP_XFERCOUNT, TWTY_INT16, 5) == TWRC_CHECKSTATUS && app.get_current(CAP_XFERCOUNT) == 1,
        "five images from a flatbed are one");
  CHECK(app.set_one(CAP_XFERCOUNT, TWTY_INT16, 0) == TWRC_FAILURE && app.condition() == TWCC_BADVALUE,
        "no images is refused");
  CHECK(app.set_one(ICAP_PHYSICALWIDTH, TWTY_FIX32, 3) == TWRC_FAILURE, "the glass size is read-only");
  // Units: 600 dpi is 236.22 dots per centimetre, the glass's width 2.54 times its inches.
  const double width_in = app.get_current(ICAP_PHYSICALWIDTH);
  CHECK(app.set_one(ICAP_UNITS, TWTY_UINT16, TWUN_CENTIMETERS) == TWRC_SUCCESS, "centimetres");
  CHECK(std::fabs(app.get_current(ICAP_XRESOLUTION) - 236.2205) < 0.001, "600 dpi in centimetres: %.4f",
        app.get_current(ICAP_XRESOLUTION));
  CHECK(std::fabs(app.get_current(ICAP_PHYSICALWIDTH) - width_in * 2.54) < 0.001, "glass width in cm");
  CHECK(app.set_frame(1.27, 2.54, 3.81, 5.08) == TWRC_SUCCESS, "a frame in centimetres");
  CHECK(app.set_one(ICAP_UNITS, TWTY_UINT16, TWUN_INCHES) == TWRC_SUCCESS, "inches");
  TW_IMAGELAYOUT layout{};
  app.expect(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &layout, TWRC_SUCCESS, 0, "DAT_IMAGELAYOUT MSG_GET");
  auto fix = [](TW_FIX32 f) { return f.Whole + f.Frac / 65536.0; };
  CHECK(std::fabs(fix(layout.Frame.Left) - 0.5) < 1e-3 && std::fabs(fix(layout.Frame.Bottom) - 2.0) < 1e-3,
        "the frame in inches: %.4f .. %.4f", fix(layout.Frame.Left), fix(layout.Frame.Bottom));
  // A frame off the glass is cut to it; an empty one is refused.
  CHECK(app.set_frame(-1, 0, 30, 2) == TWRC_CHECKSTATUS, "a frame off the glass is clipped");
  app.expect(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &layout, TWRC_SUCCESS, 0, "DAT_IMAGELAYOUT MSG_GET");
  CHECK(fix(layout.Frame.Left) == 0 && std::fabs(fix(layout.Frame.Right) - width_in) < 1e-3,
        "clipped to 0 .. %.4f: %.4f .. %.4f", width_in, fix(layout.Frame.Left), fix(layout.Frame.Right));
  CHECK(app.set_frame(2, 2, 1, 3) == TWRC_FAILURE && app.condition() == TWCC_BADVALUE,
        "a frame whose right is left of its left is refused");
  // Page sizes set the frame; resetting a capability restores its default.
  CHECK(app.set_one(ICAP_SUPPORTEDSIZES, TWTY_UINT16, TWSS_USLETTER) == TWRC_SUCCESS, "US letter");
  app.expect(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &layout, TWRC_SUCCESS, 0, "DAT_IMAGELAYOUT MSG_GET");
  CHECK(fix(layout.Frame.Right) == 8.5 && fix(layout.Frame.Bottom) == 11, "US letter is 8.5 x 11 in");
  CHECK(app.set_one(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_BW) == TWRC_SUCCESS &&
            app.get_current(ICAP_BITDEPTH) == 1, "black and white is 1 bit");
  TW_CAPABILITY reset{};
  reset.Cap = ICAP_PIXELTYPE;
  app.expect(DG_CONTROL, DAT_CAPABILITY, MSG_RESET, &reset, TWRC_SUCCESS, 0, "MSG_RESET");
  if (reset.hContainer != nullptr) GlobalFree(reset.hContainer);
  CHECK(app.get_current(ICAP_PIXELTYPE) == TWPT_RGB, "reset to colour");
  app.close();
  note("capabilities: refused, rounded and converted as expected");
}

}  // namespace qrx::wintest
