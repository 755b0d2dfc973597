// scanimage on the backend: the device list, the options, a scanner another
// front end holds, the calibrate button, the library's failures in the debug log,
// and (once the library scans) whole scans into PNG compared with the document on
// the glass, a scan cancelled and scanned again, two scanimage at once on one
// scanner, and scanimage's own test of the backend (-T).
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

#include "device_lock.h"
#include "sane_programs.h"
#include "scan_document.h"
#include "tools/image_reading.h"

namespace qrx::test {
namespace {

namespace fs = std::filesystem;

class Scanimage : public SaneProgramTest {};

TEST_F(Scanimage, ListsTheConfiguredScannersThatAnswer) {
  const std::string socket = start_daemon();
  write(config_ + "/qrx7730.conf", "# an emulated scanner, a daemon's, a daemon not there\n" +
                                       own_device() + "\nsim:" + socket + "\nsim:" + dir.path() +
                                       "/none.sock\n");
  const ProgramRun run = scanimage({"-L"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "device `qrx7730:" + own_device() +
                         "' is a QUARN RV-70413K flatbed scanner\n"
                         "device `qrx7730:sim:" +
                         socket + "' is a QUARN RV-70413K flatbed scanner\n");
}

TEST_F(Scanimage, ShowsTheOptionsWithTheirWellKnownNames) {
  const ProgramRun run = scanimage({"-d", "qrx7730:" + own_device(), "-A"});
  EXPECT_EQ(run.status, 0) << run.err;
  for (const char* line : {
           "All options specific to device `qrx7730:",
           "    --source Flatbed [Flatbed]\n",
           "    --mode Color|Gray|Lineart [Color]\n",
           "    --depth 1|8|16bit [8]\n",
           "    --resolution 75|150|300|600|1200|2400|4800dpi [300]\n",
           "    --preview[=(yes|no)] [no]\n",
           "    -l 0..216.069mm [0]\n",
           "    -t 0..297.011mm [0]\n",
           "    -x 0..216.069mm [216.069]\n",
           "    -y 0..297.011mm [297.011]\n",
           "    --brightness -100..100% (in steps of 1) [0]\n",
           "    --contrast -100..100% (in steps of 1) [0]\n",
           "    --threshold 0..100% [inactive]\n",
           "    --custom-gamma[=(yes|no)] [no] [advanced]\n",
           "    --gamma-table 0..255,... (in steps of 1) [inactive]\n",
           "    --red-gamma-table 0..255,... (in steps of 1) [inactive]\n",
           "    --green-gamma-table 0..255,... (in steps of 1) [inactive]\n",
           "    --blue-gamma-table 0..255,... (in steps of 1) [inactive]\n",
           "    --calibrate [advanced]\n",
           "    --scan[=(yes|no)] [no] [hardware]\n",
           "    --copy[=(yes|no)] [no] [hardware]\n",
           "    --email[=(yes|no)] [no] [hardware]\n",
           "    --file[=(yes|no)] [no] [hardware]\n",
       }) {
    EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;
  }
  // A value the scanner does not take is refused by name.
  const ProgramRun wrong = scanimage({"-d", "qrx7730:" + own_device(), "--mode", "Halftone", "-n"});
  EXPECT_NE(wrong.status, 0);
  EXPECT_NE(wrong.err.find("scanimage: setting of option --mode failed (Invalid argument)"),
            std::string::npos)
      << wrong.err;
}

TEST_F(Scanimage, AScannerAnotherFrontEndHoldsIsBusyAndStillListed) {
  const std::string socket = start_daemon();
  const std::string device = "sim:" + socket;
  write(config_ + "/qrx7730.conf", device + "\n");
  std::unique_ptr<sane::DeviceLock> other = sane::DeviceLock::try_take(device);
  ASSERT_NE(other, nullptr);
  ProgramRun run = scanimage({"-d", "qrx7730:" + device, "-A"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("scanimage: open of device qrx7730:" + device + " failed: Device busy"),
            std::string::npos)
      << run.err;
  run = scanimage({"-L"});
  EXPECT_NE(run.out.find("device `qrx7730:" + device + "'"), std::string::npos) << run.out;
  other.reset();
  run = scanimage({"-d", "qrx7730:" + device, "-A"});
  EXPECT_EQ(run.status, 0) << run.err;
}

TEST_F(Scanimage, TheDebugLogCarriesTheLibrarysStatus) {
  const std::string device = "qrx7730:sim:" + dir.path() + "/none.sock";
  const ProgramRun run = scanimage({"-d", device, "-A"}, {"SANE_DEBUG_QRX7730=1"});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(std::regex_search(
      run.err,
      std::regex("\\[qrx7730\\] [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3} FindScannerEx failed "
                 "with QRX_E_DEVICE_OPEN \\(0x0101\\): ")))
      << run.err;
  EXPECT_NE(run.err.find("scanimage: open of device " + device + " failed: Invalid argument"),
            std::string::npos)
      << run.err;
}

TEST_F(Scanimage, TheCalibrateButtonCalibratesForTheResolutionChosen) {
  const std::string socket = start_daemon();
  const ProgramRun run =
      scanimage({"-d", "qrx7730:sim:" + socket, "--resolution", "300", "--calibrate", "-n"});
  EXPECT_EQ(run.status, 0) << run.err;
  // A calibration for 300 dpi is made at 600 dpi, the next multiple of 600, and
  // kept in the shading file of 600 dpi.
  const std::string kept = dir.scanner_dir("sim-daemon-" + socket);
  EXPECT_TRUE(fs::exists(kept + "QRX7730D.SHD")) << run.err;
  EXPECT_FALSE(fs::exists(kept + "QRX7730C.SHD"));
}

// --- Whole scans, on the in-process scanner run 20 times faster than real time.

class ScanimageScans : public Scanimage {
 protected:
  // The document's PNM file.
  std::string page() {
    const std::string path = dir.path() + "/page.pnm";
    EXPECT_TRUE(write_pnm(document, path));
    return path;
  }
  // A PNG that shows the document's top-left 2 x 1.5 in at 300 dpi.
  void expect_document(const std::string& png) {
    const ReadImage image = read_png(png);
    ASSERT_TRUE(image.ok) << image.error;
    EXPECT_EQ(image.width, 600u);
    EXPECT_EQ(image.height, 450u);
    EXPECT_EQ(image.channels, 3);
    EXPECT_EQ(image.depth, 8);
    EXPECT_NEAR(image.x_dpi, 300, 0.5);
    const Fit fit = best_fit(document, image.samples, image.width, image.height, 3, 3);
    EXPECT_GT(fit.correlation, 0.95);
    EXPECT_LE(std::abs(fit.dx), 2);
    EXPECT_LE(std::abs(fit.dy), 2);
  }
  std::vector<std::string> area() const { return {"-x", "50.8", "-y", "38.1"}; }

  Document document = make_document(660, 500);
};

TEST_F(ScanimageScans, WritesTheDocumentOnTheGlassIntoAPng) {
  const std::string png = dir.path() + "/out.png";
  std::vector<std::string> arguments = {"-d",
                                        "qrx7730:" + own_device(),
                                        "--resolution",
                                        "300",
                                        "--mode",
                                        "Color",
                                        "--format=png",
                                        "-o",
                                        png};
  for (const std::string& a : area()) arguments.push_back(a);
  const ProgramRun run =
      scanimage(arguments, {"QRX7730_SIM=speed=" QRX_SIM_SPEED ",document=" + page()});
  ASSERT_EQ(run.status, 0) << run.err;
  expect_document(png);
}

TEST_F(ScanimageScans, AScanCancelledMidwayLeavesTheScannerFreeForTheNext) {
  const std::string socket = start_daemon({"--document", page()});
  const std::string device = "qrx7730:sim:" + socket;
  // The whole glass into a file, interrupted (as Ctrl-C does) once the first lines
  // have come: a small part of the 2552 x 3508 x 3 bytes of the image.
  const std::string first = dir.path() + "/first.pnm";
  std::unique_ptr<ChildProcess> interrupted = start_scanimage(
      {"-d", device, "--resolution", "300", "-o", first}, dir.path() + "/first.err");
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kProgramWaitMs);
  const auto written = [&] {
    std::error_code error;
    const uintmax_t size = fs::file_size(first, error);
    return error ? 0 : size;  // not there yet
  };
  while (written() < 100000 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_GE(written(), 100000u);
  interrupted->kill_now(SIGINT);
  EXPECT_NE(interrupted->wait(kProgramWaitMs), 0);
  EXPECT_NE(file_text(dir.path() + "/first.err").find("sane_read: Operation was canceled"),
            std::string::npos)
      << file_text(dir.path() + "/first.err");

  const std::string png = dir.path() + "/after.png";
  std::vector<std::string> arguments = {"-d", device, "--resolution", "300", "-o", png};
  for (const std::string& a : area()) arguments.push_back(a);
  const ProgramRun run = scanimage(arguments);
  ASSERT_EQ(run.status, 0) << run.err;
  expect_document(png);
}

TEST_F(ScanimageScans, TwoFrontEndsOnOneScannerGetTheirImagesOrAreToldItIsBusy) {
  const std::string socket = start_daemon({"--document", page()});
  const std::string device = "qrx7730:sim:" + socket;
  std::vector<std::unique_ptr<ChildProcess>> runs;
  for (int i = 0; i < 2; ++i) {
    const std::string base = dir.path() + "/front-end-" + std::to_string(i);
    std::vector<std::string> arguments = {"-d", device, "--resolution", "300", "-o", base + ".png"};
    for (const std::string& a : area()) arguments.push_back(a);
    runs.push_back(start_scanimage(arguments, base + ".err"));
  }
  int scanned = 0;
  for (int i = 0; i < 2; ++i) {
    const std::string base = dir.path() + "/front-end-" + std::to_string(i);
    const int status = runs[i]->wait(kProgramWaitMs);
    const std::string text = file_text(base + ".err");
    if (status == 0) {
      ++scanned;
      expect_document(base + ".png");
    } else {
      EXPECT_EQ(status, 1) << text;
      EXPECT_NE(text.find("failed: Device busy"), std::string::npos) << text;
    }
  }
  EXPECT_GE(scanned, 1);
  // And the scanner is free afterwards.
  const std::string png = dir.path() + "/third.png";
  std::vector<std::string> arguments = {"-d", device, "--resolution", "300", "-o", png};
  for (const std::string& a : area()) arguments.push_back(a);
  const ProgramRun run = scanimage(arguments);
  ASSERT_EQ(run.status, 0) << run.err;
  expect_document(png);
}

TEST_F(ScanimageScans, PassesScanimagesOwnTest) {
  std::vector<std::string> arguments = {"-d", "qrx7730:" + own_device(), "--resolution", "150",
                                        "-T"};
  for (const std::string& a : area()) arguments.push_back(a);
  const ProgramRun run =
      scanimage(arguments, {"QRX7730_SIM=speed=" QRX_SIM_SPEED ",document=" + page()});
  EXPECT_EQ(run.status, 0) << run.err;
}

}  // namespace
}  // namespace qrx::test
