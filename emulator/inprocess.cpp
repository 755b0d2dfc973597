// The process's own emulated scanner behind "sim:", created on first use from the
// QRX7730_SIM variable and kept, like a plugged-in device, until the process ends.
#include "emulator/inprocess.h"

#include <mutex>
#include <new>

#include "emulator/scanner.h"
#include "platform/clock.h"
#include "platform/paths.h"

namespace qrx::emu {
namespace {

std::mutex g_mutex;
std::shared_ptr<Scanner> g_scanner;
// The faster clock of a scanner built with a speed, in static storage and never
// destroyed: it stays the process clock to the very end, when the library's
// threads may still wait on it while its objects are taken down.
alignas(platform::ScaledClock) unsigned char g_fast_clock[sizeof(platform::ScaledClock)];

// With a speed other than 1 the process clock (which the library waits on and the
// scanner follows) becomes a scaled one, unless another clock is installed already
// (a test's virtual clock): scanner and library then run equally faster. Nothing
// uses the storage while the system clock is the process clock.
void apply_speed(double speed) {
  if (speed == 1.0 || &platform::clock() != &platform::system_clock()) return;
  platform::set_clock(new (g_fast_clock) platform::ScaledClock(speed));
}

std::shared_ptr<Scanner> build(const Options& options) {
  std::string error;
  return std::shared_ptr<Scanner>(Scanner::create(options, error));
}

}  // namespace

std::shared_ptr<Scanner> inprocess_scanner() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_scanner) {
    Options options;
    std::string error;
    if (!parse_options(platform::environment(kOptionsVariable), options, error)) return nullptr;
    g_scanner = build(options);
    if (g_scanner) apply_speed(options.speed);
  }
  return g_scanner;
}

std::shared_ptr<Scanner> reset_inprocess_scanner(const Options& options) {
  std::shared_ptr<Scanner> scanner = build(options);
  if (!scanner) return nullptr;  // the scanner in place stays
  std::lock_guard<std::mutex> lock(g_mutex);
  g_scanner = scanner;
  apply_speed(options.speed);
  return scanner;
}

}  // namespace qrx::emu
