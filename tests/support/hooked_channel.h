// HookedChannel: passes every request on to another channel (the in-process
// emulated scanner) and lets a test watch register writes and change or refuse
// single register reads: for faults that depend on what the scanner is doing (a
// status register that fails once the motor has stopped) rather than on how many
// requests came before.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "transport/device_channel.h"
#include "transport/device_link.h"

namespace qrx::test {

class HookedChannel final : public transport::DeviceChannel {
 public:
  explicit HookedChannel(std::unique_ptr<transport::DeviceChannel> inner)
      : inner_(std::move(inner)) {}

  // After each register read that succeeded, with the value read; false fails it.
  std::function<bool(uint8_t reg, uint8_t& value)> on_read;
  // Before each register write is passed on.
  std::function<void(uint8_t reg, uint8_t value)> on_write;

  bool control_read(uint8_t request, uint16_t index, uint8_t* buffer, uint32_t length) override;
  bool control_write(uint8_t request, uint16_t index, const uint8_t* data,
                     uint32_t length) override;
  bool device_descriptor(transport::DeviceDescriptor& descriptor) override {
    return inner_->device_descriptor(descriptor);
  }
  bool bulk_read(uint8_t* buffer, uint32_t length, uint32_t& transferred) override {
    return inner_->bulk_read(buffer, length, transferred);
  }
  bool bulk_write(const uint8_t* data, uint32_t length, uint32_t& transferred) override {
    return inner_->bulk_write(data, length, transferred);
  }

 private:
  std::unique_ptr<transport::DeviceChannel> inner_;
};

// Puts a HookedChannel to the process's in-process scanner under the link of an
// open device; the link owns it, the reference stays valid until the link closes.
HookedChannel& hook_emulator_channel(transport::DeviceLink& link);

}  // namespace qrx::test
