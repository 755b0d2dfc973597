// qrx7730-sim's own options: --version, --mode on the socket file, --verbose
// logging a client's connection and requests; a daemon's scanner in the device
// list of qrxscan; a front-panel button pressed from outside starting the scan
// qrxscan --wait-for-button waits for.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "image_reading.h"
#include "program_runner.h"
#include "qrx7730.h"
#include "support/temp_dir.h"

namespace qrx::test {
namespace {

constexpr int kWaitMs = 60000;

TEST(SimDaemon, VersionExitsWithZero) {
  ScopedTempDir dir;
  const ProgramRun run = run_program({QRX_SIM_DAEMON, "--version"}, {}, dir.path() + "/err");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string("qrx7730-sim ") + QRX7730_VERSION_STRING + "\n");
}

TEST(SimDaemon, ModeSetsTheSocketsPermissionsAndVerboseLogsAClient) {
  ScopedTempDir dir;
  const std::string socket = dir.path() + "/shared.sock";
  // Error output merged, so that the log arrives on the same pipe as the ready line.
  ChildProcess daemon({"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1", QRX_SIM_DAEMON, "--socket",
                       socket, "--mode", "660", "--verbose"});
  std::string line;
  ASSERT_TRUE(daemon.read_line(line, kWaitMs));
  ASSERT_EQ(line, "qrx7730-sim: serving on " + socket);
  struct stat st {};
  ASSERT_EQ(stat(socket.c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0660u);

  // A host on the daemon's scanner: listed by qrxscan -L as the daemon's.
  const ProgramRun run =
      run_program({QRXSCAN, "-L", "-d", "sim:" + socket},
                  {"TMPDIR=" + dir.path(), "XDG_CONFIG_HOME=" + dir.path()}, dir.path() + "/err");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("device `sim:" + socket +
                         "' is a QUARN RV-70413K flatbed scanner (emulator daemon)\n"),
            std::string::npos)
      << run.out;

  char descriptor[64];
  std::snprintf(descriptor, sizeof descriptor, "client 1: device descriptor 0x%04X:0x%04X",
                QRX7730_USB_VENDOR_ID, QRX7730_USB_PRODUCT_ID);
  std::vector<std::string> log;
  while (daemon.read_line(line, kWaitMs)) {
    log.push_back(line);
    if (line.find("client 1 disconnected after ") != std::string::npos) break;
  }
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front(), "qrx7730-sim: client 1 connected");
  EXPECT_NE(std::find(log.begin(), log.end(), std::string("qrx7730-sim: ") + descriptor),
            log.end());
  EXPECT_NE(log.back().find("client 1 disconnected after "), std::string::npos);
  // Requests are counted as they are logged: one line each between the two.
  EXPECT_EQ(log.back(), "qrx7730-sim: client 1 disconnected after " +
                            std::to_string(log.size() - 2) + " requests");
  daemon.kill_now(SIGTERM);
  EXPECT_EQ(daemon.wait(kWaitMs), 0);
}

TEST(SimDaemon, AButtonPressedFromOutsideStartsTheScanQrxscanWaitsFor) {
  ScopedTempDir dir;
  const std::string socket = dir.path() + "/panel.sock";
  const auto press = [&](std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {QRX_SIM_DAEMON, "press"});
    return run_program(arguments, {}, dir.path() + "/press.err");
  };
  // No daemon yet; a button the scanner does not have.
  ProgramRun run = press({socket, "scan"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "qrx7730-sim: no emulator daemon listens on " + socket + "\n");
  run = press({socket, "5"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("the button is 1 to 4, scan, copy, email or file, not '5'"),
            std::string::npos)
      << run.err;

  // The log of every request goes to a file: a pipe nobody reads would hold the daemon.
  const std::string log_file = dir.path() + "/daemon.log";
  ChildProcess daemon({"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>\"" + log_file + "\"", QRX_SIM_DAEMON,
                       "--socket", socket, "--speed", "50", "--verbose"});
  std::string line;
  ASSERT_TRUE(daemon.read_line(line, kWaitMs));
  ASSERT_EQ(line, "qrx7730-sim: serving on " + socket);
  const std::string image = dir.path() + "/pressed.png";
  ChildProcess qrxscan({"/usr/bin/env", "TMPDIR=" + dir.path(), "XDG_CONFIG_HOME=" + dir.path(),
                        "/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1", QRXSCAN, "-d", "sim:" + socket,
                        "--wait-for-button", "--resolution", "75", "-x", "25.4", "-y", "25.4",
                        "--no-progress", "-o", image});
  std::vector<std::string> said;
  while (qrxscan.read_line(line, kWaitMs)) {
    said.push_back(line);
    if (line == "qrxscan: waiting for a button on the scanner to be pressed ...") break;
  }
  ASSERT_FALSE(said.empty());
  ASSERT_EQ(said.back(), "qrxscan: waiting for a button on the scanner to be pressed ...");
  EXPECT_FALSE(std::filesystem::exists(image));

  // The press returns once the button is up again, and says a host read it.
  run = press({socket, "copy"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "qrx7730-sim: button 2 (copy) pressed and read by a host\n");
  while (qrxscan.read_line(line, kWaitMs)) said.push_back(line);
  EXPECT_EQ(qrxscan.wait(kWaitMs), 0);
  EXPECT_NE(std::find(said.begin(), said.end(), "qrxscan: button 2 pressed"), said.end());
  const ReadImage scanned = read_png(image);
  ASSERT_TRUE(scanned.ok) << scanned.error;
  EXPECT_EQ(scanned.width, 75u);  // 1 in at 75 dpi
  EXPECT_EQ(scanned.height, 75u);

  daemon.kill_now(SIGTERM);
  EXPECT_EQ(daemon.wait(kWaitMs), 0);
  std::vector<std::string> log;
  std::ifstream logged(log_file);
  while (std::getline(logged, line)) log.push_back(line);
  EXPECT_NE(std::find(log.begin(), log.end(), "qrx7730-sim: button 2 down"), log.end());
  EXPECT_NE(std::find_if(log.begin(), log.end(),
                         [](const std::string& l) {
                           return l.find(": press of button 2, read by a host") !=
                                  std::string::npos;
                         }),
            log.end());
}

}  // namespace
}  // namespace qrx::test
