// The service self-tests (see self_test.h): the dispatcher, the carriage runs,
// the input and output lines, the memory test and the short moves. The light
// tests are in self_test_light.cpp.
#include "self_test/self_test.h"

#include <array>
#include <cstring>
#include <vector>

#include "calibration/acquisition.h"
#include "calibration/calibration_driver.h"
#include "pass/carriage.h"
#include "platform/memory.h"
#include "qrx7730.h"
#include "self_test/self_test_light.h"
#include "transport/registers.h"

namespace qrx::self_test {
namespace {

constexpr uint8_t kServiceModeRegister = 0x60;  // bit 0 set while a carriage run goes

// A carriage run reads the whole flatbed at 75 dpi while moving.
constexpr uint16_t kRunResolution = 75;
constexpr uint32_t kRunLines = 877;  // 28064 units of 2400 dpi at 75 dpi
constexpr uint32_t kRunWidth = 20416;
constexpr uint16_t kRunExposure = 800;

// Input/output line tables, bit 0 first: a line number, kHome for the home sensor
// (status register bit 3), 0 for a bit without a line.
constexpr uint8_t kHome = 0xFF;
constexpr std::array<uint8_t, 8> kInputs51 = {kHome, 1, 2, 3, 4, 5, 6, 7};
constexpr std::array<uint8_t, 8> kInputs52 = {0, 0, 0, 0, 0, 0, 32, 8};
constexpr std::array<uint8_t, 8> kOutputs53 = {9, 11, 12, 13, 0, 10, 16, 0};
constexpr std::array<uint8_t, 8> kOutputs54 = {14, 15, 19, 0, 0, 0, 0, 0};

// Memory test: 2 MiB of the controller's RAM in 16 KiB blocks, two patterns.
constexpr uint32_t kMemoryStart = 0x10000000;
constexpr uint32_t kMemoryTested = 2u << 20;
constexpr uint32_t kMemoryBlock = 16u << 10;
constexpr std::array<std::array<uint8_t, 4>, 2> kPatterns = {
    {{0x55, 0x55, 0xAA, 0xAA}, {0xAA, 0xAA, 0x55, 0x55}}};

constexpr uint32_t kShortMoveSteps = 4;
constexpr std::array<uint32_t, 4> kCalibratedResolutions = {300, 600, 1200, 2400};

bool set_service_mode(transport::ScannerContext& context, uint8_t on) {
  return transport::write_bit_field(context.link, kServiceModeRegister, 0, 0, on);
}

// 877 lines of the flatbed read while the carriage moves out.
uint16_t run_lines(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                   bool infrared) {
  calibration::AcquisitionRequest request;
  request.port_type = context.link.port_type();
  request.resolution = kRunResolution;
  request.bits_per_pixel = 24;
  request.line_count = kRunLines;
  request.start_pixel = 0;
  request.width = kRunWidth;
  request.light_source = QRX_LAMP_FLATBED;
  request.channels = 3;
  request.exposure.channel = {255, 255, 255, 255};
  request.exposure.exposure = {kRunExposure, kRunExposure, kRunExposure,
                               infrared ? kRunExposure : uint16_t{0}};
  request.no_motor = 0;
  std::vector<uint8_t> lines;
  return calibration::calibration_lines(context, setting, request, lines);
}

uint16_t endless_run(transport::ScannerContext& context, const settings::ScannerSetting& setting) {
  for (;;) {
    if (!set_service_mode(context, 1)) return QRX_E_RESET;
    // The homing's result is not judged; every other failure (the reads, the
    // motor, the scanner gone) ends the run.
    pass::home_and_step_out(context, setting);
    const uint16_t status = run_lines(context, setting, false);
    if (status != QRX_OK) return status;
  }
}

uint16_t single_run(transport::ScannerContext& context, const settings::ScannerSetting& setting) {
  if (!set_service_mode(context, 1)) return QRX_E_RESET;
  uint16_t status = pass::home_and_step_out(context, setting);
  if (status == QRX_OK) status = run_lines(context, setting, true);
  const bool cleared = set_service_mode(context, 0);
  if (status != QRX_OK) return status;
  return cleared ? QRX_OK : QRX_E_RESET;
}

uint16_t calibration_run(transport::ScannerContext& context,
                         const settings::ScannerSetting& setting,
                         const calibration::PassEnvironment& environment) {
  for (uint32_t resolution : kCalibratedResolutions) {
    const uint16_t status = calibration::calibration_series(context, setting, environment,
                                                            resolution, QRX_LAMP_FLATBED);
    if (status != QRX_OK) return status;
  }
  return QRX_OK;
}

uint16_t read_inputs(transport::ScannerContext& context, const std::array<uint8_t, 8>& table) {
  uint16_t map = 0;
  for (int bit = 0; bit < 8; ++bit) {
    const uint8_t line = table[bit];
    if (line == 0) continue;
    uint8_t value = 0;
    if (line == kHome) {
      uint8_t status = 0;
      if (!transport::read_register(context.link, transport::reg::kStatus, status)) {
        return QRX_E_SELFTEST;
      }
      value = (status & transport::status_bit::kAtHome) != 0 ? 1 : 0;
    } else if (!transport::read_line(context.link, line, value)) {
      return QRX_E_SELFTEST;
    }
    if (value != 0) map = static_cast<uint16_t>(map | (1u << bit));
  }
  return map;
}

// Sets each line of the table to its bit of `bits`. stop_at_failure: the first
// failed write ends the test; otherwise the other lines are still written.
uint16_t write_outputs(transport::ScannerContext& context, const std::array<uint8_t, 8>& table,
                       uint8_t bits, bool stop_at_failure) {
  uint16_t result = QRX_OK;
  for (int bit = 0; bit < 8; ++bit) {
    if (table[bit] == 0) continue;
    if (!transport::set_line(context.link, table[bit], (bits >> bit) & 1)) {
      result = QRX_E_SELFTEST;
      if (stop_at_failure) break;
    }
  }
  return result;
}

uint16_t memory_test(transport::ScannerContext& context, uint8_t parameter) {
  if (parameter != 0) return QRX_E_PARAMETER;
  std::vector<uint8_t> written, read;
  if (!platform::try_resize(written, kMemoryBlock) || !platform::try_resize(read, kMemoryBlock)) {
    return QRX_E_NOMEM_MEMORY_TEST;
  }
  // The tested RAM holds the slope tables of the pass in progress: overwriting
  // them under a moving carriage would drive the motor with test patterns.
  const uint16_t status = pass::wait_for_stop(context);
  if (status != QRX_OK) return status;
  for (const auto& pattern : kPatterns) {
    for (uint32_t i = 0; i < kMemoryBlock; ++i) written[i] = pattern[i % pattern.size()];
    for (uint32_t offset = 0; offset < kMemoryTested; offset += kMemoryBlock) {
      const uint32_t address = kMemoryStart + offset;
      if (!transport::write_memory(context.link, address, written.data(), kMemoryBlock) ||
          !transport::read_memory(context.link, address, read.data(), kMemoryBlock) ||
          std::memcmp(written.data(), read.data(), kMemoryBlock) != 0) {
        return QRX_E_SELFTEST;
      }
    }
  }
  return QRX_OK;
}

uint16_t short_move(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                    uint8_t parameter) {
  if (parameter < 1 || parameter > 4) return QRX_OK;
  // Parameters 1 to 4 select move rows 3 to 6.
  return pass::move(context, setting,
                    {.distance = kShortMoveSteps, .row = static_cast<uint8_t>(parameter + 2)});
}

}  // namespace

uint16_t run_self_test(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                       const calibration::PassEnvironment& environment, uint8_t code,
                       uint8_t parameter) {
  switch (code) {
    case 0:
      return endless_run(context, setting);
    case 4:
      return single_run(context, setting);
    case 5:
      return light_and_dark_check(context, setting, environment);
    case 6:
      return calibration_run(context, setting, environment);
    case 50:
      return light_uniformity(context, setting, environment, parameter);
    case 51:
      return read_inputs(context, kInputs51);
    case 52:
      return read_inputs(context, kInputs52);
    case 53:
      return write_outputs(context, kOutputs53, parameter, true);
    case 54:
      return write_outputs(context, kOutputs54, parameter, false);
    case 56:
      return memory_test(context, parameter);
    case 57:
      return short_move(context, setting, parameter);
    default:
      return QRX_OK;  // 1, 55 and codes outside the list do nothing
  }
}

}  // namespace qrx::self_test
