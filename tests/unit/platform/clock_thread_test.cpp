// Clocks and worker threads.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/clock.h"
#include "platform/memory.h"
#include "platform/thread.h"

namespace qrx::platform {
namespace {

TEST(ClockTest, VirtualSleepAdvancesAtOnceAndTicksWrapLikeATickCounter) {
  VirtualClock clock(0);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 6000; ++i) clock.sleep_ms(10);  // a minute of polling
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(clock.ticks_ms(), 60000u);
  EXPECT_EQ(clock.sleeps(), 6000u);
  clock.advance_us((1ull << 32) * 1000);  // 2^32 ms later the tick count is where it was
  EXPECT_EQ(clock.ticks_ms(), 60000u);
}

TEST(ClockTest, ScopedClockInstallsAndRestoresTheProcessClock) {
  VirtualClock virtual_clock;
  EXPECT_EQ(&clock(), &system_clock());
  {
    ScopedClock scoped(virtual_clock);
    EXPECT_EQ(&clock(), &virtual_clock);
    clock().sleep_ms(250);
  }
  EXPECT_EQ(&clock(), &system_clock());
  EXPECT_EQ(virtual_clock.now_us(), 1'000'000u + 250'000u);
}

TEST(ClockTest, SystemClockSleepsRoughlyAsLongAsAsked) {
  const uint64_t before = system_clock().now_us();
  system_clock().sleep_ms(20);
  EXPECT_GE(system_clock().now_us() - before, 19'000u);
}

TEST(ThreadTest, ExitCodeIsStillActiveWhileRunningThenTheProcedureResult) {
  std::atomic<bool> go{false};
  auto thread = Thread::start(
      [](void* arg) -> uint32_t {
        auto* flag = static_cast<std::atomic<bool>*>(arg);
        while (!flag->load()) std::this_thread::yield();
        return 1;
      },
      &go);
  ASSERT_TRUE(thread);
  EXPECT_EQ(thread->exit_code(), Thread::kStillActive);
  go = true;
  thread->join();
  EXPECT_EQ(thread->exit_code(), 1u);
}

TEST(ThreadTest, AProcedureReturningTheStillActiveValueDoesNotLookAliveForEver) {
  auto thread = Thread::start([](void*) -> uint32_t { return Thread::kStillActive; }, nullptr);
  ASSERT_TRUE(thread);
  thread->join();
  EXPECT_NE(thread->exit_code(), Thread::kStillActive);
  EXPECT_EQ(Thread::start(nullptr, nullptr), nullptr);
}

TEST(MemoryTest, TheFaultSeamFailsExactlyTheChosenAllocation) {
  std::vector<int> a, b, c;
  fail_allocation_after(1);
  EXPECT_TRUE(try_resize(a, 10));
  EXPECT_FALSE(try_resize(b, 10));
  EXPECT_TRUE(b.empty());
  EXPECT_TRUE(try_resize(c, 10)) << "the seam disarms itself after one failure";
  EXPECT_FALSE(try_resize(c, static_cast<size_t>(-1) / 2)) << "an impossible size fails cleanly";
}

}  // namespace
}  // namespace qrx::platform
