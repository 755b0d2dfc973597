// Two processes on one scanner (the qrx7730-sim daemon) that both want to scan:
// while one scans, everything the other does that would reset, programme or move
// the scanner is refused, the running scan delivers all its lines, and the other
// scans once it has stopped, or once the scanning process has died.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "emulator/scanner.h"
#include "support/child_process.h"

namespace qrx::test {
namespace {

namespace fs = std::filesystem;

constexpr int kReadyMs = 10000;
constexpr int kExitMs = 120000;
constexpr char kSpeed[] = "50";

class ScanProcessesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("QRX7730_INSTALL_DIR", QRX_TEST_DATA_DIR, 1);
    char pattern[] = "/tmp/qrx-scan-mp-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    const char* old_tmpdir = getenv("TMPDIR");
    if (old_tmpdir != nullptr) old_tmpdir_ = old_tmpdir;
    setenv("TMPDIR", dir_.c_str(), 1);  // the clients share their shading files here
    socket_ = (dir_ / "sim.sock").string();
    start_daemon();
  }
  // A daemon on the socket (where a killed one may have left its socket file).
  void start_daemon(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> argv{QRX_SIM_DAEMON, "--socket", socket_, "--speed", kSpeed};
    argv.insert(argv.end(), extra.begin(), extra.end());
    daemon_ = std::make_unique<ChildProcess>(argv);
    std::string line;
    ASSERT_TRUE(daemon_->read_line(line, kReadyMs));
  }
  // The daemon stopped as a user stops it (its trace file then complete).
  void stop_daemon() {
    daemon_->kill_now(SIGTERM);
    EXPECT_EQ(daemon_->wait(kExitMs), 0);
  }
  // The scanner vanishes: its daemon is killed.
  void kill_daemon() {
    daemon_->kill_now(SIGKILL);
    EXPECT_EQ(daemon_->wait(kExitMs), 128 + SIGKILL);
  }
  void TearDown() override {
    daemon_.reset();
    if (old_tmpdir_.empty()) {
      unsetenv("TMPDIR");
    } else {
      setenv("TMPDIR", old_tmpdir_.c_str(), 1);
    }
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  std::unique_ptr<ChildProcess> client(const std::vector<std::string>& args) {
    std::vector<std::string> argv{QRX_SCAN_CLIENT, "sim:" + socket_, kSpeed};
    argv.insert(argv.end(), args.begin(), args.end());
    auto child = std::make_unique<ChildProcess>(argv);
    EXPECT_TRUE(child->started());
    return child;
  }
  static std::string next_line(ChildProcess& child) {
    std::string line;
    return child.read_line(line, kExitMs) ? line : "(no line)";
  }
  // A scan from its start to its stop, let go once it runs.
  static void finish_scan(ChildProcess& scanning, const std::string& lines) {
    ChildProcess& c = scanning;
    c.close_input();
    EXPECT_EQ(next_line(c), "lines " + lines + " " + lines);
    EXPECT_EQ(next_line(c), "stopped 1 0000");
    EXPECT_EQ(c.wait(kExitMs), 0);
  }
  // The calls of another process while a scan runs.
  std::string try_to_disturb() {
    auto other = client({"try"});
    const std::string codes = next_line(*other);
    EXPECT_EQ(other->wait(kExitMs), 0);
    return codes;
  }

  fs::path dir_;
  std::string old_tmpdir_;
  std::string socket_;
  std::unique_ptr<ChildProcess> daemon_;
};

TEST_F(ScanProcessesTest, ASecondProcessWaitsForTheRunningScanToStop) {
  auto first = client({"scan", "2400", "calibrate"});
  ASSERT_EQ(next_line(*first), "scanning");
  EXPECT_EQ(try_to_disturb(), "codes 9604 9604 9604 9604 9604 9604");
  finish_scan(*first, "300");

  auto second = client({"scan", "2400"});
  ASSERT_EQ(next_line(*second), "scanning");
  finish_scan(*second, "300");
}

TEST_F(ScanProcessesTest, AScanWhoseProcessDiedHoldsNothing) {
  // Once with the status block kept open by a third process, once without.
  for (bool observed : {true, false}) {
    std::unique_ptr<ChildProcess> observer;
    if (observed) {
      observer = client({"idle"});
      ASSERT_EQ(next_line(*observer), "open");
    }
    // It dies with its carriage standing mid-scan, waiting for a reader.
    auto first = client({"hold"});
    ASSERT_EQ(next_line(*first), "scanning");
    first->kill_now(SIGKILL);
    EXPECT_EQ(first->wait(kExitMs), 128 + SIGKILL);

    auto second = client({"scan", "2400"});
    ASSERT_EQ(next_line(*second), "scanning") << (observed ? "observed" : "alone");
    finish_scan(*second, "300");
    if (observer) {
      observer->close_input();
      EXPECT_EQ(observer->wait(kExitMs), 0);
    }
  }
}

// A process that closes the scanner in the middle of its scan, with or without a
// StopScanEx that failed because the scanner had gone, and then stays alive.
TEST_F(ScanProcessesTest, AProcessThatClosesTheScannerMidScanHoldsItNoLonger) {
  auto first = client({"leave", "terminate"});
  ASSERT_EQ(next_line(*first), "scanning");
  first->write_line("close");
  ASSERT_EQ(next_line(*first), "terminated");
  auto second = client({"scan", "2400"});
  EXPECT_EQ(next_line(*second), "scanning") << "after a close mid-scan";
  finish_scan(*second, "300");

  // Its daemon killed under the scan: the stop fails, the close still lets go.
  auto third = client({"leave", "stop", "terminate"});
  ASSERT_EQ(next_line(*third), "scanning");
  kill_daemon();
  third->write_line("close");
  EXPECT_EQ(next_line(*third).substr(0, 10), "stopped 0 ");
  ASSERT_EQ(next_line(*third), "terminated");
  start_daemon();
  auto fourth = client({"scan", "2400"});
  EXPECT_EQ(next_line(*fourth), "scanning") << "after a close of a vanished scanner";
  finish_scan(*fourth, "300");

  for (ChildProcess* c : {first.get(), third.get()}) {
    c->close_input();
    EXPECT_EQ(c->wait(kExitMs), 0);
  }
}

// A process whose scanner vanished mid-scan opens it again, once it is back,
// without closing it first, and scans.
TEST_F(ScanProcessesTest, AProcessWhoseScannerVanishedMidScanOpensItAgain) {
  auto first = client({"leave", "stop", "reopen"});
  ASSERT_EQ(next_line(*first), "scanning");
  kill_daemon();
  start_daemon();
  first->write_line("open again");
  EXPECT_EQ(next_line(*first).substr(0, 10), "stopped 0 ");
  EXPECT_EQ(next_line(*first), "found 1 0000");
  EXPECT_EQ(next_line(*first), "scanning");
  EXPECT_EQ(next_line(*first), "lines 300 300");
  EXPECT_EQ(next_line(*first), "stopped 1 0000");
  EXPECT_EQ(first->wait(kExitMs), 0);
}

// Reference searches in a daemon's trace file, by connection: each search reads
// its white level and its moving lines with 785 in the exposure registers 0x14
// and 0x15 (3141 LED ticks at the divider 4 of its 600 dpi reads), which nothing
// else writes.
std::map<int, int> searches_in(const fs::path& trace) {
  std::map<int, int> reads;
  std::ifstream in(trace);
  std::string line;
  unsigned high = 0;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    int connection = 0;
    std::string time, kind, code, index, reg, length, moved, ok, data;
    fields >> connection >> time >> kind >> code >> index >> reg >> length >> moved >> ok >> data;
    if (kind != "co" || code != "83" || data.size() < 4) continue;
    const unsigned value = static_cast<unsigned>(std::stoul(data.substr(2, 2), nullptr, 16));
    if (data.compare(0, 2, "14") == 0) high = value;
    if (data.compare(0, 2, "15") == 0 && (high << 8 | value) == 785) ++reads[connection];
  }
  std::map<int, int> searches;
  for (const auto& [connection, n] : reads) searches[connection] = n / 2;
  return searches;
}

TEST_F(ScanProcessesTest, ANewProcessTakesTheKeptOriginUntilTheScannerIsPluggedInAgain) {
  std::string error;
  const auto truth = emu::Scanner::create(emu::Options{}, error);
  ASSERT_NE(truth, nullptr) << error;
  const std::string origin = "origin " + std::to_string(truth->expected_home_offset());
  const auto initialise = [&] {
    auto c = client({"init"});
    const std::string said = next_line(*c);
    EXPECT_EQ(c->wait(kExitMs), 0);
    return said;
  };

  // Two processes one after the other: the first searches, the second takes what
  // it found.
  stop_daemon();
  const fs::path first_life = dir_ / "first.trace";
  start_daemon({"--trace", first_life.string()});
  EXPECT_EQ(initialise(), origin);
  EXPECT_EQ(initialise(), origin);
  stop_daemon();
  EXPECT_EQ(searches_in(first_life), (std::map<int, int>{{1, 1}}));

  // The scanner plugged in again (a new daemon on the socket: a fresh controller,
  // the same scanner): its next process searches again.
  const fs::path second_life = dir_ / "second.trace";
  start_daemon({"--trace", second_life.string()});
  EXPECT_EQ(initialise(), origin);
  EXPECT_EQ(initialise(), origin);
  stop_daemon();
  EXPECT_EQ(searches_in(second_life), (std::map<int, int>{{1, 1}}));
}

}  // namespace
}  // namespace qrx::test
