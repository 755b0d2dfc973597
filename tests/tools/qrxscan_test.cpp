// qrxscan run as a user runs it: help and version, mistakes, the device list,
// failures in words, and (once the library scans) whole scans of the built-in
// chart into PNG, TIFF and JPEG files and the progress bar on a terminal.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "image_reading.h"
#include "program_runner.h"
#include "support/temp_dir.h"

namespace qrx::test {
namespace {

namespace fs = std::filesystem;

class QrxscanTest : public ::testing::Test {
 protected:
  // qrxscan with the arguments, its temporary files (shading, counter) in this
  // test's own directory, and the extra environment.
  ProgramRun qrxscan(std::vector<std::string> arguments,
                     std::vector<std::string> environment = {}) {
    arguments.insert(arguments.begin(), QRXSCAN);
    environment.push_back("TMPDIR=" + dir.path());
    environment.push_back("XDG_CONFIG_HOME=" + dir.path() + "/config");
    return run_program(arguments, environment, dir.path() + "/stderr.txt");
  }
  // A device path whose status block is this test's alone.
  std::string own_device() const {
    return "sim:#" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
           "-" + std::to_string(getpid());
  }

  ScopedTempDir dir;
};

TEST_F(QrxscanTest, HelpAndVersionExitWithZero) {
  ProgramRun run = qrxscan({"--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.rfind("usage: qrxscan", 0), 0u) << run.out;
  EXPECT_NE(run.out.find("--resolution=DPI"), std::string::npos);
  EXPECT_EQ(run.err, "");
  run = qrxscan({"--version"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string("qrxscan ") + QRX7730_VERSION_STRING +
                         " (qrx7730 library interface version 2)\n");
}

TEST_F(QrxscanTest, MistakesExitWithTwoAndNameTheArgument) {
  struct {
    std::vector<std::string> arguments;
    const char* named;
  } cases[] = {
      {{"--resolution", "600abc"},
       "qrxscan: --resolution wants a resolution in dots per inch such as 300, not '600abc'"},
      {{"--bogus"}, "qrxscan: unknown option '--bogus'"},
      {{"-o", "scan.gif"}, "'scan.gif'"},
      {{"info", "now"}, "qrxscan: unexpected argument 'now'"},
  };
  for (const auto& c : cases) {
    const ProgramRun run = qrxscan(c.arguments);
    EXPECT_EQ(run.status, 2) << c.named;
    EXPECT_NE(run.err.find(c.named), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Try 'qrxscan --help'"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
  // What only the scanner can tell is a mistake in the arguments too.
  const ProgramRun run =
      qrxscan({"-d", own_device(), "--resolution", "500", "-o", dir.path() + "/a.png"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("--resolution 500 is not offered"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(dir.path() + "/a.png.part"));
}

TEST_F(QrxscanTest, ListsTheBuiltInScannerAndSaysWhichDaemonsAreNotThere) {
  fs::create_directories(dir.path() + "/config/qrx7730");
  const std::string gone = dir.path() + "/gone.sock";
  std::ofstream(dir.path() + "/config/qrx7730/devices") << "# daemons\n  sim:" << gone << "  \n\n";
  const std::string other = dir.path() + "/other.sock";
  const ProgramRun run = qrxscan({"-L", "-d", "sim:" + other});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "device `sim:' is a QUARN RV-70413K flatbed scanner (emulated in this process)\n");
  EXPECT_NE(run.err.find("no emulator daemon listens on " + gone), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("no emulator daemon listens on " + other), std::string::npos) << run.err;
}

TEST_F(QrxscanTest, AFailedScanNamesTheStatusAndLeavesNoFileBehind) {
  const std::string image = dir.path() + "/scan.png";
  std::ofstream(image) << "an older scan";
  const std::string socket = dir.path() + "/none.sock";
  const ProgramRun run = qrxscan({"-d", "sim:" + socket, "-o", image});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("qrxscan: cannot open the scanner at sim:" + socket +
                         ": FindScannerEx failed with QRX_E_DEVICE_OPEN (0x0101): "),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("no emulator daemon listens on " + socket), std::string::npos);
  EXPECT_FALSE(fs::exists(image + ".part"));
  std::ifstream kept(image);
  std::string text;
  std::getline(kept, text);
  EXPECT_EQ(text, "an older scan");
}

TEST_F(QrxscanTest, WrongEmulatorOptionsAreExplainedInTheEmulatorsWords) {
  const ProgramRun run = qrxscan({"-d", own_device(), "info"}, {"QRX7730_SIM=colour=red"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("QRX_E_DEVICE_OPEN (0x0101)"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("qrxscan: QRX7730_SIM: "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("colour"), std::string::npos) << run.err;
}

TEST_F(QrxscanTest, InfoReportsTheScanner) {
  const ProgramRun run = qrxscan({"-d", own_device(), "info"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("  model:         RV-70413K\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("  resolutions:   75 150 300 600 1200 2400 4800 dpi\n"),
            std::string::npos);
  EXPECT_NE(run.out.find("  flatbed area:  216.1 x 297.0 mm"), std::string::npos);
}

// --- Whole scans, on the in-process scanner run 20 times faster than real time.

// Mean of one channel over a rectangle of an image read back.
double mean(const ReadImage& image, int channel, uint32_t x0, uint32_t y0, uint32_t x1,
            uint32_t y1) {
  double sum = 0;
  for (uint32_t y = y0; y < y1; ++y) {
    for (uint32_t x = x0; x < x1; ++x)
      sum += image.samples[(size_t{y} * image.width + x) * image.channels + channel];
  }
  return sum / ((x1 - x0) * (y1 - y0));
}

const char* kFastScanner = "QRX7730_SIM=speed=" QRX_SIM_SPEED;

TEST_F(QrxscanTest, ScansTheChartIntoPngTiffAndJpegOfTheRightSize) {
  // Colour PNG at 150 dpi of 4 x 2.5 in from (4 in, 2.5 in): 600 x 375 pixels. The
  // chart's black patch (5 to 7 in across, 2.75 to 4.75 in down) lies at pixels
  // 150..450 across and 37..337 down; left of it is paper.
  const std::string png = dir.path() + "/chart.png";
  ProgramRun run = qrxscan({"-d", own_device(), "--resolution", "150", "-l", "101.6", "-t", "63.5",
                            "-x", "101.6", "-y", "63.5", "-o", png},
                           {kFastScanner});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("wrote " + png + ": 600 x 375 pixels at 150 dpi"), std::string::npos)
      << run.err;
  ReadImage image = read_png(png);
  ASSERT_TRUE(image.ok) << image.error;
  EXPECT_EQ(image.width, 600u);
  EXPECT_EQ(image.height, 375u);
  EXPECT_EQ(image.channels, 3);
  EXPECT_EQ(image.depth, 8);
  EXPECT_NEAR(image.x_dpi, 150, 0.013) << "pHYs holds whole pixels per metre";
  for (int c = 0; c < 3; ++c) {
    EXPECT_LT(mean(image, c, 200, 100, 400, 300), 90) << "black patch, channel " << c;
    EXPECT_GT(mean(image, c, 10, 100, 100, 300), 180) << "paper, channel " << c;
  }

  // 16-bit grey TIFF at 300 dpi of one square inch inside the black patch.
  const std::string tiff = dir.path() + "/patch.tiff";
  run = qrxscan({"-d", own_device(), "--resolution", "300", "--mode", "Gray", "--depth", "16",
                 "--area", "127,76.2,25.4,25.4", "-o", tiff},
                {kFastScanner});
  ASSERT_EQ(run.status, 0) << run.err;
  image = read_tiff(tiff);
  ASSERT_TRUE(image.ok) << image.error;
  EXPECT_EQ(image.width, 300u);
  EXPECT_EQ(image.height, 300u);
  EXPECT_EQ(image.channels, 1);
  EXPECT_EQ(image.depth, 16);
  EXPECT_EQ(image.x_dpi, 300);
  EXPECT_EQ(image.y_dpi, 300);
  EXPECT_LT(mean(image, 0, 20, 20, 280, 280), 0.35 * 65535);

  // Colour JPEG at 75 dpi of 2 x 1 in: 150 x 75 pixels.
  const std::string jpeg = dir.path() + "/corner.jpg";
  run = qrxscan({"-d", own_device(), "--resolution", "75", "-x", "50.8", "-y", "25.4", "-o", jpeg},
                {kFastScanner});
  ASSERT_EQ(run.status, 0) << run.err;
  image = read_jpeg(jpeg);
  ASSERT_TRUE(image.ok) << image.error;
  EXPECT_EQ(image.width, 150u);
  EXPECT_EQ(image.height, 75u);
  EXPECT_EQ(image.channels, 3);
  EXPECT_EQ(image.x_dpi, 75);
}

TEST_F(QrxscanTest, ShowsTheProgressBarOnATerminal) {
  const std::string png = dir.path() + "/bar.png";
  int controller = -1;
  const pid_t child = forkpty(&controller, nullptr, nullptr, nullptr);
  ASSERT_GE(child, 0);
  if (child == 0) {
    setenv("TMPDIR", dir.path().c_str(), 1);
    setenv("QRX7730_SIM", "speed=" QRX_SIM_SPEED, 1);
    const std::string device = own_device();
    execl(QRXSCAN, QRXSCAN, "-d", device.c_str(), "--resolution", "75", "-x", "50", "-y", "50",
          "-o", png.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  std::string shown;
  char buffer[4096];
  ssize_t got;
  while ((got = read(controller, buffer, sizeof buffer)) > 0) shown.append(buffer, size_t(got));
  close(controller);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << shown;
  EXPECT_NE(shown.find("\rScanning ["), std::string::npos) << shown;
  EXPECT_NE(shown.find("100%"), std::string::npos) << shown;
  EXPECT_TRUE(fs::exists(png));
}

}  // namespace
}  // namespace qrx::test
