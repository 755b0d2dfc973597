// Allocation that reports failure instead of throwing, with a fault seam for tests.
//
// Work buffers and tables are std::vector; growing one can fail. These helpers
// turn that failure into a false result so that the caller can answer with its
// own out-of-memory status code, and let tests make the n-th allocation fail to
// reach every such path.
#pragma once

#include <cstddef>
#include <new>
#include <stdexcept>
#include <vector>

namespace qrx::platform {

// Tests: the next `count` allocations succeed, the one after fails, then the
// seam disarms itself. A negative count disarms it.
void fail_allocation_after(long count);
// Tests: a function every allocation through the seam calls first, on the
// allocating thread, before the seam decides (nullptr: none). It may hold the
// thread there or arm the seam for the allocation in hand.
void set_allocation_hook(void (*hook)());
// True when the seam says the current allocation must fail (consumes one step).
bool allocation_should_fail();
// Allocations that have passed the seam since the process started, failed or not
// (tests count the sites of a flow with it).
unsigned long allocations_seen();

template <class T>
bool try_resize(std::vector<T>& buffer, size_t count) {
  if (allocation_should_fail()) return false;
  try {
    buffer.resize(count);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return true;
}

template <class T>
bool try_assign(std::vector<T>& buffer, size_t count, const T& value) {
  if (allocation_should_fail()) return false;
  try {
    buffer.assign(count, value);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return true;
}

}  // namespace qrx::platform
