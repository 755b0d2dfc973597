// The emulator backends: "sim:" adapts the process's in-process emulated scanner
// to a DeviceChannel; "sim:<socket path>" goes to the daemon client.
#include "transport/backends/emulator_channel.h"

#include <exception>

#include "emulator/inprocess.h"
#include "emulator/scanner.h"

namespace qrx::transport {
namespace detail {

// emulator_channel_socket.cpp
std::unique_ptr<DeviceChannel> open_emulator_socket_channel(const std::string& path);

namespace {

// One open handle on the in-process scanner. It holds the scanner, so the device
// stays alive as long as any handle on it is open, even if the process's scanner
// is replaced meanwhile. The scanner serialises the requests it receives.
class InProcessChannel final : public DeviceChannel {
 public:
  InProcessChannel(std::shared_ptr<emu::UsbPort> port, std::string identity)
      : port_(std::move(port)), identity_(std::move(identity)) {}

  bool control_read(uint8_t request, uint16_t index, uint8_t* buffer, uint32_t length) override {
    if (buffer == nullptr && length > 0) return false;
    return guarded([&] { return port_->control_in(request, index, buffer, length); });
  }
  bool control_write(uint8_t request, uint16_t index, const uint8_t* data,
                     uint32_t length) override {
    if (data == nullptr && length > 0) return false;
    return guarded([&] { return port_->control_out(request, index, data, length); });
  }
  bool device_descriptor(DeviceDescriptor& descriptor) override {
    uint16_t vendor = 0, product = 0, release = 0;
    if (!guarded([&] { return port_->descriptor(vendor, product, release); })) return false;
    descriptor = DeviceDescriptor{vendor, product, release, 0};
    return true;
  }
  bool bulk_read(uint8_t* buffer, uint32_t length, uint32_t& transferred) override {
    transferred = 0;
    if (buffer == nullptr && length > 0) return false;
    uint32_t moved = 0;
    if (!guarded([&] { return port_->bulk_in(buffer, length, moved); }) || moved > length) {
      return false;
    }
    transferred = moved;
    return true;
  }
  bool bulk_write(const uint8_t* data, uint32_t length, uint32_t& transferred) override {
    transferred = 0;
    if (data == nullptr && length > 0) return false;
    uint32_t moved = 0;
    if (!guarded([&] { return port_->bulk_out(data, length, moved); }) || moved > length) {
      return false;
    }
    transferred = moved;
    return true;
  }
  std::string identity() override { return identity_; }

 private:
  // The emulator may allocate; its failure is a failed request, not an exception
  // leaving the library.
  template <typename Call>
  static bool guarded(Call call) {
    try {
      return call();
    } catch (const std::exception&) {
      return false;
    }
  }

  std::shared_ptr<emu::UsbPort> port_;
  const std::string identity_;
};

}  // namespace
}  // namespace detail

std::unique_ptr<DeviceChannel> open_emulator_channel(const std::string& target) {
  // "sim:#name" is the in-process scanner too: the name only gives the device path
  // (and so its status block) an identity of its own.
  if (!target.empty() && target[0] != '#') return detail::open_emulator_socket_channel(target);
  try {
    std::shared_ptr<emu::Scanner> scanner = emu::inprocess_scanner();
    if (scanner == nullptr) return nullptr;
    // The seed makes the emulated sensor what it is, as a serial number names a
    // real one; the name stands for a scanner of its own as well.
    std::string identity = "sim-seed-" + std::to_string(scanner->options().seed) + target;
    return std::make_unique<detail::InProcessChannel>(std::move(scanner), std::move(identity));
  } catch (const std::exception&) {
    return nullptr;
  }
}

}  // namespace qrx::transport
