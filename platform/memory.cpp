// The allocation fault seam.
#include "platform/memory.h"

#include <atomic>

namespace qrx::platform {
namespace {
std::atomic<long> g_allocations_left{-1};
std::atomic<unsigned long> g_allocations_seen{0};
std::atomic<void (*)()> g_hook{nullptr};
}  // namespace

void fail_allocation_after(long count) { g_allocations_left.store(count); }

void set_allocation_hook(void (*hook)()) { g_hook.store(hook); }

unsigned long allocations_seen() { return g_allocations_seen.load(); }

bool allocation_should_fail() {
  g_allocations_seen.fetch_add(1, std::memory_order_relaxed);
  if (void (*hook)() = g_hook.load()) hook();
  long left = g_allocations_left.load(std::memory_order_relaxed);
  if (left < 0) return false;
  while (left >= 0) {
    if (g_allocations_left.compare_exchange_weak(left, left - 1)) {
      return left == 0;  // this allocation is the one that fails; the seam then reads -1
    }
  }
  return false;
}

}  // namespace qrx::platform
