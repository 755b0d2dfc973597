// The backend's parts that need no scanner: the status mapping, the configuration
// and device names, the scan window from millimetres and the image it makes.
#include <gtest/gtest.h>

#include <sstream>

#include "config.h"
#include "scan_geometry.h"
#include "status_map.h"

namespace qrx::sane {
namespace {

TEST(StatusMap, EachFailureBecomesTheSaneStatusOfWhatHappened) {
  const struct {
    uint16_t code;
    SANE_Status expected;
  } cases[] = {
      {0x0000, SANE_STATUS_GOOD},
      {0x0101, SANE_STATUS_INVAL},        // no scanner at that path
      {0x0105, SANE_STATUS_IO_ERROR},     // power-on setting not written
      {0x6B01, SANE_STATUS_UNSUPPORTED},  // film light without a film adapter
      {0x8201, SANE_STATUS_IO_ERROR},     // self-test: uneven light
      {0x9601, SANE_STATUS_DEVICE_BUSY},  // the carriage moves for someone
      {0x9604, SANE_STATUS_DEVICE_BUSY},  // (a code of the scanner-in-use family)
      {0x9706, SANE_STATUS_UNSUPPORTED},  // the library cannot do it
      {0x970C, SANE_STATUS_INVAL},        // window too wide
      {0x9801, SANE_STATUS_NO_MEM},
      {0xFA02, SANE_STATUS_NO_MEM},  // no reader thread
      {0x9B13, SANE_STATUS_JAMMED},  // carriage did not reach home
      {0x9B1A, SANE_STATUS_JAMMED},  // motor does not stop
      {0x9B1B, SANE_STATUS_JAMMED},
      {0x9B0B, SANE_STATUS_IO_ERROR},  // a line could not be assembled
      {0x9B2D, SANE_STATUS_IO_ERROR},
      {0xA405, SANE_STATUS_DEVICE_BUSY},  // lamp still warming up: try again later
      {0xA603, SANE_STATUS_INVAL},        // no light selected
      {0xB200, SANE_STATUS_IO_ERROR},     // film light stays dark
      {0xB300, SANE_STATUS_IO_ERROR},     // no reference mark
      {0xFC07, SANE_STATUS_IO_ERROR},     // data file missing
      {0x1234, SANE_STATUS_IO_ERROR},     // a code nobody knows
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sane_status_for(c.code), c.expected) << std::hex << c.code;
  }
}

TEST(Config, DirectoriesFollowSaneConfigDir) {
  using Dirs = std::vector<std::string>;
  EXPECT_EQ(config_directories(nullptr, "/etc/sane.d"), (Dirs{".", "/etc/sane.d"}));
  EXPECT_EQ(config_directories("/a:/b", "/etc/sane.d"), (Dirs{"/a", "/b"}));
  // A value ending in the separator searches the defaults after it.
  EXPECT_EQ(config_directories("/a:", "/etc/sane.d"), (Dirs{"/a", ".", "/etc/sane.d"}));
}

TEST(Config, EntriesCommentsAndLinesThatAreNoDevice) {
  std::istringstream text(
      "# scanners\n"
      "  sim:/run/qrx.sock  \n"
      "\n"
      "   # an indented comment\n"
      "sim:#name-with-hash\n"
      "usb:3:17\n"
      "usb\n"
      "sim:/run/qrx.sock\n"
      "net:elsewhere\n"
      "usb:3\n");
  BackendConfig config;
  parse_config(text, config);
  EXPECT_EQ(config.devices,
            (std::vector<std::string>{"sim:/run/qrx.sock", "sim:#name-with-hash", "usb:3:17"}));
  EXPECT_TRUE(config.usb_discovery);
}

TEST(Config, DeviceNamesWithAndWithoutTheBackendsName) {
  EXPECT_EQ(device_path_from_name("qrx7730:sim:"), "sim:");
  EXPECT_EQ(device_path_from_name("sim:/tmp/a.sock"), "sim:/tmp/a.sock");
  EXPECT_EQ(device_path_from_name("qrx7730:usb:1:5"), "usb:1:5");
  EXPECT_EQ(device_path_from_name("usb:"), "usb:");
  EXPECT_EQ(device_path_from_name("usb:001:011#left"), "usb:001:011#left");
  for (const char* name :
       {"usb:1", "usb:a:b", "usb:1:", "usb:1#x:2", "net:host:qrx7730:sim:", "", "qrx7730:"}) {
    EXPECT_FALSE(device_path_from_name(name).has_value()) << name;
  }
}

ScanSettings corners(double left, double top, double right, double bottom) {
  ScanSettings settings;
  settings.tl_x = SANE_FIX(left);
  settings.tl_y = SANE_FIX(top);
  settings.br_x = SANE_FIX(right);
  settings.br_y = SANE_FIX(bottom);
  return settings;
}

TEST(Geometry, TheWindowFromCornersInMillimetres) {
  const Glass glass{9600, 81664, 112256};
  ScanWindow window;
  std::string error;
  // 1 in from the left, 2 in down, 4 x 2 in: 1/9600 inch units.
  ASSERT_TRUE(window_on_glass(corners(25.4, 50.8, 127, 101.6), glass, window, error)) << error;
  EXPECT_EQ(window.x, 9600u);
  EXPECT_EQ(window.y, 19200u);
  EXPECT_EQ(window.width, 38400u);
  EXPECT_EQ(window.length, 19200u);
  // Corners given the other way round make the same window.
  ScanWindow swapped;
  ASSERT_TRUE(window_on_glass(corners(127, 101.6, 25.4, 50.8), glass, swapped, error));
  EXPECT_EQ(swapped.x, 9600u);
  EXPECT_EQ(swapped.length, 19200u);
  // 0.3 mm is 113 units, below the 128 the scanner takes; 0.34 mm is 128.
  EXPECT_FALSE(window_on_glass(corners(10, 10, 10.3, 50), glass, window, error));
  EXPECT_NE(error.find("at least 0.34 mm"), std::string::npos) << error;
  EXPECT_TRUE(window_on_glass(corners(10, 10, 10.34, 50), glass, window, error));
  EXPECT_EQ(window.width, 128u);
  // The whole glass, and a little more.
  EXPECT_TRUE(window_on_glass(corners(0, 0, 216.0693, 297.0107), glass, window, error));
  EXPECT_EQ(window.width, 81664u);
  EXPECT_EQ(window.length, 112256u);
  EXPECT_FALSE(window_on_glass(corners(0, 0, 216.2, 100), glass, window, error));
}

TEST(Geometry, TheImageExpectedBeforeTheScanAndAnnouncedByTheLibrary) {
  const Glass glass{9600, 81664, 112256};
  ScanSettings settings = corners(25.4, 50.8, 127, 101.6);
  settings.dpi = 300;
  ScanWindow window;
  std::string error;
  ASSERT_TRUE(window_on_glass(settings, glass, window, error));
  SANE_Parameters p = expected_parameters(settings, window, glass);
  EXPECT_EQ(p.format, SANE_FRAME_RGB);
  EXPECT_EQ(p.pixels_per_line, 1200);  // 4 in at 300 dpi
  EXPECT_EQ(p.lines, 600);
  EXPECT_EQ(p.bytes_per_line, 3600);
  EXPECT_EQ(p.last_frame, SANE_TRUE);
  settings.colour = false;
  settings.depth = 16;
  p = announced_parameters(settings, 2400, 599);
  EXPECT_EQ(p.format, SANE_FRAME_GRAY);
  EXPECT_EQ(p.depth, 16);
  EXPECT_EQ(p.pixels_per_line, 1200);
  EXPECT_EQ(p.lines, 599);
  const ScanParameter record = scan_parameter(settings, window);
  EXPECT_EQ(record.xRes, 300);
  EXPECT_EQ(record.yRes, 300);
  EXPECT_EQ(record.BitsPerPixel, 16);
  EXPECT_EQ(record.ScanningArea.width, 38400u);
  EXPECT_EQ(record.FilmArea, 0);

  // Lineart: read as 8-bit grey, framed as one bit a pixel, eight pixels a byte.
  settings.depth = 8;
  settings.lineart = true;
  p = expected_parameters(settings, window, glass);
  EXPECT_EQ(p.format, SANE_FRAME_GRAY);
  EXPECT_EQ(p.depth, 1);
  EXPECT_EQ(p.pixels_per_line, 1200);
  EXPECT_EQ(p.bytes_per_line, 150);
  p = announced_parameters(settings, 1203, 600);  // the library's 8-bit line
  EXPECT_EQ(p.pixels_per_line, 1203);
  EXPECT_EQ(p.bytes_per_line, 151);
  EXPECT_EQ(scan_parameter(settings, window).BitsPerPixel, 8);
}

}  // namespace
}  // namespace qrx::sane
