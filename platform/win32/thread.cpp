// Worker threads on Windows: CreateThread, with the procedure's return value as
// the thread's exit code (259 while it runs).
//
// A worker keeps the module that holds its code loaded for as long as it runs:
// it takes a reference to the module before it starts and drops it as its very
// last act with FreeLibraryAndExitThread. A host that frees the library while a
// scan or a calibration still runs therefore only drops its own reference; the
// library stays in memory until the worker has ended, and its unload (the
// library's destructors included) then runs on that worker. Nothing ever waits
// for a worker whose procedure has returned: such a thread may still be leaving
// through the loader, which a waiter holding the loader lock would deadlock with.
#include <windows.h>

#include <atomic>
#include <new>

#include "platform/memory.h"
#include "platform/thread.h"

namespace qrx::platform {
namespace {

static_assert(Thread::kStillActive == STILL_ACTIVE, "the exit code of a running thread");

class Win32Thread final : public Thread {
 public:
  Win32Thread(Procedure procedure, void* argument) : procedure_(procedure), argument_(argument) {}

  // Waits for the procedure to return before closing the handle, so that the
  // thread never outlives what it was given.
  ~Win32Thread() override {
    if (handle_ != nullptr) {
      join();
      CloseHandle(handle_);
    }
  }

  Win32Thread(const Win32Thread&) = delete;
  Win32Thread& operator=(const Win32Thread&) = delete;

  bool launch() {
    // The reference the worker gives back when it ends.
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&Win32Thread::entry), &module_)) {
      module_ = nullptr;
    }
    handle_ = CreateThread(nullptr, 0, &Win32Thread::entry, this, 0, nullptr);
    if (handle_ == nullptr && module_ != nullptr) FreeLibrary(module_);
    return handle_ != nullptr;
  }

  uint32_t exit_code() override {
    return returned_.load(std::memory_order_acquire) ? code_ : kStillActive;
  }

  void join() override {
    // A worker never waits for itself (its own unload runs its destructors), and
    // nobody waits for one that is only leaving.
    if (returned_.load(std::memory_order_acquire) || GetThreadId(handle_) == GetCurrentThreadId()) {
      return;
    }
    WaitForSingleObject(handle_, INFINITE);
  }

 private:
  static DWORD WINAPI entry(LPVOID self_pointer) {
    auto* self = static_cast<Win32Thread*>(self_pointer);
    const HMODULE module = self->module_;
    uint32_t code = self->procedure_(self->argument_);
    // A procedure that returned the "still active" value would look alive for
    // ever; report it as a plain failure instead.
    if (code == kStillActive) code = 0;
    self->code_ = code;
    // From here on the object may be gone at any moment: nothing of it is used.
    self->returned_.store(true, std::memory_order_release);
    if (module != nullptr) FreeLibraryAndExitThread(module, static_cast<DWORD>(code));
    return static_cast<DWORD>(code);
  }

  Procedure procedure_;
  void* argument_;
  HANDLE handle_ = nullptr;
  HMODULE module_ = nullptr;
  uint32_t code_ = kStillActive;
  std::atomic<bool> returned_{false};
};

}  // namespace

std::unique_ptr<Thread> Thread::start(Procedure procedure, void* argument) {
  // A new thread's stack and record are an allocation like any other (the seam).
  if (procedure == nullptr || allocation_should_fail()) return nullptr;
  std::unique_ptr<Win32Thread> thread(new (std::nothrow) Win32Thread(procedure, argument));
  if (!thread || !thread->launch()) return nullptr;
  return thread;
}

}  // namespace qrx::platform
