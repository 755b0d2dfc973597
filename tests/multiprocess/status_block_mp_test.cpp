// Several processes on one scanner: the busy flag keeps their framed calls apart,
// every process sees one block per device path, and a process that dies while it
// holds the lock or the scanner does not block the others.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "api/status_block.h"
#include "platform/shared_block.h"
#include "support/child_process.h"

namespace qrx::test {
namespace {

struct SharedCounters {
  std::atomic<int32_t> inside, overlaps, entries, holding;
};

class MultiProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("QRX7730_INSTALL_DIR", QRX_TEST_DATA_DIR, 1);  // the clients inherit it
    char pattern[] = "/tmp/qrx-mp-XXXXXX";
    int fd = mkstemp(pattern);
    ASSERT_GE(fd, 0);
    file_ = pattern;
    ASSERT_EQ(ftruncate(fd, sizeof(SharedCounters)), 0);
    void* view = mmap(nullptr, sizeof(SharedCounters), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    ASSERT_NE(view, MAP_FAILED);
    counters_ = static_cast<SharedCounters*>(view);
    path_ = "mp:" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
            "-" + std::to_string(getpid());
  }
  void TearDown() override {
    munmap(counters_, sizeof(SharedCounters));
    unlink(file_.c_str());
    // A client killed while it held a block leaves the block's object behind; no
    // process of this test holds one any more.
    for (const std::string& path : {path_, path_ + "-other", "sim:#" + path_}) {
      shm_unlink(platform::shared_block_name(api::StatusBlock::lowered_path(path)).c_str());
    }
  }
  std::unique_ptr<ChildProcess> client(const std::vector<std::string>& args) {
    std::vector<std::string> argv{QRX_STATUS_CLIENT};
    argv.insert(argv.end(), args.begin(), args.end());
    auto child = std::make_unique<ChildProcess>(argv);
    EXPECT_TRUE(child->started());
    return child;
  }
  std::string file_, path_;
  SharedCounters* counters_ = nullptr;
};

TEST_F(MultiProcessTest, FramedCallsOfManyProcessesNeverOverlap) {
  std::vector<std::unique_ptr<ChildProcess>> clients;
  for (int i = 0; i < 4; ++i) clients.push_back(client({"frame", path_, "25", file_}));
  for (auto& c : clients) EXPECT_EQ(c->wait(120000), 0);
  EXPECT_EQ(counters_->entries.load(), 4 * 25 * 2) << "every open and close visited the device";
  EXPECT_EQ(counters_->overlaps.load(), 0);
}

TEST_F(MultiProcessTest, TheOverlapCheckWouldSeeUnframedProcesses) {
  // Clients on different device paths have different busy flags: their visits
  // are not kept apart, and the check above must be able to see that.
  std::vector<std::unique_ptr<ChildProcess>> clients;
  for (int i = 0; i < 4; ++i) {
    clients.push_back(client({"frame", path_ + "-" + std::to_string(i), "25", file_}));
  }
  for (auto& c : clients) EXPECT_EQ(c->wait(120000), 0);
  EXPECT_GT(counters_->overlaps.load(), 0);
}

TEST_F(MultiProcessTest, AProcessKilledInsideTheFrameDoesNotBlockTheOthers) {
  // A third process keeps the block open, so that it outlives the holder with
  // its busy flag still set.
  auto keeper = client({"write", path_, "77"});
  std::string line;
  ASSERT_TRUE(keeper->read_line(line, 20000));
  ASSERT_EQ(line, "ready");
  auto holder = client({"hold", path_, file_});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (counters_->holding.load() == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_EQ(counters_->holding.load(), 1) << "the holder never got inside";
  holder->kill_now(SIGKILL);
  EXPECT_EQ(holder->wait(10000), 128 + SIGKILL);
  auto other = client({"frame", path_, "5", file_});
  EXPECT_EQ(other->wait(20000), 0) << "still waiting for a dead holder";
  auto reader = client({"read", path_});
  ASSERT_TRUE(reader->read_line(line, 20000));
  EXPECT_EQ(line, "0 77 1") << "the block survived the holder; only its busy flag was taken over";
}

TEST_F(MultiProcessTest, AProcessKilledWhileHoldingTheLockDoesNotBlockTheOthers) {
  auto holder = client({"lock"});
  std::string line;
  ASSERT_TRUE(holder->read_line(line, 20000));
  ASSERT_EQ(line, "locked");
  auto waiting = client({"frame", path_, "3", file_});
  EXPECT_EQ(waiting->wait(300), -1) << "the lock is held: the client must wait";
  holder->kill_now(SIGKILL);
  EXPECT_EQ(waiting->wait(20000), 0);
}

TEST_F(MultiProcessTest, TheReferenceSearchRunsOncePerStatusBlock) {
  const std::string sim_path = "sim:#" + path_;
  auto first = client({"init", sim_path});
  std::string line;
  ASSERT_TRUE(first->read_line(line, 60000));
  std::istringstream a(line);
  unsigned status = 1, home = 0, passes = 0;
  a >> status >> home >> passes;
  EXPECT_EQ(status, 0u);
  EXPECT_GT(home, 0u);
  EXPECT_GT(passes, 0u) << "the first process homed and searched";

  auto second = client({"init", sim_path});
  ASSERT_TRUE(second->read_line(line, 60000));
  std::istringstream b(line);
  unsigned status2 = 1, home2 = 0, passes2 = 1;
  b >> status2 >> home2 >> passes2;
  EXPECT_EQ(status2, 0u);
  EXPECT_EQ(home2, home) << "the second process takes the stored offset";
  EXPECT_EQ(passes2, 0u) << "and does not move the carriage";
  first->close_input();
  second->close_input();
  EXPECT_EQ(first->wait(20000), 0);
  EXPECT_EQ(second->wait(20000), 0);
}

TEST_F(MultiProcessTest, OneBlockPerPathSharedWhileAnyProcessHoldsIt) {
  const std::string second_path = path_ + "-other";
  auto writer = client({"write", path_, "4321"});
  std::string line;
  ASSERT_TRUE(writer->read_line(line, 20000));
  ASSERT_EQ(line, "ready");

  auto reader = client({"read", path_});
  ASSERT_TRUE(reader->read_line(line, 20000));
  EXPECT_EQ(line, "0 4321 1") << "existing block, the writer's value, creation lamp state";
  auto other = client({"read", second_path});
  ASSERT_TRUE(other->read_line(line, 20000));
  EXPECT_EQ(line, "1 0 1") << "another path is another, fresh block";

  writer->close_input();
  EXPECT_EQ(writer->wait(20000), 0);
  EXPECT_EQ(reader->wait(20000), 0);
  auto later = client({"read", path_});
  ASSERT_TRUE(later->read_line(line, 20000));
  EXPECT_EQ(line, "1 0 1") << "nobody held it: created afresh with the creation values";
}

}  // namespace
}  // namespace qrx::test
