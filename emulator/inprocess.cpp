// The process's own emulated scanner behind "sim:", created on first use from the
// QRX7730_SIM variable and kept, like a plugged-in device, until the process ends.
#include "emulator/inprocess.h"

#include <mutex>

#include "emulator/scanner.h"
#include "platform/paths.h"

namespace qrx::emu {
namespace {

std::mutex g_mutex;
std::shared_ptr<Scanner> g_scanner;

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
  }
  return g_scanner;
}

std::shared_ptr<Scanner> reset_inprocess_scanner(const Options& options) {
  std::shared_ptr<Scanner> scanner = build(options);
  if (!scanner) return nullptr;  // the scanner in place stays
  std::lock_guard<std::mutex> lock(g_mutex);
  g_scanner = scanner;
  return scanner;
}

}  // namespace qrx::emu
