// HookedChannel (see hooked_channel.h).
#include "support/hooked_channel.h"

#include "transport/backends/emulator_channel.h"

namespace qrx::test {
namespace {

constexpr uint8_t kRegisterRead = 0x8E;
constexpr uint8_t kRegisterWrite = 0x83;
constexpr uint8_t kValidMarker = 0x55;

}  // namespace

bool HookedChannel::control_read(uint8_t request, uint16_t index, uint8_t* buffer,
                                 uint32_t length) {
  if (!inner_->control_read(request, index, buffer, length)) return false;
  const bool register_read = request == kRegisterRead && length == 2 && (index & 0xFF) == 0x22 &&
                             buffer[1] == kValidMarker;
  if (register_read && on_read && !on_read(static_cast<uint8_t>(index >> 8), buffer[0])) {
    return false;
  }
  return true;
}

bool HookedChannel::control_write(uint8_t request, uint16_t index, const uint8_t* data,
                                  uint32_t length) {
  if (request == kRegisterWrite && length == 2 && data != nullptr && on_write) {
    on_write(data[0], data[1]);
  }
  return inner_->control_write(request, index, data, length);
}

HookedChannel& hook_emulator_channel(transport::DeviceLink& link) {
  auto channel = std::make_unique<HookedChannel>(transport::open_emulator_channel(""));
  HookedChannel& hooked = *channel;
  link.attach(std::move(channel));
  return hooked;
}

}  // namespace qrx::test
