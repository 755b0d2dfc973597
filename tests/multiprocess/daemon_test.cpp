// The qrx7730-sim daemon with several client processes: one shared scanner, clients
// that die mid-transfer, a path that is taken, stale sockets, signals and arguments.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace qrx::test {
namespace {

namespace fs = std::filesystem;

constexpr int kReadyMs = 10000;
constexpr int kExitMs = 60000;

class DaemonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qrx-sim-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    socket_ = (dir_ / "sim.sock").string();
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // Starts the daemon on the test's socket and waits for its ready line.
  std::unique_ptr<ChildProcess> start_daemon(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> argv{QRX_SIM_DAEMON, "--socket", socket_};
    argv.insert(argv.end(), extra.begin(), extra.end());
    auto daemon = std::make_unique<ChildProcess>(argv);
    EXPECT_TRUE(daemon->started());
    std::string line;
    EXPECT_TRUE(daemon->read_line(line, kReadyMs));
    EXPECT_EQ(line, "qrx7730-sim: serving on " + socket_);
    return daemon;
  }

  std::unique_ptr<ChildProcess> client(const std::vector<std::string>& args) {
    std::vector<std::string> argv{QRX_DAEMON_CLIENT, socket_};
    argv.insert(argv.end(), args.begin(), args.end());
    auto child = std::make_unique<ChildProcess>(argv);
    EXPECT_TRUE(child->started());
    return child;
  }

  // Runs a client to its end; its exit status, and its last output line in *last.
  int run_client(const std::vector<std::string>& args, std::string* last = nullptr) {
    auto child = client(args);
    std::string line;
    while (child->read_line(line, kExitMs)) {
      if (last != nullptr) *last = line;
    }
    return child->wait(kExitMs);
  }

  // Runs a program with its error output merged into the output that is returned.
  static int run_merged(const std::vector<std::string>& argv, std::string& output) {
    std::vector<std::string> shell{"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1"};
    shell.insert(shell.end(), argv.begin(), argv.end());
    ChildProcess child(shell);
    std::string line;
    while (child.read_line(line, kExitMs)) output += line + "\n";
    return child.wait(kExitMs);
  }

  static void expect_running_line(ChildProcess& child) {
    std::string line;
    EXPECT_TRUE(child.read_line(line, kExitMs));
    EXPECT_EQ(line, "running");
  }

  fs::path dir_;
  std::string socket_;
};

TEST_F(DaemonTest, ClientProcessesShareOneScanner) {
  auto daemon =
      start_daemon({"--port-type", "2", "--board-variant", "1", "--seed", "11", "--speed", "4"});
  std::string last;
  ASSERT_EQ(run_client({"identify"}, &last), 0);
  EXPECT_EQ(last, "port-type 2");
  ASSERT_EQ(run_client({"read", "0xA6"}, &last), 0);
  EXPECT_EQ(std::stoi(last) & 0x10, 0x10) << "board variant 1 shows in register 0xA6 bit 4";

  // What one process writes, the next one reads.
  ASSERT_EQ(run_client({"write", "0x10", "0xA7"}), 0);
  ASSERT_EQ(run_client({"read", "0x10"}, &last), 0);
  EXPECT_EQ(last, "167");

  // Two processes at once, each rewriting and reading back its own registers many
  // times; each ends only when it has seen the token the other left on the device.
  auto a = client({"registers", "0x10", "0x5A", "0x18", "0xA5"});
  auto b = client({"registers", "0x18", "0xA5", "0x10", "0x5A"});
  EXPECT_EQ(a->wait(kExitMs), 0);
  EXPECT_EQ(b->wait(kExitMs), 0);

  // Controller memory through bulk transfers of several pieces.
  EXPECT_EQ(run_client({"memory", "0x10200000", "150000", "2"}), 0);
  EXPECT_EQ(daemon->wait(0), -1) << "the daemon is still serving";
}

TEST_F(DaemonTest, ClientsKilledMidTransferLeaveTheOthersServed) {
  auto daemon = start_daemon();
  const std::string stop = (dir_ / "stop").string();
  auto survivor = client({"registers", "0x20", "0x11", "0x20", "0x11", stop});
  auto bulk_victim = client({"memory", "0x10300000", "500000", "0"});
  auto register_victim = client({"registers", "0x30", "0x22", "0x30", "0x22", stop + "-never"});
  auto stalled_victim = client({"stall"});
  for (ChildProcess* c :
       {survivor.get(), bulk_victim.get(), register_victim.get(), stalled_victim.get()}) {
    expect_running_line(*c);
  }
  bulk_victim->kill_now(SIGKILL);
  register_victim->kill_now(SIGKILL);
  stalled_victim->kill_now(SIGKILL);
  EXPECT_EQ(bulk_victim->wait(kExitMs), 128 + SIGKILL);
  EXPECT_EQ(register_victim->wait(kExitMs), 128 + SIGKILL);
  EXPECT_EQ(stalled_victim->wait(kExitMs), 128 + SIGKILL);

  // Clients that leave while the daemon is still sending them a large answer.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(run_client({"vanish"}), 0);

  // The survivor has been working all along and goes on until told to stop.
  EXPECT_EQ(survivor->wait(200), -1);
  std::ofstream(stop) << "stop";
  EXPECT_EQ(survivor->wait(kExitMs), 0);
  // A new client, bulk transfers included, is served as before.
  EXPECT_EQ(run_client({"memory", "0x10300000", "150000", "1"}), 0);
  EXPECT_EQ(daemon->wait(0), -1);
}

TEST_F(DaemonTest, ASecondDaemonOnATakenPathIsRefused) {
  auto daemon = start_daemon();
  std::string output;
  EXPECT_NE(run_merged({QRX_SIM_DAEMON, "--socket", socket_}, output), 0);
  EXPECT_NE(output.find("taken"), std::string::npos) << output;
  EXPECT_EQ(run_client({"identify"}), 0) << "the first daemon still serves";

  // A path held by an ordinary file is never replaced.
  const std::string file = (dir_ / "plain").string();
  std::ofstream(file) << "data";
  output.clear();
  EXPECT_NE(run_merged({QRX_SIM_DAEMON, "--socket", file}, output), 0);
  EXPECT_TRUE(fs::is_regular_file(file)) << output;
}

TEST_F(DaemonTest, TerminationSignalsStopTheDaemonAndRemoveItsSocket) {
  auto daemon = start_daemon();
  // One client busy and one connection stuck in the middle of a message: neither
  // keeps the daemon from ending.
  auto busy = client({"registers", "0x60", "1", "0x60", "1", (dir_ / "never").string()});
  auto stalled = client({"stall"});
  expect_running_line(*busy);
  expect_running_line(*stalled);
  daemon->kill_now(SIGTERM);
  EXPECT_EQ(daemon->wait(kExitMs), 0);
  EXPECT_FALSE(fs::exists(socket_));
  EXPECT_EQ(busy->wait(kExitMs), 2) << "the busy client's next request fails";

  daemon = start_daemon();
  daemon->kill_now(SIGINT);
  EXPECT_EQ(daemon->wait(kExitMs), 0);
  EXPECT_FALSE(fs::exists(socket_));
}

TEST_F(DaemonTest, ASocketLeftByAKilledDaemonIsTakenOver) {
  auto daemon = start_daemon();
  daemon->kill_now(SIGKILL);
  EXPECT_EQ(daemon->wait(kExitMs), 128 + SIGKILL);
  ASSERT_TRUE(fs::is_socket(socket_));
  EXPECT_NE(run_client({"identify"}), 0);
  daemon = start_daemon();
  EXPECT_EQ(run_client({"identify"}), 0);
}

TEST_F(DaemonTest, BadArgumentsAreRefusedWithTheUsage) {
  const std::vector<std::vector<std::string>> refused = {
      {},
      {"--socket"},
      {"--socket", socket_, "--port-type", "3"},
      {"--socket", socket_, "--board-variant", "2"},
      {"--socket", socket_, "--speed", "0"},
      {"--socket", socket_, "--speed", "fast"},
      {"--socket", socket_, "--seed", "-1"},
      {"--socket", socket_, "--colour", "red"},
      {"--socket", socket_, "--socket", socket_},
      {"--socket", socket_, "stray"},
  };
  for (const auto& args : refused) {
    std::vector<std::string> argv{QRX_SIM_DAEMON};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string output;
    EXPECT_EQ(run_merged(argv, output), 2) << args.size() << " arguments";
    EXPECT_NE(output.find("usage:"), std::string::npos) << output;
  }
  std::string output;
  EXPECT_EQ(run_merged({QRX_SIM_DAEMON, "--help"}, output), 0);
  EXPECT_NE(output.find("--speed FACTOR"), std::string::npos);

  // Usable arguments that cannot be served: a document that is not there, a
  // socket path longer than a socket address holds.
  output.clear();
  EXPECT_EQ(run_merged({QRX_SIM_DAEMON, "--socket", socket_, "--document",
                        (dir_ / "missing.png").string()},
                       output),
            1);
  output.clear();
  const std::string long_path = (dir_ / (std::string(120, 's') + ".sock")).string();
  EXPECT_EQ(run_merged({QRX_SIM_DAEMON, "--socket", long_path}, output), 1);
  EXPECT_NE(output.find("longer"), std::string::npos) << output;
  EXPECT_FALSE(fs::exists(socket_));
}

}  // namespace
}  // namespace qrx::test
