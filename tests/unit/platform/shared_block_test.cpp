// The status block's OS objects: naming, creation on first open, the lock.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "platform/object_name.h"
#include "platform/shared_block.h"

namespace qrx::platform {
namespace {

std::string unique_path(const char* name) {
  return std::string("test-") + name + "-" + std::to_string(getpid());
}

TEST(ObjectNameTest, AnyPathBecomesOneHarmlessName) {
  EXPECT_EQ(encode_for_object_name("sim:/tmp/a b", 200), "sim%3a%2ftmp%2fa%20b");
  const std::string hostile = "../../etc/passwd\n%00";
  const std::string encoded = encode_for_object_name(hostile, 200);
  EXPECT_EQ(encoded.find('/'), std::string::npos);
  EXPECT_EQ(encoded.find('\n'), std::string::npos);
  EXPECT_EQ(encoded, "..%2f..%2fetc%2fpasswd%0a%2500");
}

TEST(ObjectNameTest, LongPathsAreCutWithAHashThatKeepsThemApart) {
  std::string a(5000, 'x');
  std::string b = a;
  b[4999] = 'y';
  const std::string ea = encode_for_object_name(a, 200);
  const std::string eb = encode_for_object_name(b, 200);
  EXPECT_LE(ea.size(), 200u);
  EXPECT_NE(ea, eb);
  // A cut never leaves half an escape behind.
  std::string slashes(300, '/');
  const std::string es = encode_for_object_name(slashes, 64);
  EXPECT_LE(es.size(), 64u);
  const size_t tilde = es.find('~');
  ASSERT_NE(tilde, std::string::npos);
  EXPECT_EQ(tilde % 3, 0u);
}

TEST(SharedBlockTest, FirstOpenCreatesLaterOpensShareUntilTheLastCloses) {
  auto mutex = SystemMutex::open();
  ASSERT_TRUE(mutex);
  const std::string path = unique_path("lifetime");
  mutex->lock();
  auto first = SharedBlock::open(path);
  auto second = SharedBlock::open(path);
  mutex->unlock();
  ASSERT_TRUE(first.block && second.block);
  EXPECT_TRUE(first.created);
  EXPECT_EQ(first.os_error, 0u);
  EXPECT_FALSE(second.created);
  EXPECT_EQ(second.os_error, 183u);
  EXPECT_NE(first.block->name().find("_Scanner_Status_File_Mapping_SFS"), std::string::npos);

  const uint8_t value[2] = {0x34, 0x12};
  ASSERT_TRUE(first.block->write(0, value, 2));
  uint8_t seen[2] = {0, 0};
  ASSERT_TRUE(second.block->read(0, seen, 2));
  EXPECT_EQ(seen[0], 0x34);
  EXPECT_EQ(seen[1], 0x12);
  EXPECT_FALSE(second.block->read(11, seen, 2)) << "past the 12 bytes";

  mutex->lock();
  first.block.reset();
  second.block.reset();
  auto third = SharedBlock::open(path);
  mutex->unlock();
  ASSERT_TRUE(third.block);
  EXPECT_TRUE(third.created) << "nobody held it: it starts afresh";
  ASSERT_TRUE(third.block->read(0, seen, 2));
  EXPECT_EQ(seen[0], 0);
  mutex->lock();
  third.block.reset();
  mutex->unlock();
}

TEST(SharedBlockTest, TwoPathsAreTwoBlocks) {
  auto mutex = SystemMutex::open();
  mutex->lock();
  auto a = SharedBlock::open(unique_path("pathA"));
  auto b = SharedBlock::open(unique_path("pathB"));
  mutex->unlock();
  ASSERT_TRUE(a.block && b.block);
  EXPECT_NE(a.block->name(), b.block->name());
  const uint8_t one = 1;
  a.block->write(8, &one, 1);
  uint8_t seen = 9;
  b.block->read(8, &seen, 1);
  EXPECT_EQ(seen, 0);
  mutex->lock();
  a.block.reset();
  b.block.reset();
  mutex->unlock();
}

TEST(SharedBlockTest, BusyOwnerIsThisLiveProcess) {
  auto mutex = SystemMutex::open();
  mutex->lock();
  auto opened = SharedBlock::open(unique_path("owner"));
  mutex->unlock();
  ASSERT_TRUE(opened.block);
  EXPECT_FALSE(opened.block->busy_owner_gone()) << "no holder recorded";
  opened.block->record_busy_owner();
  EXPECT_FALSE(opened.block->busy_owner_gone()) << "this process is alive";
  opened.block->clear_busy_owner();
  EXPECT_FALSE(opened.block->busy_owner_gone());
  mutex->lock();
  opened.block.reset();
  mutex->unlock();
}

TEST(SharedBlockTest, AHolderThatDiedIsGoneBeforeItsParentWaitsForIt) {
  // A dead holder that nobody has waited for yet (its parent busy or careless) kept
  // every other process waiting for the scanner until it was.
  auto mutex = SystemMutex::open();
  mutex->lock();
  auto opened = SharedBlock::open(unique_path("zombie"));
  mutex->unlock();
  ASSERT_TRUE(opened.block);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    opened.block->record_busy_owner();  // the mapping is shared with the parent
    _exit(0);
  }
  siginfo_t info{};
  ASSERT_EQ(waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT), 0);
  EXPECT_TRUE(opened.block->busy_owner_gone()) << "dead, not yet waited for";
  ASSERT_EQ(waitpid(child, nullptr, 0), child);
  EXPECT_TRUE(opened.block->busy_owner_gone()) << "dead and waited for";
  mutex->lock();
  opened.block.reset();
  mutex->unlock();
}

TEST(SystemMutexTest, ExcludesTheThreadsOfOneProcess) {
  auto mutex = SystemMutex::open();
  ASSERT_TRUE(mutex);
  std::atomic<int> inside{0};
  std::atomic<bool> overlap{false};
  auto worker = [&] {
    for (int i = 0; i < 2000; ++i) {
      mutex->lock();
      if (inside.fetch_add(1) != 0) overlap = true;
      std::this_thread::yield();
      inside.fetch_sub(1);
      mutex->unlock();
    }
  };
  std::thread t1(worker), t2(worker), t3(worker);
  t1.join();
  t2.join();
  t3.join();
  EXPECT_FALSE(overlap);
}

// The section is written by every process of the machine at any time, so its
// bytes are not compared here: the test checks that it is a shared mapping of the
// one named object.
TEST(SharedSectionTest, IsASharedMappingOfTheOneNamedObject) {
  uint8_t* section = shared_section();
  ASSERT_NE(section, nullptr);
  EXPECT_EQ(shared_section(), section);
  std::ifstream maps("/proc/self/maps");
  const auto address = reinterpret_cast<uintptr_t>(section);
  std::string line;
  bool found = false;
  while (std::getline(maps, line)) {
    std::istringstream fields(line);
    std::string range, permissions, offset, device, inode, file;
    fields >> range >> permissions >> offset >> device >> inode >> file;
    const uintptr_t start = std::stoull(range.substr(0, range.find('-')), nullptr, 16);
    const uintptr_t end = std::stoull(range.substr(range.find('-') + 1), nullptr, 16);
    if (address < start || address + 16 > end) continue;
    found = true;
    EXPECT_EQ(file, "/dev/shm/qrx7730_shared_section");
    EXPECT_EQ(permissions, "rw-s") << "readable, writable and shared";
  }
  EXPECT_TRUE(found);
}

}  // namespace
}  // namespace qrx::platform
