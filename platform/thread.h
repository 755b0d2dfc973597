// Worker threads with exit codes, as the scan start and the image reader use them.
#pragma once

#include <cstdint>
#include <memory>

namespace qrx::platform {

class Thread {
 public:
  using Procedure = uint32_t (*)(void* argument);
  // The exit code reported while the thread is still running.
  static constexpr uint32_t kStillActive = 259;

  // Starts procedure(argument) on a new thread with the default stack size;
  // nullptr when the thread could not be created.
  static std::unique_ptr<Thread> start(Procedure procedure, void* argument);

  // Waits for the thread to end before releasing it, so that a thread never
  // outlives the objects it was given.
  virtual ~Thread() = default;
  // kStillActive while the procedure runs, then its return value.
  virtual uint32_t exit_code() = 0;
  // Waits until the procedure has returned.
  virtual void join() = 0;
};

}  // namespace qrx::platform
