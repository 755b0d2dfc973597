// scanimage with the options front ends reach for: each enhancement, Lineart and
// the preview checked against the document on the glass; and on a daemon's
// scanner, one another program scans on listed and busy, and a front-panel button
// pressed from outside the daemon starting the scan a front end waits for.
#include <signal.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <regex>
#include <thread>

#include "sane_programs.h"
#include "tools/image_reading.h"

namespace qrx::test {
namespace {

namespace fs = std::filesystem;

// The document: three blocks side by side, 1 x 0.5 in at 300 dpi, as linear
// reflectance: mid-grey (128/255), paper (219/255) and black (8/255).
constexpr uint32_t kWidth = 300, kHeight = 150;
const uint8_t kBlocks[3] = {128, 219, 8};

class ScanimageOptions : public SaneProgramTest {
 protected:
  std::string page() {
    const std::string path = dir.path() + "/blocks.pgm";
    std::string pixels;
    for (uint32_t y = 0; y < kHeight; ++y) {
      for (uint32_t x = 0; x < kWidth; ++x) pixels.push_back(char(kBlocks[x / 100]));
    }
    write(path, "P5\n300 150\n255\n" + pixels);
    return path;
  }
  // The document's top-left 1 x 0.5 in as a PNG, with the options given, from
  // the emulated scanner in scanimage's own process, 20 times as fast as the real
  // one, with the document on its glass.
  // The debug output goes to log when one is given.
  ReadImage scan(std::vector<std::string> options, std::string* log = nullptr) {
    const std::string png = dir.path() + "/scan.png";
    fs::remove(png);
    std::vector<std::string> arguments = {
        "-d", "qrx7730:" + own_device(), "-x", "25.4", "-y", "12.7", "--format=png", "-o", png};
    arguments.insert(arguments.end(), options.begin(), options.end());
    std::vector<std::string> environment = {
        "QRX7730_SIM=speed=" QRX_SIM_SPEED ",document=" + dir.path() + "/blocks.pgm"};
    if (log != nullptr) environment.push_back("SANE_DEBUG_QRX7730=2");
    const ProgramRun run = scanimage(arguments, environment);
    EXPECT_EQ(run.status, 0) << run.err;
    if (log != nullptr) *log = run.err;
    return read_png(png);
  }
};

// The mean of each block's inner part (away from its edges) in one channel of a
// scan of the document at dpi.
struct Levels {
  double grey = 0, paper = 0, black = 0;
};
Levels levels(const ReadImage& image, int dpi, int channel = 0) {
  Levels found;
  double* block[3] = {&found.grey, &found.paper, &found.black};
  const uint32_t across = uint32_t(dpi) / 3;  // a block is 1/3 in wide
  for (int b = 0; b < 3; ++b) {
    double sum = 0;
    int n = 0;
    for (uint32_t y = image.height / 5; y < image.height * 4 / 5; ++y) {
      for (uint32_t x = b * across + across / 8; x < (b + 1) * across - across / 8; ++x) {
        sum += image.samples[(size_t{y} * image.width + x) * image.channels + channel];
        ++n;
      }
    }
    *block[b] = sum / n;
  }
  return found;
}

TEST_F(ScanimageOptions, EachEnhancementLineartAndPreviewShowTheDocumentAsWorkedOut) {
  page();
  const std::vector<std::string> grey = {"--mode", "Gray", "--resolution", "150"};
  const auto with = [&](std::vector<std::string> more) {
    std::vector<std::string> all = grey;
    all.insert(all.end(), more.begin(), more.end());
    return all;
  };
  // As the scanner sees the document without a tone curve. The first scan of the
  // test calibrates first (nothing is stored yet), and the debug output says what
  // is waited for, in order, each line with the time of day.
  std::string log;
  const ReadImage plain = scan(grey, &log);
  size_t at = 0;
  for (const char* waited : {"waiting for the carriage to go home and find the scan origin\n",
                             "the scanner is initialised (", "scan started: 150 x 75 pixels",
                             "waiting for the scanner to calibrate: ",
                             "the scanner has calibrated (", "first line after "}) {
    const size_t found = log.find(waited, at);
    ASSERT_NE(found, std::string::npos) << waited << "\n" << log;
    ASSERT_GE(found, 23u);
    EXPECT_TRUE(
        std::regex_match(log.substr(found - 23, 23),
                         std::regex("\\[qrx7730\\] [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3} ")))
        << log.substr(found - 23, 60);
    at = found;
  }
  ASSERT_TRUE(plain.ok) << plain.error;
  ASSERT_EQ(plain.width, 150u);
  ASSERT_EQ(plain.depth, 8);
  const Levels seen = levels(plain, 150);
  EXPECT_LT(seen.black, seen.grey - 60);
  EXPECT_LT(seen.grey, seen.paper - 60);
  EXPECT_LT(seen.paper + 51, 300);  // (paper is not white: white would hide the change)

  // Brightness +20 % raises every level by 51 (20 % of 255), the paper to white.
  Levels got = levels(scan(with({"--brightness", "20"})), 150);
  EXPECT_NEAR(got.grey, seen.grey + 51, 3);
  EXPECT_NEAR(got.black, seen.black + 51, 3);
  EXPECT_NEAR(got.paper, std::min(255.0, seen.paper + 51), 3);
  // Contrast +50 % makes the levels three times as far from mid-grey (127.5).
  got = levels(scan(with({"--contrast", "50"})), 150);
  EXPECT_NEAR(got.grey, (seen.grey - 127.5) * 3 + 127.5, 4);
  EXPECT_NEAR(got.black, std::max(0.0, (seen.black - 127.5) * 3 + 127.5), 4);
  EXPECT_NEAR(got.paper, std::min(255.0, (seen.paper - 127.5) * 3 + 127.5), 4);
  // A square-root gamma table.
  std::string root;
  for (int k = 0; k < 256; ++k) {
    root += (k ? "," : "") + std::string("[") + std::to_string(k) + "]" +
            std::to_string(std::lround(255 * std::sqrt(k / 255.0)));
  }
  got = levels(scan(with({"--custom-gamma=yes", "--gamma-table", root})), 150);
  EXPECT_NEAR(got.grey, 255 * std::sqrt(seen.grey / 255), 3);
  EXPECT_NEAR(got.black, 255 * std::sqrt(seen.black / 255), 3);
  EXPECT_NEAR(got.paper, 255 * std::sqrt(seen.paper / 255), 3);

  // Lineart: one bit a pixel (in the PNG 0 is black). At 35 % of white the grey
  // block is white, at 70 % black; the paper white and the black block black in both.
  ASSERT_GT(seen.grey, 0.35 * 255 + 10);
  ASSERT_LT(seen.grey, 0.70 * 255 - 10);
  for (const auto& [options, grey_is_black] :
       {std::pair<std::vector<std::string>, bool>{{"--mode", "Lineart", "--threshold", "35"},
                                                  false},
        // simple-scan's text mode: depth 1.
        {{"--depth", "1", "--threshold", "70"}, true}}) {
    const ReadImage lineart = scan(with(options));
    ASSERT_TRUE(lineart.ok) << lineart.error;
    EXPECT_EQ(lineart.depth, 1);
    EXPECT_EQ(lineart.channels, 1);
    ASSERT_EQ(lineart.width, 150u);
    got = levels(lineart, 150);
    EXPECT_EQ(got.grey, grey_is_black ? 0 : 1) << options.back();
    EXPECT_EQ(got.paper, 1);
    EXPECT_EQ(got.black, 0);
  }

  // Colour with a table for red alone: red follows it, green and blue stay.
  const ReadImage colour = scan({"--resolution", "150"});
  const ReadImage red_root =
      scan({"--resolution", "150", "--custom-gamma=yes", "--red-gamma-table", root});
  for (int c = 0; c < 3; ++c) {
    const Levels before = levels(colour, 150, c), after = levels(red_root, 150, c);
    const auto expected = [&](double v) { return c == 0 ? 255 * std::sqrt(v / 255) : v; };
    EXPECT_NEAR(after.grey, expected(before.grey), 3) << c;
    EXPECT_NEAR(after.paper, expected(before.paper), 3) << c;
  }

  // A preview is tagged with the resolution it is scanned at, which the
  // resolution option reads; a resolution chosen after it is honoured.
  const ReadImage preview = scan({"--resolution", "600", "--preview=yes"});
  EXPECT_EQ(preview.width, 75u);
  EXPECT_NEAR(preview.x_dpi, 75, 0.5);
  const ReadImage chosen = scan({"--preview=yes", "--resolution", "600"});
  EXPECT_EQ(chosen.width, 600u);
  EXPECT_NEAR(chosen.x_dpi, 600, 0.5);
}

// Programs sharing a daemon's scanner, one calibration for all: qrxscan scanning
// on it while scanimage lists it and is told it is busy; then a front end that
// waits for the scan button, pressed from outside the daemon, and scans.
TEST_F(ScanimageOptions, ADaemonsScannerListedWhileAnotherProgramScansAndScannedAtItsButton) {
  const std::string log = dir.path() + "/daemon.log";
  const std::string socket = start_daemon({"--document", page(), "--verbose"}, "50", log);
  const std::string path = "sim:" + socket;
  const std::string device = "qrx7730:" + path;
  write(config_ + "/qrx7730.conf", path + "\n");
  const auto wait_for = [](const std::string& file, const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (file_text(file).find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  };

  // qrxscan scanning the glass into a pipe nobody reads: once the pipe is full it
  // waits in the middle of its scan, which keeps the scanner its own.
  const std::string progress = dir.path() + "/qrxscan.err";
  ChildProcess qrxscan({"/usr/bin/env", "TMPDIR=" + dir.path(), "XDG_CONFIG_HOME=" + dir.path(),
                        "/bin/sh", "-c", "exec \"$0\" \"$@\" 2>\"" + progress + "\"", QRXSCAN, "-d",
                        path, "--resolution", "300", "-p"});
  ASSERT_TRUE(wait_for(progress, "Scanning: ")) << file_text(progress);
  ProgramRun run = scanimage({"-L"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "device `" + device + "' is a QUARN RV-70413K flatbed scanner\n");
  run = scanimage({"-d", device, "-A"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("open of device " + device + " failed: Device busy"), std::string::npos)
      << run.err;
  EXPECT_EQ(qrxscan.wait(0), -1);  // still scanning, so all this was while it scanned
  qrxscan.kill_now(SIGKILL);
  EXPECT_EQ(qrxscan.wait(kProgramWaitMs), 128 + SIGKILL);

  // Nothing pressed: the scan sensor reads no.
  run = scanimage({"-d", device, "-A"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("    --scan[=(yes|no)] [no] [hardware]\n"), std::string::npos) << run.out;
  // The scan button pressed from outside: it stays down until a host reads it.
  ChildProcess press({QRX_SIM_DAEMON, "press", socket, "scan"});
  ASSERT_TRUE(wait_for(log, "qrx7730-sim: button 1 down\n")) << file_text(log);
  // A front end that scans once the scan sensor reads yes (as a user's script
  // does with scanimage: this one has no --wait-for-button). A sanitizer build's
  // backend needs its runtime preloaded into each scanimage.
  const std::string png = dir.path() + "/pressed.png";
  const std::string script =
      std::string(sanitized() ? "run() { LD_PRELOAD=\"$QRX_SANE_PRELOAD\" \"$@\"; }; "
                              : "run() { \"$@\"; }; ") +
      "tries=0; until run \"$0\" -d \"$1\" -A | grep -q -F -- '--scan[=(yes|no)] [yes]'; do "
      "tries=$((tries + 1)); [ $tries -lt 50 ] || exit 3; sleep 0.2; done; "
      "run \"$0\" -d \"$1\" --resolution 150 -x 25.4 -y 12.7 --format=png -o \"$2\"";
  run = run_program({"/bin/sh", "-c", script, QRX_SCANIMAGE, device, png}, environment(config_),
                    dir.path() + "/front-end.err", kProgramWaitMs);
  EXPECT_EQ(run.status, 0) << run.err;
  // The press was read by a host, and the image is the document.
  std::string said;
  ASSERT_TRUE(press.read_line(said, kProgramWaitMs));
  EXPECT_EQ(said, "qrx7730-sim: button 1 (scan) pressed and read by a host");
  EXPECT_EQ(press.wait(kProgramWaitMs), 0);
  const ReadImage image = read_png(png);
  ASSERT_TRUE(image.ok) << image.error;
  EXPECT_EQ(image.width, 150u);
  const Levels seen = levels(image, 150);
  EXPECT_LT(seen.black, seen.grey - 60);
  EXPECT_LT(seen.grey, seen.paper - 60);
}

}  // namespace
}  // namespace qrx::test
