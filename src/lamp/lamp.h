// Light control and warm-up: switching the flatbed and film lights, reading which
// one is on, the motor check of the light selection with its watchdog, and the
// warm-up poll that measures a film light once per poll until its brightness has
// settled. The light codes are QRX_LAMP_* of the public header: 1 flatbed, 12 film
// (visible and infrared, what a selection of 4 is stored as), 8 infrared film,
// 255 none; bit 0 marks the flatbed light, bits 2 and 3 the film lights.
#pragma once

#include <array>
#include <cstdint>

#include "settings/scanner_setting.h"
#include "transport/scanner_context.h"

namespace qrx::lamp {

// Light state as read from the controller: 0 off, 1 flatbed light on, 4 visible
// film light on, 8 the infrared film light on with no visible light selected.
// False when a register cannot be read.
bool read_light_state(transport::ScannerContext& context, uint8_t& state);

// Switches light `code` on (1 flatbed, 4 visible film, 12 both film lights,
// 8 infrared film) or every light off (0), checking the light-select bits where
// they are read back. False on a failed access or read-back.
bool switch_light(transport::ScannerContext& context, uint8_t code);

// Reads the motor-running bit of the status register; false when unreadable.
bool motor_running(transport::ScannerContext& context, bool& running);

// A light selection refused because the motor runs (call it inside the call frame,
// so that the reset never falls between another caller's requests): remembers the
// first refusal of a run of refusals (one run while this process has not seen the
// carriage stop between them, and they are not many minutes apart); from 30 s
// after it, every refusal pulses the chip reset. 0x9601, or 0x9B2D once the reset
// was pulsed.
uint16_t refuse_light_while_moving(transport::ScannerContext& context);
// A light selection went through: the watchdog starts afresh.
void clear_light_refusal(transport::ScannerContext& context);

// Maxima of one warm-up measurement (8-bit), red, green, blue.
using Brightness = std::array<uint8_t, 3>;

// The warm-up verdicts on a measurement against the tuning record.
// Stable: within the decision level of every history entry below the decision range.
bool brightness_stable(const settings::ScannerSetting& setting, const Brightness& m,
                       const std::array<std::array<uint16_t, 9>, 3>& history);
// Ready: stable, above the ready ratios of the targets, and changed against the
// newest history entry by less than the allowed share.
bool brightness_ready(const settings::ScannerSetting& setting, const Brightness& m,
                      const std::array<std::array<uint16_t, 9>, 3>& history);
// Below the lower limits of the targets in every colour.
bool brightness_weak(const settings::ScannerSetting& setting, const Brightness& m);

// One GetLampStatus poll of a light that must be warmed up (not 1 or 255), with
// lamp_state the light last reported ready: the warm-up step with the attempt
// counter, which then counts the poll. 0 when the light is ready (the counter
// starts again), 0xA400 + attempt while it warms up, or a failure (the counter
// starts again).
uint16_t poll_warm_up(transport::ScannerContext& context, const settings::ScannerSetting& setting,
                      uint8_t light, uint8_t lamp_state);

// A stopped scan ends any warm-up in progress: the next poll starts afresh.
void reset_warm_up_attempts(transport::ScannerContext& context);

// Whether the controller still has film light `light` selected: register 0x03
// bit 5 for the visible film light, register 0x6C bit 7 for the infrared one. A
// carriage move puts the visible light out (bit 4) but leaves it selected; a dark
// reference, the flatbed light or a controller reset deselect it. False when a
// register cannot be read.
bool film_light_selected(transport::ScannerContext& context, uint8_t light, bool& selected);

}  // namespace qrx::lamp
