// qrxscan's command line: defaults, the image format, every kind of mistake, and
// the scan window on the glass.
#include "scan_options.h"

#include <gtest/gtest.h>

#include "argv_helper.h"

namespace qrx::test {
namespace {

using qrxscan::Action;
using qrxscan::ImageFormat;
using qrxscan::ScanRequest;

bool parse(Argv args, ScanRequest& request, std::string& error) {
  return qrxscan::parse_scan_request(args.argc(), args.argv(), request, error);
}

TEST(ScanOptions, DefaultsAndTheFormatFromTheFileName) {
  ScanRequest request;
  std::string error;
  ASSERT_TRUE(parse({}, request, error)) << error;
  EXPECT_EQ(request.action, Action::kScan);
  EXPECT_EQ(request.device, "sim:");
  EXPECT_EQ(request.resolution, 300);
  EXPECT_EQ(request.depth, 8);
  EXPECT_EQ(request.format, ImageFormat::kPnm) << "standard output gets PNM, as from scanimage";
  EXPECT_TRUE(request.output.empty());

  ASSERT_TRUE(parse({"-o", "dir.x/Scan.TIF", "--mode", "grey", "--depth", "16"}, request, error));
  EXPECT_EQ(request.format, ImageFormat::kTiff);
  EXPECT_EQ(request.mode, qrxscan::ColourMode::kGray);
  ASSERT_TRUE(parse({"-o", "a.png/scan.jpeg"}, request, error));
  EXPECT_EQ(request.format, ImageFormat::kJpeg) << "the extension of the file, not of a directory";
  ASSERT_TRUE(parse({"--format", "JPG", "-o", "a.png"}, request, error));
  EXPECT_EQ(request.format, ImageFormat::kJpeg) << "an explicit format wins";
  ASSERT_TRUE(parse({"-d", "sim:/a.sock", "calibrate", "1200"}, request, error));
  EXPECT_EQ(request.action, Action::kCalibrate);
  EXPECT_EQ(request.calibrate_dpi, 1200);
  ASSERT_TRUE(parse({"-L", "-d", "sim:/a", "-d", "sim:/b"}, request, error));
  EXPECT_EQ(request.devices, (std::vector<std::string>{"sim:/a", "sim:/b"}));
  ASSERT_TRUE(parse({"--area=1,2.5,30,40", "-o", "x.pgm"}, request, error));
  EXPECT_EQ(request.top_mm, 2.5);
  EXPECT_EQ(*request.height_mm, 40);
}

TEST(ScanOptions, MistakesNameTheArgumentAndLeaveTheRequestAlone) {
  struct {
    Argv args;
    const char* named;
  } cases[] = {
      {{"--resolution", "600abc"},
       "--resolution wants a resolution in dots per inch such as 300, not '600abc'"},
      {{"-r", "0"}, "-r wants"},
      {{"--mode", "sepia"}, "--mode wants Color or Gray, not 'sepia'"},
      {{"--depth", "12"}, "--depth wants 8 or 16, not '12'"},
      {{"-l", "-5"}, "-l wants a length in millimetres"},
      {{"-x", "0"}, "-x wants a length above 0 millimetres"},
      {{"--area", "1,2,3"}, "--area wants"},
      {{"--area", "1,2,3,4,5"}, "--area wants"},
      {{"-l", "1", "--area", "0,0,10,10"}, "--area and -l/-t/-x/-y"},
      {{"-o", "scan.gif"}, "'scan.gif'"},
      {{"--format", "gif"}, "--format wants png, tiff, jpeg or pnm, not 'gif'"},
      {{"--depth", "16", "-o", "a.jpg"}, "--depth 16 needs PNG, TIFF or PNM"},
      {{"--format", "tiff"}, "tiff output needs a file"},
      {{"--resolution", "300", "-r", "600"}, "-r given twice"},
      {{"-d", "a", "-d", "b"}, "--device given twice"},
      {{"scan", "now"}, "unexpected argument 'now'"},
      {{"calibrate", "fast"}, "'fast'"},
      {{"print"}, "unknown command 'print'"},
      {{"-L", "info"}, "unexpected argument 'info'"},
      {{"--colour"}, "unknown option '--colour'"},
  };
  for (auto& c : cases) {
    ScanRequest request;
    request.resolution = 1234;
    std::string error;
    EXPECT_FALSE(qrxscan::parse_scan_request(c.args.argc(), c.args.argv(), request, error))
        << c.named;
    EXPECT_NE(error.find(c.named), std::string::npos) << error;
    EXPECT_EQ(request.resolution, 1234) << c.named;
  }
  // --help and --version win over everything else that is well formed.
  ScanRequest request;
  std::string error;
  ASSERT_TRUE(parse({"-o", "x.gif", "--help"}, request, error));
  EXPECT_EQ(request.action, Action::kHelp);
  ASSERT_TRUE(parse({"-V"}, request, error));
  EXPECT_EQ(request.action, Action::kVersion);
}

qrxscan::Abilities glass() {
  qrxscan::Abilities abilities;
  abilities.resolutions = {75, 150, 300, 600, 1200, 2400, 4800};
  abilities.area_unit = 9600;
  abilities.glass_width = 81664;
  abilities.glass_length = 112256;
  return abilities;
}

TEST(ScanOptions, TheWindowInTheScannersUnitsAndItsLimits) {
  ScanRequest request;
  std::string error;
  qrxscan::Window window;
  // 25.4 mm is 9600 units; other lengths round to the nearest unit.
  ASSERT_TRUE(parse({"-l", "25.4", "-t", "10", "-x", "50", "-y", "60"}, request, error));
  ASSERT_TRUE(qrxscan::window_on_glass(request, glass(), window, error)) << error;
  EXPECT_EQ(window.x, 9600u);
  EXPECT_EQ(window.y, 3780u);        // 3779.53
  EXPECT_EQ(window.width, 18898u);   // 18897.64
  EXPECT_EQ(window.length, 22677u);  // 22677.17
  // Without a size the window reaches the far edges.
  ASSERT_TRUE(parse({"-l", "25.4"}, request, error));
  ASSERT_TRUE(qrxscan::window_on_glass(request, glass(), window, error));
  EXPECT_EQ(window.width, 81664u - 9600u);
  EXPECT_EQ(window.length, 112256u);

  struct {
    Argv args;
    const char* named;
  } refused[] = {
      {{"-x", "216.2"}, "right edge of the glass (216.1 mm wide)"},
      {{"-l", "216"}, "right edge"},
      {{"-t", "200", "-y", "100"}, "far edge of the glass (297.0 mm long)"},
      {{"-x", "0.3"}, "at least 0.34 mm"},
      {{"--resolution", "500"}, "--resolution 500 is not offered by the scanner (75, 150, 300"},
  };
  for (auto& c : refused) {
    ASSERT_TRUE(qrxscan::parse_scan_request(c.args.argc(), c.args.argv(), request, error)) << error;
    EXPECT_FALSE(qrxscan::window_on_glass(request, glass(), window, error)) << c.named;
    EXPECT_NE(error.find(c.named), std::string::npos) << error;
  }
  // The whole glass, exactly.
  ASSERT_TRUE(parse({"-x", "216.069", "-y", "297.011"}, request, error));
  EXPECT_TRUE(qrxscan::window_on_glass(request, glass(), window, error)) << error;
}

}  // namespace
}  // namespace qrx::test
