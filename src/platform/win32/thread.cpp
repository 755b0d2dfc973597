// Worker threads on Windows: CreateThread, with the procedure's return value as
// the thread's exit code (GetExitCodeThread reports 259 while it runs).
#include <windows.h>

#include <new>

#include "platform/thread.h"

namespace qrx::platform {
namespace {

static_assert(Thread::kStillActive == STILL_ACTIVE, "the exit code of a running thread");

class Win32Thread final : public Thread {
 public:
  Win32Thread(Procedure procedure, void* argument) : procedure_(procedure), argument_(argument) {}

  // Waits for the thread before closing its handle, so that the thread never
  // outlives what it was given.
  ~Win32Thread() override {
    if (handle_ != nullptr) {
      join();
      CloseHandle(handle_);
    }
  }

  Win32Thread(const Win32Thread&) = delete;
  Win32Thread& operator=(const Win32Thread&) = delete;

  bool launch() {
    handle_ = CreateThread(nullptr, 0, &Win32Thread::entry, this, 0, nullptr);
    return handle_ != nullptr;
  }

  uint32_t exit_code() override {
    DWORD code = 0;
    // A handle that cannot be asked any more is reported as a failed thread, not
    // as one still running, so that a caller polling for its end does not wait
    // for ever.
    if (!GetExitCodeThread(handle_, &code)) return 0;
    return static_cast<uint32_t>(code);
  }

  void join() override { WaitForSingleObject(handle_, INFINITE); }

 private:
  static DWORD WINAPI entry(LPVOID self_pointer) {
    auto* self = static_cast<Win32Thread*>(self_pointer);
    uint32_t code = self->procedure_(self->argument_);
    // A procedure that returned the "still active" value would look alive for
    // ever; report it as a plain failure instead.
    if (code == kStillActive) code = 0;
    return static_cast<DWORD>(code);
  }

  Procedure procedure_;
  void* argument_;
  HANDLE handle_ = nullptr;
};

}  // namespace

std::unique_ptr<Thread> Thread::start(Procedure procedure, void* argument) {
  if (procedure == nullptr) return nullptr;
  std::unique_ptr<Win32Thread> thread(new (std::nothrow) Win32Thread(procedure, argument));
  if (!thread || !thread->launch()) return nullptr;
  return thread;
}

}  // namespace qrx::platform
