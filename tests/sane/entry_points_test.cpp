// The backend through its SANE entry points, in this process, as a front end
// uses them: the device list, the options, parameters, the button sensors, a
// device in use, and
// (once the library scans) whole scans read through the select fd, cancelled
// and repeated.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <string>

#include "device_lock.h"
#include "emulator/inprocess.h"
#include "emulator/scanner.h"
#include "entry_points.h"
#include "scan_document.h"
#include "support/temp_dir.h"

namespace qrx::test {
namespace {

class EntryPoints : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("SANE_CONFIG_DIR", dir.path().c_str(), 1);
    // The library is linked in: its data file lies beside the shared library.
    setenv("QRX7730_INSTALL_DIR", QRX_TEST_DATA_DIR, 1);
    unsetenv("QRX7730_SIM");
  }
  void TearDown() override {
    if (handle != nullptr) sane_qrx7730_close(handle);
    sane_qrx7730_exit();
  }
  // A device path whose status block and hold are this test's alone.
  std::string device(const std::string& tag = "") const {
    return "sim:#" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
           tag + "-" + std::to_string(getpid());
  }
  void configure(const std::string& text) {
    std::ofstream(dir.path() + "/qrx7730.conf") << text;
    SANE_Int version = 0;
    ASSERT_EQ(sane_qrx7730_init(&version, nullptr), SANE_STATUS_GOOD);
    EXPECT_EQ(SANE_VERSION_MAJOR(version), 1);
  }
  void open(const std::string& name) {
    ASSERT_EQ(sane_qrx7730_open(name.c_str(), &handle), SANE_STATUS_GOOD);
  }
  SANE_Int option(const char* name) {
    for (SANE_Int i = 1;; ++i) {
      const SANE_Option_Descriptor* d = sane_qrx7730_get_option_descriptor(handle, i);
      if (d == nullptr) return -1;
      if (d->name != nullptr && std::strcmp(d->name, name) == 0) return i;
    }
  }
  const SANE_Option_Descriptor* descriptor(const char* name) {
    return sane_qrx7730_get_option_descriptor(handle, option(name));
  }
  SANE_Status set(const char* name, SANE_Word& value, SANE_Int* info = nullptr) {
    return sane_qrx7730_control_option(handle, option(name), SANE_ACTION_SET_VALUE, &value, info);
  }
  SANE_Status set_mm(const char* name, double mm) {
    SANE_Word value = SANE_FIX(mm);
    return set(name, value);
  }
  SANE_Word get(const char* name) {
    SANE_Word value = -1;
    EXPECT_EQ(
        sane_qrx7730_control_option(handle, option(name), SANE_ACTION_GET_VALUE, &value, nullptr),
        SANE_STATUS_GOOD);
    return value;
  }

  ScopedTempDir dir;
  SANE_Handle handle = nullptr;
};

TEST_F(EntryPoints, ListsTheConfiguredScannersThatAnswer) {
  configure("# two emulated scanners, one daemon that is not there\n" + device("-a") +
            "\nsim:" + dir.path() + "/none.sock\n" + device("-b") + "\n");
  const SANE_Device** list = nullptr;
  ASSERT_EQ(sane_qrx7730_get_devices(&list, SANE_FALSE), SANE_STATUS_GOOD);
  ASSERT_NE(list[0], nullptr);
  EXPECT_EQ(list[0]->name, device("-a"));
  EXPECT_STREQ(list[0]->vendor, "QUARN");
  EXPECT_STREQ(list[0]->model, "RV-70413K");
  EXPECT_STREQ(list[0]->type, "flatbed scanner");
  ASSERT_NE(list[1], nullptr);
  EXPECT_EQ(list[1]->name, device("-b"));
  EXPECT_EQ(list[2], nullptr);
  // The empty name opens the first of them.
  open("");
  EXPECT_EQ(std::string(descriptor("resolution")->name), "resolution");
}

TEST_F(EntryPoints, TheOptionsHaveTheirWellKnownNamesTypesAndUnits) {
  configure("");
  open("qrx7730:" + device());
  SANE_Word count = 0;
  ASSERT_EQ(sane_qrx7730_control_option(handle, 0, SANE_ACTION_GET_VALUE, &count, nullptr),
            SANE_STATUS_GOOD);
  EXPECT_EQ(sane_qrx7730_get_option_descriptor(handle, count), nullptr);
  EXPECT_NE(sane_qrx7730_get_option_descriptor(handle, count - 1), nullptr);

  // (The lists and defaults are what scanimage -A shows: see scanimage_test.cpp.)
  EXPECT_EQ(descriptor("mode")->constraint_type, SANE_CONSTRAINT_STRING_LIST);
  EXPECT_EQ(descriptor("resolution")->unit, SANE_UNIT_DPI);
  EXPECT_EQ(descriptor("resolution")->constraint_type, SANE_CONSTRAINT_WORD_LIST);
  EXPECT_EQ(descriptor("depth")->unit, SANE_UNIT_BIT);
  EXPECT_EQ(descriptor("preview")->type, SANE_TYPE_BOOL);

  // The glass: 81664 x 112256 units of 1/9600 inch = 216.069 x 297.011 mm.
  for (const char* corner : {"tl-x", "br-x", "tl-y", "br-y"}) {
    const SANE_Option_Descriptor* d = descriptor(corner);
    EXPECT_EQ(d->type, SANE_TYPE_FIXED) << corner;
    EXPECT_EQ(d->unit, SANE_UNIT_MM) << corner;
    ASSERT_EQ(d->constraint_type, SANE_CONSTRAINT_RANGE) << corner;
    EXPECT_EQ(d->constraint.range->min, 0) << corner;
    const double max = corner[3] == 'x' ? 216.069 : 297.011;
    EXPECT_NEAR(SANE_UNFIX(d->constraint.range->max), max, 0.001) << corner;
  }

  EXPECT_EQ(descriptor("calibrate")->type, SANE_TYPE_BUTTON);
  for (const char* button : {"scan", "copy", "email", "file"}) {
    const SANE_Option_Descriptor* d = descriptor(button);
    EXPECT_EQ(d->type, SANE_TYPE_BOOL) << button;
    EXPECT_EQ(d->cap & (SANE_CAP_HARD_SELECT | SANE_CAP_SOFT_SELECT), SANE_CAP_HARD_SELECT)
        << button;
    EXPECT_EQ(get(button), SANE_FALSE) << button;  // nothing pressed
  }
}

TEST_F(EntryPoints, AValueIsFittedToItsConstraintAndTheCallerIsToldSo) {
  configure("");
  open(device());
  SANE_Int info = 0;
  SANE_Word dpi = 500;  // nearest offered: 600
  ASSERT_EQ(set("resolution", dpi, &info), SANE_STATUS_GOOD);
  EXPECT_EQ(dpi, 600);
  EXPECT_EQ(info, SANE_INFO_INEXACT | SANE_INFO_RELOAD_PARAMS);
  SANE_Word same = 600;
  ASSERT_EQ(set("resolution", same, &info), SANE_STATUS_GOOD);
  EXPECT_EQ(info, 0);
  SANE_Word far = SANE_FIX(400.0);
  ASSERT_EQ(set("br-y", far, &info), SANE_STATUS_GOOD);
  EXPECT_NEAR(SANE_UNFIX(far), 297.011, 0.001);
  EXPECT_TRUE(info & SANE_INFO_INEXACT);

  char mode[16] = "gray";
  ASSERT_EQ(sane_qrx7730_control_option(handle, option("mode"), SANE_ACTION_SET_VALUE, mode, &info),
            SANE_STATUS_GOOD);
  EXPECT_STREQ(mode, "Gray");
  // The mode decides which options apply: the front end reloads them.
  EXPECT_EQ(info, SANE_INFO_INEXACT | SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS);
  char halftone[16] = "Halftone";
  EXPECT_EQ(
      sane_qrx7730_control_option(handle, option("mode"), SANE_ACTION_SET_VALUE, halftone, nullptr),
      SANE_STATUS_INVAL);

  SANE_Word two = 2;
  EXPECT_EQ(set("preview", two), SANE_STATUS_INVAL);
  SANE_Word yes = SANE_TRUE;
  EXPECT_EQ(set("scan", yes), SANE_STATUS_INVAL);  // a sensor is read, not set
  char film[16] = "Transparency";
  EXPECT_EQ(
      sane_qrx7730_control_option(handle, option("source"), SANE_ACTION_SET_VALUE, film, nullptr),
      SANE_STATUS_INVAL);  // no film adapter on this scanner
  EXPECT_EQ(sane_qrx7730_control_option(handle, option("resolution"), SANE_ACTION_SET_AUTO, nullptr,
                                        nullptr),
            SANE_STATUS_INVAL);
  SANE_Word value = 0;
  EXPECT_EQ(sane_qrx7730_control_option(handle, 1, SANE_ACTION_GET_VALUE, &value, nullptr),
            SANE_STATUS_INVAL);  // a group
  EXPECT_EQ(sane_qrx7730_control_option(handle, 1000, SANE_ACTION_GET_VALUE, &value, nullptr),
            SANE_STATUS_INVAL);
}

TEST_F(EntryPoints, TheParametersFollowTheOptions) {
  configure("");
  open(device());
  SANE_Parameters p{};
  ASSERT_EQ(sane_qrx7730_get_parameters(handle, &p), SANE_STATUS_GOOD);
  // The whole glass at 300 dpi: 81664 and 112256 units of 1/9600 inch.
  EXPECT_EQ(p.pixels_per_line, 2552);
  EXPECT_EQ(p.lines, 3508);
  EXPECT_EQ(p.bytes_per_line, 3 * 2552);
  EXPECT_EQ(p.format, SANE_FRAME_RGB);

  // 2 x 1 in from (1 in, 0.5 in), grey, 16 bits, 150 dpi.
  char gray[16] = "Gray";
  ASSERT_EQ(
      sane_qrx7730_control_option(handle, option("mode"), SANE_ACTION_SET_VALUE, gray, nullptr),
      SANE_STATUS_GOOD);
  SANE_Word depth = 16, dpi = 150;
  ASSERT_EQ(set("depth", depth), SANE_STATUS_GOOD);
  ASSERT_EQ(set("resolution", dpi), SANE_STATUS_GOOD);
  ASSERT_EQ(set_mm("tl-x", 25.4), SANE_STATUS_GOOD);
  ASSERT_EQ(set_mm("tl-y", 12.7), SANE_STATUS_GOOD);
  ASSERT_EQ(set_mm("br-x", 76.2), SANE_STATUS_GOOD);
  ASSERT_EQ(set_mm("br-y", 38.1), SANE_STATUS_GOOD);
  ASSERT_EQ(sane_qrx7730_get_parameters(handle, &p), SANE_STATUS_GOOD);
  EXPECT_EQ(p.format, SANE_FRAME_GRAY);
  EXPECT_EQ(p.depth, 16);
  EXPECT_EQ(p.pixels_per_line, 300);
  EXPECT_EQ(p.lines, 150);
  EXPECT_EQ(p.bytes_per_line, 600);
  // A preview: the lowest resolution, 8 bits.
  SANE_Word preview = SANE_TRUE;
  ASSERT_EQ(set("preview", preview), SANE_STATUS_GOOD);
  ASSERT_EQ(sane_qrx7730_get_parameters(handle, &p), SANE_STATUS_GOOD);
  EXPECT_EQ(p.pixels_per_line, 150);
  EXPECT_EQ(p.lines, 75);
  EXPECT_EQ(p.bytes_per_line, 150);
}

TEST_F(EntryPoints, AFrontPanelPressIsSeenOnceByItsOwnSensor) {
  configure("");
  open(device());
  const std::shared_ptr<emu::Scanner> scanner = emu::inprocess_scanner();
  ASSERT_NE(scanner, nullptr);
  scanner->press_button(1);
  EXPECT_EQ(get("scan"), SANE_TRUE);
  EXPECT_EQ(get("scan"), SANE_FALSE);  // held down: one press
  scanner->release_button(1);
  EXPECT_EQ(get("scan"), SANE_FALSE);
  // A press noticed while another sensor is read is kept for its own.
  scanner->press_button(4);
  EXPECT_EQ(get("copy"), SANE_FALSE);
  EXPECT_EQ(get("email"), SANE_FALSE);
  EXPECT_EQ(get("file"), SANE_TRUE);
  EXPECT_EQ(get("file"), SANE_FALSE);
  scanner->release_button(4);
  scanner->press_button(2);
  EXPECT_EQ(get("copy"), SANE_TRUE);
  scanner->release_button(2);
}

TEST_F(EntryPoints, AScannerInUseIsBusyAndStillListed) {
  const std::string held = device("-held");
  configure(held + "\n");
  // Another front end's hold, as another process has it.
  std::unique_ptr<sane::DeviceLock> other = sane::DeviceLock::try_take(held);
  ASSERT_NE(other, nullptr);
  SANE_Handle second = nullptr;
  EXPECT_EQ(sane_qrx7730_open(held.c_str(), &second), SANE_STATUS_DEVICE_BUSY);
  const SANE_Device** list = nullptr;
  ASSERT_EQ(sane_qrx7730_get_devices(&list, SANE_FALSE), SANE_STATUS_GOOD);
  ASSERT_NE(list[0], nullptr);
  EXPECT_EQ(list[0]->name, held);
  other.reset();

  // The library drives one scanner per process: a second handle is refused.
  open(device());
  EXPECT_EQ(sane_qrx7730_open(device().c_str(), &second), SANE_STATUS_DEVICE_BUSY);
  EXPECT_EQ(sane_qrx7730_open(held.c_str(), &second), SANE_STATUS_DEVICE_BUSY);
  // Closed, the device is free again, for this process and others.
  sane_qrx7730_close(handle);
  handle = nullptr;
  EXPECT_NE(sane::DeviceLock::try_take(device()), nullptr);
  open(held);
}

TEST_F(EntryPoints, NoScanNoDataAndACancelDoesNoHarm) {
  configure("");
  open(device());
  SANE_Byte data[16];
  SANE_Int length = 7;
  EXPECT_EQ(sane_qrx7730_read(handle, data, sizeof data, &length), SANE_STATUS_INVAL);
  EXPECT_EQ(length, 0);
  SANE_Int fd = -1;
  EXPECT_EQ(sane_qrx7730_get_select_fd(handle, &fd), SANE_STATUS_INVAL);
  EXPECT_EQ(sane_qrx7730_set_io_mode(handle, SANE_TRUE), SANE_STATUS_INVAL);
  sane_qrx7730_cancel(handle);
  EXPECT_EQ(sane_qrx7730_read(handle, data, sizeof data, &length), SANE_STATUS_CANCELLED);
  // A handle that is not one.
  int other = 0;
  EXPECT_EQ(sane_qrx7730_start(&other), SANE_STATUS_INVAL);
}

TEST_F(EntryPoints, AMissingDaemonIsNoDeviceAndTheDebugLogSaysWhy) {
  setenv("SANE_DEBUG_QRX7730", "1", 1);
  configure("");
  const std::string log = dir.path() + "/log";
  const int saved = dup(2);
  FILE* file = std::freopen(log.c_str(), "w", stderr);
  ASSERT_NE(file, nullptr);
  const std::string name = "sim:" + dir.path() + "/none.sock";
  const SANE_Status status = sane_qrx7730_open(name.c_str(), &handle);
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  unsetenv("SANE_DEBUG_QRX7730");
  EXPECT_EQ(status, SANE_STATUS_INVAL);
  std::ifstream in(log);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  // Each line carries the time of day to the millisecond.
  EXPECT_TRUE(std::regex_search(
      text,
      std::regex("\\[qrx7730\\] [0-2][0-9]:[0-5][0-9]:[0-5][0-9]\\.[0-9]{3} FindScannerEx failed "
                 "with QRX_E_DEVICE_OPEN \\(0x0101\\): path not openable, status read "
                 "failed, or not this model: reporting SANE_STATUS_INVAL\n")))
      << text;
  EXPECT_EQ(sane_qrx7730_open("net:elsewhere:x", &handle), SANE_STATUS_INVAL);
}

// --- Whole scans, on the in-process scanner run 20 times faster than real time.

class Scans : public EntryPoints {
 protected:
  // The emulated scanner with the document on its glass, running 20 times as fast
  // as the real one; the scan area 2 x 1.5 in from the origin at 300 dpi (600 x 450).
  void open_with_document() {
    const std::string page = dir.path() + "/page.pnm";
    ASSERT_TRUE(write_pnm(document, page));
    setenv("QRX7730_SIM", ("speed=" QRX_SIM_SPEED ",document=" + page).c_str(), 1);
    configure("");
    open(device());
    ASSERT_EQ(set_mm("br-x", 50.8), SANE_STATUS_GOOD);
    ASSERT_EQ(set_mm("br-y", 38.1), SANE_STATUS_GOOD);
  }
  // Reads to the end; the image as 16-bit samples. With select, waits on the
  // select fd whenever a non-blocking read finds nothing.
  SANE_Status read_all(std::vector<uint16_t>& samples, bool with_select) {
    SANE_Int fd = -1;
    if (with_select) {
      EXPECT_EQ(sane_qrx7730_set_io_mode(handle, SANE_TRUE), SANE_STATUS_GOOD);
      EXPECT_EQ(sane_qrx7730_get_select_fd(handle, &fd), SANE_STATUS_GOOD);
    }
    std::vector<SANE_Byte> buffer(5000);  // not a whole number of lines
    for (;;) {
      SANE_Int length = 0;
      const SANE_Status status =
          sane_qrx7730_read(handle, buffer.data(), SANE_Int(buffer.size()), &length);
      if (status != SANE_STATUS_GOOD) return status;
      for (SANE_Int i = 0; i < length; ++i) samples.push_back(buffer[i]);
      if (length == 0) {
        if (!with_select) return SANE_STATUS_IO_ERROR;  // a blocking read never returns nothing
        pollfd wait{fd, POLLIN, 0};
        if (poll(&wait, 1, 120000) != 1) return SANE_STATUS_IO_ERROR;
      }
    }
  }

  Document document = make_document(660, 500);
};

TEST_F(Scans, ReadsTheDocumentThroughTheSelectFdWithoutBlocking) {
  open_with_document();
  ASSERT_EQ(sane_qrx7730_start(handle), SANE_STATUS_GOOD);
  SANE_Parameters p{};
  ASSERT_EQ(sane_qrx7730_get_parameters(handle, &p), SANE_STATUS_GOOD);
  EXPECT_EQ(p.pixels_per_line, 600);
  EXPECT_EQ(p.lines, 450);
  EXPECT_EQ(p.bytes_per_line, 1800);
  std::vector<uint16_t> samples;
  ASSERT_EQ(read_all(samples, true), SANE_STATUS_EOF);
  ASSERT_EQ(samples.size(), 1800u * 450);
  const Fit fit = best_fit(document, samples, 600, 450, 3, 3);
  EXPECT_GT(fit.correlation, 0.95);
  EXPECT_LE(std::abs(fit.dx), 2);
  EXPECT_LE(std::abs(fit.dy), 2);
}

TEST_F(Scans, ACancelStopsTheScanAtAnyPointAndTheNextScanIsWhole) {
  open_with_document();
  // Cancelled at once (the first scan calibrates first: no calibration is
  // stored in this test's directory), then after some lines.
  ASSERT_EQ(sane_qrx7730_start(handle), SANE_STATUS_GOOD);
  sane_qrx7730_cancel(handle);
  SANE_Byte buffer[1000];
  SANE_Int length = 0;
  EXPECT_EQ(sane_qrx7730_read(handle, buffer, sizeof buffer, &length), SANE_STATUS_CANCELLED);
  ASSERT_EQ(sane_qrx7730_start(handle), SANE_STATUS_GOOD);
  size_t got = 0;
  while (got < 20 * 1800) {
    ASSERT_EQ(sane_qrx7730_read(handle, buffer, sizeof buffer, &length), SANE_STATUS_GOOD);
    got += size_t(length);
  }
  sane_qrx7730_cancel(handle);
  EXPECT_EQ(sane_qrx7730_read(handle, buffer, sizeof buffer, &length), SANE_STATUS_CANCELLED);
  EXPECT_EQ(length, 0);
  // The scanner is free: the next scan runs to its end and shows the document.
  ASSERT_EQ(sane_qrx7730_start(handle), SANE_STATUS_GOOD);
  std::vector<uint16_t> samples;
  ASSERT_EQ(read_all(samples, false), SANE_STATUS_EOF);
  ASSERT_EQ(samples.size(), 1800u * 450);
  EXPECT_GT(best_fit(document, samples, 600, 450, 3, 3).correlation, 0.95);
}

TEST_F(Scans, SixteenBitGreyComesInTheMachinesByteOrder) {
  open_with_document();
  char gray[16] = "Gray";
  ASSERT_EQ(
      sane_qrx7730_control_option(handle, option("mode"), SANE_ACTION_SET_VALUE, gray, nullptr),
      SANE_STATUS_GOOD);
  SANE_Word depth = 16;
  ASSERT_EQ(set("depth", depth), SANE_STATUS_GOOD);
  ASSERT_EQ(sane_qrx7730_start(handle), SANE_STATUS_GOOD);
  std::vector<uint16_t> bytes;
  ASSERT_EQ(read_all(bytes, false), SANE_STATUS_EOF);
  ASSERT_EQ(bytes.size(), 1200u * 450);
  std::vector<uint16_t> samples(bytes.size() / 2);
  for (size_t i = 0; i < samples.size(); ++i) {
    const uint8_t pair[2] = {uint8_t(bytes[2 * i]), uint8_t(bytes[2 * i + 1])};
    std::memcpy(&samples[i], pair, 2);  // as the machine reads a 16-bit sample
  }
  // Read in the wrong order, the ramp's low bytes would be noise.
  EXPECT_GT(best_fit(document, samples, 600, 450, 1, 3).correlation, 0.95);
}

// The mean level of a block of a one-channel 8-bit scan 600 pixels wide.
double mean_level(const std::vector<uint16_t>& samples, uint32_t x0, uint32_t x1, uint32_t y0,
                  uint32_t y1) {
  double sum = 0;
  for (uint32_t y = y0; y < y1; ++y) {
    for (uint32_t x = x0; x < x1; ++x) sum += samples[size_t{y} * 600 + x];
  }
  return sum / ((x1 - x0) * (y1 - y0));
}

TEST_F(Scans, AGammaCurveIsAppliedByTheScannerAndBrightnessByTheBackend) {
  open_with_document();
  const std::shared_ptr<emu::Scanner> scanner = emu::inprocess_scanner();
  ASSERT_NE(scanner, nullptr);
  char gray[16] = "Gray";
  ASSERT_EQ(
      sane_qrx7730_control_option(handle, option("mode"), SANE_ACTION_SET_VALUE, gray, nullptr),
      SANE_STATUS_GOOD);
  // The scanner's curve for grey (the green one) after a scan: 256 levels.
  const auto scanner_curve = [&] {
    std::vector<uint16_t> curve(256);
    EXPECT_TRUE(scanner->peek_memory(0x01000200, reinterpret_cast<uint8_t*>(curve.data()), 512));
    return curve;
  };
  const auto scan = [&] {
    std::vector<uint16_t> samples;
    EXPECT_EQ(sane_qrx7730_start(handle), SANE_STATUS_GOOD);
    EXPECT_EQ(read_all(samples, false), SANE_STATUS_EOF);
    EXPECT_EQ(samples.size(), 600u * 450);
    return samples;
  };
  // A block of the document's ramp between its black block and its green one,
  // where the document is mid-grey (about 0.55 of white).
  const std::vector<uint16_t> plain = scan();
  const double level = mean_level(plain, 300, 400, 200, 240);
  EXPECT_GT(level, 100);
  EXPECT_LT(level, 190);

  // The square root as a gamma table: the library takes it and the scanner holds
  // it, 65535 * sqrt(input / 65535) at inputs 256 j, within the table's rounding.
  SANE_Word yes = SANE_TRUE;
  ASSERT_EQ(set("custom-gamma", yes), SANE_STATUS_GOOD);
  std::vector<SANE_Word> table(256);
  for (int k = 0; k < 256; ++k) table[k] = SANE_Word(std::lround(255 * std::sqrt(k / 255.0)));
  ASSERT_EQ(sane_qrx7730_control_option(handle, option("gamma-table"), SANE_ACTION_SET_VALUE,
                                        table.data(), nullptr),
            SANE_STATUS_GOOD);
  const std::vector<uint16_t> rooted = scan();
  const std::vector<uint16_t> curve = scanner_curve();
  for (int j : {0, 1, 16, 64, 128, 200, 255}) {
    EXPECT_NEAR(curve[j], 65535 * std::sqrt(j * 256 / 65535.0), 200) << j;
  }
  EXPECT_NEAR(mean_level(rooted, 300, 400, 200, 240), 255 * std::sqrt(level / 255), 3);

  // Brightness +20 %: a curve the library does not take (it finds no gamma
  // exponent in it); the backend raises every level by 51 itself, and the
  // scanner's curve is the identity again.
  SANE_Word no = SANE_FALSE, brighter = 20;
  ASSERT_EQ(set("custom-gamma", no), SANE_STATUS_GOOD);
  ASSERT_EQ(set("brightness", brighter), SANE_STATUS_GOOD);
  const std::vector<uint16_t> raised = scan();
  const std::vector<uint16_t> identity = scanner_curve();
  for (int j : {0, 1, 64, 128, 255}) EXPECT_EQ(identity[j], j * 256) << j;
  EXPECT_NEAR(mean_level(raised, 300, 400, 200, 240), level + 51, 3);
}

}  // namespace
}  // namespace qrx::test
