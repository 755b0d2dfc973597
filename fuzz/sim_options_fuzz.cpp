// Fuzz target: the emulator's option string (QRX7730_SIM, the daemon's settings).
// A string that does not parse leaves the options untouched; one that parses gives
// values in their documented ranges and a scanner that can be built and answers.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "emulator/options.h"
#include "emulator/scanner.h"
#include "fuzz_host.h"
#include "platform/clock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qrx;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  emu::Options options;
  options.seed = 99;  // not the default, so that "unchanged" is seen
  const emu::Options before = options;
  std::string error;
  if (!emu::parse_options(text, options, error)) {
    if (!(options == before)) fuzz::fail("a refused option string changed the options");
    if (error.empty()) fuzz::fail("a refused option string without a message");
    return 0;
  }
  if (options.port_type != 1 && options.port_type != 2) fuzz::fail("port type", options.port_type);
  if (options.board_variant > 1) fuzz::fail("board variant", options.board_variant);
  if (!(options.speed >= emu::kMinSpeed && options.speed <= emu::kMaxSpeed)) {
    fuzz::fail("speed out of range");
  }
  if (options.falloff_percent > 100) fuzz::fail("falloff", options.falloff_percent);
  // A document is a file to read; the decoders have a target of their own.
  options.document.clear();
  platform::VirtualClock clock;
  std::unique_ptr<emu::Scanner> scanner = emu::Scanner::create(options, error, &clock);
  if (scanner == nullptr) return 0;
  uint8_t identification = 0;
  if (!scanner->control_in(emu::kRequestRegisterRead, 0, &identification, 1)) {
    fuzz::fail("a scanner built from parsed options does not answer");
  }
  uint8_t reg[2] = {};
  scanner->control_in(emu::kRequestRegisterRead, 0x41 * 256 + 0x22, reg, 2);
  return 0;
}
