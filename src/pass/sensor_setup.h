// The sensor side of the register programme: sensor resolution and clocks, the
// analog front end (AFE), the pixel window, and the line and exposure timing.
#pragma once

#include <cstdint>

#include "pass/motor_plan.h"
#include "pass/scan_setup.h"
#include "platform/clock.h"
#include "settings/scanner_setting.h"
#include "transport/scanner_context.h"

namespace qrx::pass {

struct SensorMode {
  uint16_t resolution;  // 600, 1200, 2400 or 4800
  uint8_t code;         // register 0x05 bits 7..6
  uint8_t timing_code;  // 10, 8, 6 or 4
};
SensorMode sensor_mode(uint32_t read_resolution);

// One AFE register: waits (up to five tries, 10 ms apart) until the AFE is not
// busy, then writes the address and the 9-bit value.
bool write_afe_register(transport::DeviceLink& link, platform::Clock& clock, uint8_t address,
                        uint16_t value);

// Sensor resolution, clocks and the AFE set for the read resolution (39732).
uint16_t program_sensor_resolution(transport::ScannerContext& context,
                                   const settings::ScannerSetting& setting,
                                   uint32_t read_resolution);

// First and last sensor pixel of the read window (registers 0x30 to 0x33).
struct PixelWindow {
  uint16_t start;
  uint16_t end;
};
PixelWindow pixel_window(uint32_t read_resolution, uint32_t sensor_resolution, uint32_t window_x,
                         uint32_t window_width);
uint16_t program_pixel_window(transport::ScannerContext& context, const ScanSetup& read);

// Divider, multiplier, line period, exposures and timing code (39717 to 39725).
uint16_t program_sensor_timing(transport::ScannerContext& context,
                               const settings::ScannerSetting& setting, const ScanSetup& read,
                               const MotorPlan& plan);

}  // namespace qrx::pass
