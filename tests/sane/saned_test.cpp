// The scanner shared through saned: saned serving the backend on a loopback
// address, scanimage reaching it through SANE's net backend as
// net:ADDRESS:qrx7730:DEVICE. The net backend always connects to the sane-port
// (6566), so each run takes a loopback address of its own (127.x.y.z) where that
// port is free; nothing leaves the machine, and every wait is bounded.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "sane_programs.h"
#include "scan_document.h"
#include "tools/image_reading.h"

namespace qrx::test {
namespace {

constexpr uint16_t kSanePort = 6566;

// Binds or connects a TCP socket to address:6566; true when it worked.
bool reach(const std::string& address, bool bind_it) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(kSanePort);
  inet_pton(AF_INET, address.c_str(), &where.sin_addr);
  const auto* a = reinterpret_cast<const sockaddr*>(&where);
  const bool ok = (bind_it ? bind(fd, a, sizeof where) : connect(fd, a, sizeof where)) == 0;
  close(fd);
  return ok;
}

// Whether no process of the process group `group` runs any more (one that has
// ended but is not yet reaped counts as gone), waiting up to five seconds.
bool group_is_gone(pid_t group) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    bool running = false;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
      std::ifstream stat(entry.path() / "stat");
      std::string text;
      if (!std::getline(stat, text)) continue;
      // pid (name) state ppid pgrp ...: the name may hold spaces and brackets.
      std::istringstream rest(text.substr(text.rfind(')') + 1));
      char state = 0;
      long parent = 0, process_group = 0;
      if (rest >> state >> parent >> process_group && process_group == group && state != 'Z') {
        running = true;
        break;
      }
    }
    if (!running) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

class Saned : public SaneProgramTest {
 protected:
  // saned on a free loopback address, serving the backend with this test's
  // configuration; the client's configuration names only the net backend and that
  // address.
  void SetUp() override {
    const pid_t pid = getpid();
    for (int attempt = 0; attempt < 50 && address_.empty(); ++attempt) {
      const unsigned n = unsigned(pid) * 7919u + attempt;
      const std::string candidate = "127." + std::to_string(1 + n % 250) + "." +
                                    std::to_string((n / 250) % 250 + 1) + "." +
                                    std::to_string((n / 62500) % 250 + 1);
      if (reach(candidate, true)) address_ = candidate;
    }
    ASSERT_FALSE(address_.empty()) << "no loopback address with a free port " << kSanePort;
    write(config_ + "/saned.conf", "# the test's own client\n" + address_ + "\n");
    client_ = dir.path() + "/client.d";
    write(client_ + "/dll.conf", "net\n");
    write(client_ + "/net.conf", address_ + "\n");

    std::vector<std::string> command = {"/usr/bin/env"};
    for (const std::string& v : environment(config_)) command.push_back(v);
    command.insert(command.end(), {"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1"});
    for (const std::string& part : launch(QRX_SANED)) command.push_back(part);
    command.insert(command.end(),
                   {"-l", "-b", address_, "-p", std::to_string(kSanePort), "-e", "-d", "3"});
    // A group of its own: saned forks a process for each client, which must end
    // with the test too.
    saned_ = std::make_unique<ChildProcess>(command, ChildProcess::Group::kOwn);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!reach(address_, false)) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "saned does not answer";
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  void TearDown() override {
    saned_->kill_now(SIGTERM);
    if (saned_->wait(10000) < 0) saned_->kill_now(SIGKILL);
    // No process of saned's outlives the test (one serving a client that has gone
    // was seen spinning for an hour after its test).
    saned_->kill_now(SIGKILL);
    EXPECT_TRUE(group_is_gone(saned_->pid())) << "a process of saned's is still running";
  }
  ProgramRun client(std::vector<std::string> arguments) {
    return scanimage(std::move(arguments), {"SANE_NET_TIMEOUT=20"}, client_);
  }
  std::string net_name(const std::string& device) const {
    return "net:" + address_ + ":qrx7730:" + device;
  }

  std::string address_;
  std::string client_;
  std::unique_ptr<ChildProcess> saned_;
};

TEST_F(Saned, ListsAndShowsTheOptionsOfTheScannerItServes) {
  const std::string device = own_device();
  write(config_ + "/qrx7730.conf", device + "\n");
  ProgramRun run = client({"-L"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "device `" + net_name(device) + "' is a QUARN RV-70413K flatbed scanner\n");
  run = client({"-d", net_name(device), "-A"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("    --resolution 75|150|300|600|1200|2400|4800dpi [300]\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("    -x 0..216.069mm [216.069]\n"), std::string::npos);
}

TEST_F(Saned, ScansThroughTheNetworkIntoAPngOfTheDocument) {
  const Document document = make_document(660, 500);
  const std::string page = dir.path() + "/page.pnm";
  ASSERT_TRUE(write_pnm(document, page));
  // saned was started before the document existed: the emulated scanner is made
  // when saned opens the device, from this daemon's file.
  const std::string socket_dir = dir.path() + "/d";
  write(socket_dir + "/.keep", "");
  ChildProcess scanner({QRX_SIM_DAEMON, "--socket", socket_dir + "/scanner.sock", "--speed", "20",
                        "--document", page});
  std::string line;
  ASSERT_TRUE(scanner.read_line(line, kProgramWaitMs));
  const std::string device = "sim:" + socket_dir + "/scanner.sock";
  const std::string png = dir.path() + "/net.png";
  const ProgramRun run = client({"-d", net_name(device), "--resolution", "300", "--format=png",
                                 "-o", png, "-x", "50.8", "-y", "38.1"});
  ASSERT_EQ(run.status, 0) << run.err;
  const ReadImage image = read_png(png);
  ASSERT_TRUE(image.ok) << image.error;
  EXPECT_EQ(image.width, 600u);
  EXPECT_EQ(image.height, 450u);
  const Fit fit = best_fit(document, image.samples, image.width, image.height, 3, 3);
  EXPECT_GT(fit.correlation, 0.95);
  EXPECT_LE(std::abs(fit.dx), 2);
  EXPECT_LE(std::abs(fit.dy), 2);
}

}  // namespace
}  // namespace qrx::test
