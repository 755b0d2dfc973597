// Whole scans through a real eSCL client: scanimage with SANE's generic eSCL
// backend sane-airscan, pointed at the server by a static device in its
// airscan.conf (no discovery). Scans at 75, 300 and 600 dpi in colour and grey
// are compared with the document on the glass, over HTTP and over HTTPS with a
// certificate the test makes; a scan cancelled midway is followed by another;
// and the first scan, which calibrates the scanner for longer than the server
// holds a request, does not make the client give up.
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "escl_server.h"

namespace qrx::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class Airscan : public EsclServerTest {
 protected:
  // sane-airscan alone, with the server as its one device.
  void configure_airscan(const std::string& url) {
    const std::string config = dir.path() + "/sane.d";
    fs::create_directories(config);
    write(config + "/dll.conf", "airscan\n");
    write(config + "/airscan.conf", "[devices]\n\"QRX escl test\" = " + url +
                                        "/eSCL/, eSCL\n[options]\ndiscovery = "
                                        "disable\n");
    env_ = {"SANE_CONFIG_DIR=" + config, "HOME=" + dir.path(), "TMPDIR=" + dir.path()};
  }
  ProgramRun scanimage(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), QRX_SCANIMAGE);
    return run_program(arguments, env_, dir.path() + "/scanimage.err", kWaitMs);
  }
  // The device name sane-airscan gives the server.
  std::string device_name() {
    const ProgramRun run = scanimage({"-L"});
    const size_t at = run.out.find("device `airscan:");
    EXPECT_NE(at, std::string::npos) << run.out << run.err;
    if (at == std::string::npos) return {};
    return run.out.substr(at + 8, run.out.find('\'', at) - at - 8);
  }
  std::vector<std::string> scan_arguments(int dpi, const std::string& mode,
                                          const std::string& out) {
    return {"-d",   device_, "--resolution", std::to_string(dpi), "--mode", mode, "-x",
            "50.8", "-y",    "38.1",         "--format=png",      "-o",     out};
  }
  void scan_and_compare(int dpi, const std::string& mode) {
    const std::string out = dir.path() + "/scan-" + std::to_string(dpi) + mode + ".png";
    const ProgramRun run = scanimage(scan_arguments(dpi, mode, out));
    ASSERT_EQ(run.status, 0) << run.err;
    expect_document(read_png(out), dpi, mode == "Color" ? 3 : 1, 0.99);
  }

  std::vector<std::string> env_;
  std::string device_;
};

TEST_F(Airscan, ScansAt75_300And600DpiInColourAndGreyOverHttp) {
  start_daemon();
  // Requests for the image are held one second at most, so that sane-airscan
  // meets the answer that tells it to ask again while the scanner calibrates
  // for its first scan (many seconds here).
  configure_airscan(start_server({"--document-wait", "1"}));
  device_ = device_name();
  ASSERT_FALSE(device_.empty());
  for (int dpi : {75, 300, 600}) {
    for (const char* mode : {"Color", "Gray"}) {
      SCOPED_TRACE(std::to_string(dpi) + " dpi " + mode);
      scan_and_compare(dpi, mode);
    }
  }
}

TEST_F(Airscan, ScansOverHttpsWithASelfSignedCertificate) {
  start_daemon();
  const std::string key = dir.path() + "/key.pem", cert = dir.path() + "/cert.pem";
  const ProgramRun made =
      run_program({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                   key, "-out", cert, "-days", "2", "-subj", "/CN=127.0.0.1"},
                  {}, dir.path() + "/openssl.err", kWaitMs);
  ASSERT_EQ(made.status, 0) << made.err;
  const std::string url = start_server({"--cert", cert, "--key", key});
  ASSERT_EQ(url.rfind("https://", 0), 0u) << url;
  // Plain HTTP on the TLS port gets no answer.
  std::string http_url = "http" + url.substr(5);
  const ProgramRun plain = curl({"-o", "/dev/null", "-w", "%{http_code}\n", "--max-time", "10",
                                 http_url + "/eSCL/ScannerStatus"});
  EXPECT_NE(plain.out, "200");
  configure_airscan(url);
  device_ = device_name();
  ASSERT_FALSE(device_.empty());
  scan_and_compare(300, "Color");
}

TEST_F(Airscan, AScanCancelledMidwayIsFollowedByAnother) {
  start_daemon(20);  // slow enough to be interrupted while the image is sent
  configure_airscan(start_server());
  device_ = device_name();
  ASSERT_FALSE(device_.empty());
  // The whole glass at 300 dpi, interrupted (as Ctrl-C does) while the server
  // still sends the image (sane-airscan takes in the whole image before it hands
  // lines to scanimage).
  const std::string first = dir.path() + "/first.pnm";
  std::vector<std::string> command = {"/usr/bin/env"};
  command.insert(command.end(), env_.begin(), env_.end());
  command.insert(command.end(), {"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>\"$QRX_ERR\"",
                                 QRX_SCANIMAGE, "-d", device_, "--resolution", "300", "-o", first});
  command.insert(command.begin() + 1, "QRX_ERR=" + dir.path() + "/first.err");
  ChildProcess interrupted(command);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  std::string status;
  bool streaming = false;
  while (!streaming && std::chrono::steady_clock::now() < deadline) {
    request("GET", "/eSCL/ScannerStatus", status);
    const size_t at = status.find("<pwg:JobUuid>");
    if (at != std::string::npos) {
      std::string progress;
      request("GET", "/progress/" + status.substr(at + 13, 36), progress);
      // {"state":...,"lines":N,...}: lines read and sent on.
      const size_t lines = progress.find("\"lines\":");
      streaming = lines != std::string::npos && progress.compare(lines + 8, 2, "0,") != 0;
    }
    if (!streaming) std::this_thread::sleep_for(20ms);
  }
  ASSERT_TRUE(streaming) << status;
  interrupted.kill_now(SIGINT);
  EXPECT_GE(interrupted.wait(kWaitMs), 0);
  // No image, or less than the whole one.
  EXPECT_LT(read(first).size(), 2552u * 3508 * 3) << read(dir.path() + "/first.err");
  // The server saw the cancel: the job ends as cancelled by the user, and the
  // scanner is free.
  for (int i = 0; i < 600; ++i) {
    request("GET", "/eSCL/ScannerStatus", status);
    if (status.find("<pwg:State>Idle</pwg:State>") != std::string::npos) break;
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_NE(status.find("<pwg:State>Idle</pwg:State>"), std::string::npos) << status;
  EXPECT_NE(status.find("<pwg:JobStateReason>JobCanceledByUser</pwg:JobStateReason>"),
            std::string::npos)
      << status;
  scan_and_compare(300, "Color");
}

}  // namespace
}  // namespace qrx::test
