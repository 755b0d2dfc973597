// The network scanner server run as a program for the tests: each test has its
// own emulator daemon socket, temporary directory (so its own calibration), and
// a server on a free port of a loopback address; clients (curl, scanimage with
// sane-airscan) are run as programs against it.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "sane/scan_document.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "tools/image_reading.h"
#include "tools/program_runner.h"

namespace qrx::test {

// The bound of every wait for the server, a client or the scanner: generous, for
// a loaded machine and the thread sanitizer (first scans calibrate for minutes there).
inline constexpr int kWaitMs = 400000;

class EsclServerTest : public ::testing::Test {
 protected:
  // The server stops cleanly on SIGTERM (under a sanitizer: with nothing to
  // report, leaks included).
  void TearDown() override { stop_server(); }
  void stop_server() {
    if (server_ == nullptr) return;
    server_->kill_now(SIGTERM);
    EXPECT_EQ(server_->wait(kWaitMs), 0) << "the server did not end cleanly";
    server_.reset();
  }
  static void write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  static std::string read(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), {});
  }
  // The emulator daemon, with the test document on its glass; the device path.
  std::string start_daemon(int speed = 50) {
    const std::string page = dir.path() + "/page.pnm";
    EXPECT_TRUE(write_pnm(document, page));
    const std::string socket = dir.path() + "/scanner.sock";
    daemon_ = std::make_unique<ChildProcess>(std::vector<std::string>{
        QRX_SIM_DAEMON, "--socket", socket, "--speed", std::to_string(speed), "--document", page});
    std::string line;
    EXPECT_TRUE(daemon_->read_line(line, kWaitMs));
    EXPECT_EQ(line, "qrx7730-sim: serving on " + socket);
    device_ = "sim:" + socket;
    return device_;
  }
  // The server on the daemon's scanner with extra options; its base URL.
  std::string start_server(std::vector<std::string> extra = {}) {
    return start_server_with_environment({}, std::move(extra));
  }
  std::string start_server_with_environment(const std::vector<std::string>& environment,
                                            std::vector<std::string> extra = {}) {
    std::vector<std::string> argv = {"/usr/bin/env", "TMPDIR=" + dir.path()};
    argv.insert(argv.end(), environment.begin(), environment.end());
    argv.insert(argv.end(), {QRX_ESCL_SERVER, "-d", device_, "--listen", "127.0.0.1", "--port", "0",
                             "--no-mdns"});
    argv.insert(argv.end(), extra.begin(), extra.end());
    server_ = std::make_unique<ChildProcess>(argv);
    std::string line;
    EXPECT_TRUE(server_->read_line(line, kWaitMs));
    const std::string prefix = "qrx7730-escl: serving ";
    EXPECT_EQ(line.rfind(prefix, 0), 0u) << line;
    const size_t end = line.find("/ for ");
    base_ = line.substr(prefix.size(), end - prefix.size());
    return base_;
  }
  // curl with the arguments; the body into body_file, and -w's text on the output.
  ProgramRun curl(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"/usr/bin/curl", "-s", "-S", "-k"});
    return run_program(arguments, {}, dir.path() + "/curl.err", kWaitMs);
  }
  // The HTTP status of a request, its body in out.
  int request(const std::string& method, const std::string& path, std::string& out,
              const std::string& body = "", std::vector<std::string> extra = {}) {
    const std::string body_file = dir.path() + "/body.out";
    std::vector<std::string> arguments = {"-X", method, "-o", body_file, "-w", "%{http_code}\n"};
    if (!body.empty()) {
      write(dir.path() + "/body.in", body);
      arguments.insert(arguments.end(), {"--data-binary", "@" + dir.path() + "/body.in", "-H",
                                         "Content-Type: text/xml"});
    }
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    arguments.push_back(base_ + path);
    const ProgramRun run = curl(arguments);
    out = read(body_file);
    std::remove(body_file.c_str());
    return run.out.empty() ? -1 : std::stoi(run.out);
  }
  // POST /eSCL/ScanJobs; the job's path (from Location), or empty.
  std::string post_job(const std::string& settings, int* status = nullptr) {
    const ProgramRun run =
        curl({"-o", "/dev/null", "-D", "-", "-w", "%{http_code}\n", "--data-binary", settings, "-H",
              "Content-Type: text/xml", base_ + "/eSCL/ScanJobs"});
    const std::string& text = run.out;  // the headers, then the status on the last line
    if (status != nullptr)
      *status = text.size() >= 4 ? std::stoi(text.substr(text.size() - 4)) : -1;
    const size_t at = text.find("Location: ");
    if (at == std::string::npos) return {};
    const std::string location = text.substr(at + 10, text.find('\r', at) - at - 10);
    const size_t path = location.find("/eSCL/");
    return path == std::string::npos ? std::string() : location.substr(path);
  }
  static std::string settings(int dpi, const std::string& mode = "RGB24",
                              const std::string& format = "image/jpeg", int width = 600,
                              int height = 450) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><scan:ScanSettings "
           "xmlns:scan=\"http://schemas.hp.com/imaging/escl/2011/05/03\" "
           "xmlns:pwg=\"http://www.pwg.org/schemas/2010/12/sm\"><pwg:Version>2.63</pwg:Version>"
           "<pwg:ScanRegions><pwg:ScanRegion><pwg:ContentRegionUnits>"
           "escl:ThreeHundredthsOfInches</pwg:ContentRegionUnits><pwg:XOffset>0</pwg:XOffset>"
           "<pwg:YOffset>0</pwg:YOffset><pwg:Width>" +
           std::to_string(width) + "</pwg:Width><pwg:Height>" + std::to_string(height) +
           "</pwg:Height></pwg:ScanRegion></pwg:ScanRegions><pwg:InputSource>Platen"
           "</pwg:InputSource><scan:ColorMode>" +
           mode + "</scan:ColorMode><scan:XResolution>" + std::to_string(dpi) +
           "</scan:XResolution><scan:YResolution>" + std::to_string(dpi) +
           "</scan:YResolution><pwg:DocumentFormat>" + format +
           "</pwg:DocumentFormat></scan:ScanSettings>";
  }

  // The document as a scan at dpi sees it, for comparing: below 300 dpi each
  // scan pixel averages the document's pixels it covers (starting phase pixels
  // in); above, each pixel is repeated.
  Document document_at(int dpi, int phase_x = 0, int phase_y = 0) const {
    if (dpi == 300) return document;
    Document out;
    out.width = static_cast<uint32_t>((document.width - phase_x) * dpi / 300);
    out.height = static_cast<uint32_t>((document.height - phase_y) * dpi / 300);
    out.rgb.resize(size_t{out.width} * out.height * 3);
    for (uint32_t y = 0; y < out.height; ++y) {
      for (uint32_t x = 0; x < out.width; ++x) {
        for (int c = 0; c < 3; ++c) {
          double sum = 0;
          int n = 0;
          if (dpi < 300) {
            const int k = 300 / dpi;
            for (int dy = 0; dy < k; ++dy) {
              for (int dx = 0; dx < k; ++dx, ++n) {
                sum += document.at(x * k + dx + phase_x, y * k + dy + phase_y, c);
              }
            }
          } else {
            const int k = dpi / 300;
            sum = document.at(x / k, y / k, c);
            n = 1;
          }
          out.rgb[(size_t{y} * out.width + x) * 3 + c] = static_cast<uint8_t>(sum / n + 0.5);
        }
      }
    }
    return out;
  }
  // Checks an image of the document's top-left 2 x 1.5 inches scanned at dpi.
  void expect_document(const ReadImage& image, int dpi, int channels, double min_correlation) {
    ASSERT_TRUE(image.ok) << image.error;
    EXPECT_NEAR(image.width, 2.0 * dpi, 1.0);
    EXPECT_NEAR(image.height, 1.5 * dpi, 1.0);
    EXPECT_EQ(image.channels, channels);
    // Below 300 dpi a scan pixel covers several of the document's, from where
    // the sensor starts: the best of those alignments.
    Fit fit;
    const int phases = dpi < 300 ? 300 / dpi : 1;
    for (int py = 0; py < phases; ++py) {
      for (int px = 0; px < phases; ++px) {
        const Fit one = best_fit(document_at(dpi, px, py), image.samples, image.width, image.height,
                                 image.channels, dpi >= 300 ? 2 * dpi / 300 + 1 : 1);
        if (one.correlation > fit.correlation) fit = one;
      }
    }
    EXPECT_GE(fit.correlation, min_correlation) << dpi << " dpi";
    EXPECT_LE(std::abs(fit.dx), dpi >= 300 ? 2 * dpi / 300 : 1);
    EXPECT_LE(std::abs(fit.dy), dpi >= 300 ? 2 * dpi / 300 : 1);
  }

  ScopedTempDir dir;
  Document document = make_document(660, 500);
  std::unique_ptr<ChildProcess> daemon_, server_;
  std::string device_, base_;
};

}  // namespace qrx::test
