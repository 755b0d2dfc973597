// The soak: several host processes (4 unless QRX_SOAK_PROCESSES says otherwise)
// make random framed calls and whole scans on one qrx7730-sim daemon's scanner
// for a bounded time (QRX_SOAK_SECONDS, 30 by default; scripts/soak.sh runs it
// long) at QRX_SOAK_SPEED times real time (20 by default), while one of them is killed (SIGKILL) at
// a random moment every few seconds and replaced. It holds when:
//  - no framed sequence of one process has another process's framed request
//    inside it (the daemon's trace, which names each request's connection, read
//    beside the clients' logs of the hold each request was made under);
//  - every client keeps making progress: none goes longer without finishing an
//    operation than a stuck call would allow (a busy flag left by a killed
//    process is taken over once that process is gone);
//  - every image scanned is the glass, and no call fails but for the refusals
//    that sharing a scanner brings.
// The figures of the run are printed.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "soak_trace.h"
#include "support/child_process.h"

namespace qrx::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Longest a client may go without finishing an operation: far more than the
// longest operation (a background calibration another process waits for).
constexpr double kWedgeSeconds = 60;
constexpr int kReadyMs = 10000;

double setting(const char* name, double fallback) {
  const char* text = std::getenv(name);
  const double value = text != nullptr ? std::strtod(text, nullptr) : 0;
  return value > 0 ? value : fallback;
}

double seconds_since(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

struct Client {
  std::unique_ptr<ChildProcess> process;
  std::string log;
  Clock::time_point last_progress;
  bool ready = false;
  bool ended = false;
  uint64_t ops = 0;
};

struct Figures {
  uint64_t started = 0, kills = 0, ops = 0, scans = 0, refused = 0, watchdog = 0, requests = 0;
  double longest_recovery = 0;  // from a kill to the next operation another client finished
  std::vector<std::string> faults;
};

class SoakTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("QRX7730_INSTALL_DIR", QRX_TEST_DATA_DIR, 1);
    char pattern[] = "/tmp/qrx-soak-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    setenv("TMPDIR", dir_.c_str(), 1);  // the clients share their shading files here
  }
  void TearDown() override {
    std::error_code ignored;
    if (!HasFailure()) fs::remove_all(dir_, ignored);
  }

  // Reads what a client has said so far.
  void take_output(Client& c, Figures& figures, Clock::time_point& recovered) {
    std::string line;
    while (!c.ended && c.process->read_line(line, 2)) {
      if (line == "ready") {
        c.ready = true;
        c.last_progress = Clock::now();
      } else if (line.rfind("done ", 0) == 0) {
        c.ops = std::strtoull(line.c_str() + 5, nullptr, 10);
        c.last_progress = Clock::now();
        if (recovered == Clock::time_point{}) recovered = c.last_progress;
      } else if (line.rfind("fault ", 0) == 0) {
        figures.faults.push_back("process " + std::to_string(c.process->pid()) + ": " + line);
      } else if (line.rfind("summary ", 0) == 0) {
        unsigned long long ops = 0, scans = 0, refused = 0, watchdog = 0, faults = 0, requests = 0;
        std::sscanf(line.c_str(),
                    "summary ops=%llu scans=%llu refused=%llu watchdog=%llu faults=%llu "
                    "requests=%llu",
                    &ops, &scans, &refused, &watchdog, &faults, &requests);
        figures.watchdog += watchdog;
        figures.scans += scans;
        figures.refused += refused;
        figures.requests += requests;
        c.ops = ops;
      }
    }
  }

  fs::path dir_;
};

TEST_F(SoakTest, ProcessesShareOneScannerWhileSomeAreKilled) {
  const double seconds = setting("QRX_SOAK_SECONDS", 30);
  const int processes = static_cast<int>(setting("QRX_SOAK_PROCESSES", 4));
  // The library's time limits count scanner time (30 s without image data fails a
  // read): 20 times real time leaves them 1.5 s of real time on a loaded machine.
  const std::string speed = std::to_string(static_cast<int>(setting("QRX_SOAK_SPEED", 20)));
  const std::string socket = (dir_ / "sim.sock").string();
  const std::string trace = (dir_ / "trace.txt").string();
  auto daemon = std::make_unique<ChildProcess>(std::vector<std::string>{
      QRX_SIM_DAEMON, "--socket", socket, "--speed", speed, "--trace", trace});
  std::string line;
  ASSERT_TRUE(daemon->read_line(line, kReadyMs));

  std::mt19937 random(static_cast<uint32_t>(setting("QRX_SOAK_SEED", 7730)));
  const auto start = Clock::now();
  const auto end = start + std::chrono::duration<double>(seconds);
  Figures figures;
  std::vector<Client> clients(processes);
  std::map<int, std::string> logs;
  uint32_t next_seed = random();
  const auto launch = [&](Client& c) {
    const double left = std::max(1.0, std::chrono::duration<double>(end - Clock::now()).count());
    c = Client{};
    c.log = (dir_ / ("client-" + std::to_string(figures.started) + ".log")).string();
    c.process = std::make_unique<ChildProcess>(std::vector<std::string>{
        QRX_SOAK_CLIENT, socket, speed, std::to_string(left), std::to_string(next_seed++), c.log});
    ASSERT_TRUE(c.process->started());
    c.last_progress = Clock::now();
    logs[c.process->pid()] = c.log;
    ++figures.started;
  };
  for (Client& c : clients) launch(c);

  std::uniform_real_distribution<double> kill_gap(2.0, 6.0);
  auto next_kill = start + std::chrono::duration<double>(kill_gap(random));
  Clock::time_point kill_time, recovered;
  std::string wedged;
  for (;;) {
    bool running = false;
    for (Client& c : clients) {
      if (c.ended) continue;
      take_output(c, figures, recovered);
      const int status = c.process->wait(0);
      if (status >= 0) {
        take_output(c, figures, recovered);
        c.ended = true;
        figures.ops += c.ops;
        if (status != 0)
          figures.faults.push_back("a client ended with status " + std::to_string(status));
        continue;
      }
      running = true;
      if (seconds_since(c.last_progress) > kWedgeSeconds && wedged.empty()) {
        wedged = "process " + std::to_string(c.process->pid()) + " made no progress for " +
                 std::to_string(static_cast<int>(kWedgeSeconds)) + " s";
      }
    }
    if (!running || !wedged.empty()) break;
    if (kill_time != Clock::time_point{} && recovered != Clock::time_point{}) {
      figures.longest_recovery = std::max(
          figures.longest_recovery, std::chrono::duration<double>(recovered - kill_time).count());
      kill_time = {};
    }
    if (Clock::now() >= next_kill && Clock::now() + std::chrono::seconds(5) < end) {
      std::vector<Client*> ready;
      for (Client& c : clients) {
        if (!c.ended && c.ready) ready.push_back(&c);
      }
      if (!ready.empty()) {
        Client& victim = *ready[random() % ready.size()];
        victim.process->kill_now(SIGKILL);
        EXPECT_EQ(victim.process->wait(10000), 128 + SIGKILL);
        figures.ops += victim.ops;
        ++figures.kills;
        kill_time = Clock::now();
        recovered = {};
        launch(victim);
      }
      next_kill = Clock::now() + std::chrono::duration<double>(kill_gap(random));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const double duration = seconds_since(start);
  daemon->kill_now(SIGTERM);
  EXPECT_EQ(daemon->wait(30000), 0) << "the daemon's trace is incomplete";
  const SoakVerdict verdict = check_soak(trace, logs);

  std::printf(
      "soak: %.0f s, %d processes at a time (%llu started, %llu killed), %llu operations, "
      "%llu whole scans, %llu refusals, %llu watchdog resets, %llu device requests in %llu "
      "connections, %llu framed "
      "sequences, %llu interleaved, %llu requests of a host thread outside its frame, %llu image "
      "reader requests (%llu inside another process's frame), longest wait for progress after a "
      "kill %.2f s\n",
      duration, processes, static_cast<unsigned long long>(figures.started),
      static_cast<unsigned long long>(figures.kills), static_cast<unsigned long long>(figures.ops),
      static_cast<unsigned long long>(figures.scans),
      static_cast<unsigned long long>(figures.refused),
      static_cast<unsigned long long>(figures.watchdog),
      static_cast<unsigned long long>(verdict.requests),
      static_cast<unsigned long long>(verdict.connections),
      static_cast<unsigned long long>(verdict.frames),
      static_cast<unsigned long long>(verdict.interleaved),
      static_cast<unsigned long long>(verdict.unframed_main),
      static_cast<unsigned long long>(verdict.library_threads),
      static_cast<unsigned long long>(verdict.reader_in_frames), figures.longest_recovery);
  std::fflush(stdout);

  EXPECT_TRUE(wedged.empty()) << wedged;
  for (const std::string& fault : figures.faults) ADD_FAILURE() << fault;
  for (const std::string& note : verdict.notes) ADD_FAILURE() << note;
  EXPECT_EQ(verdict.interleaved, 0u);
  EXPECT_EQ(verdict.unframed_main, 0u);
  EXPECT_EQ(verdict.unaccounted, 0u);
  EXPECT_GT(figures.scans, 0u) << "no whole scan in the soak";
  EXPECT_GT(verdict.frames, 0u);
}

}  // namespace
}  // namespace qrx::test
