// qrx7730-sim's own options: --version, --mode on the socket file, --verbose
// logging a client's connection and requests; and a daemon's scanner in the
// device list of qrxscan.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdio>

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

}  // namespace
}  // namespace qrx::test
