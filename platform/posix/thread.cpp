// Worker threads on POSIX: a pthread whose procedure's return value is kept as
// its exit code.
#include "platform/thread.h"

#include <pthread.h>

#include <atomic>

#include "platform/memory.h"

namespace qrx::platform {
namespace {

class PosixThread final : public Thread {
 public:
  PosixThread(Procedure procedure, void* argument) : procedure_(procedure), argument_(argument) {}
  ~PosixThread() override { join(); }

  bool launch() {
    if (pthread_create(&thread_, nullptr, &PosixThread::entry, this) == 0) return true;
    joined_ = true;  // nothing to wait for
    return false;
  }

  uint32_t exit_code() override { return exit_code_.load(std::memory_order_acquire); }

  void join() override {
    if (!joined_) {
      pthread_join(thread_, nullptr);
      joined_ = true;
    }
  }

 private:
  static void* entry(void* self_pointer) {
    auto* self = static_cast<PosixThread*>(self_pointer);
    uint32_t code = self->procedure_(self->argument_);
    // A procedure that returns the "still active" value would look alive for
    // ever; report it as a plain failure instead.
    if (code == kStillActive) code = 0;
    self->exit_code_.store(code, std::memory_order_release);
    return nullptr;
  }

  Procedure procedure_;
  void* argument_;
  pthread_t thread_{};
  bool joined_ = false;
  std::atomic<uint32_t> exit_code_{kStillActive};
};

}  // namespace

std::unique_ptr<Thread> Thread::start(Procedure procedure, void* argument) {
  // A new thread's stack and record are an allocation like any other (the seam).
  if (procedure == nullptr || allocation_should_fail()) return nullptr;
  auto thread = std::make_unique<PosixThread>(procedure, argument);
  if (!thread->launch()) {
    return nullptr;
  }
  return thread;
}

}  // namespace qrx::platform
