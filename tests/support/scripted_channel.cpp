// ScriptedChannel (see scripted_channel.h).
#include "support/scripted_channel.h"

#include <unistd.h>

#include <algorithm>

#include "qrx7730.h"

namespace qrx::test {

ScriptedDevice::ScriptedDevice()
    : vendor_id(QRX7730_USB_VENDOR_ID), product_id(QRX7730_USB_PRODUCT_ID) {}

size_t ScriptedDevice::count(ChannelCall::Kind kind, int request) {
  std::lock_guard<std::mutex> lock(mutex);
  return static_cast<size_t>(std::count_if(calls.begin(), calls.end(), [&](const ChannelCall& c) {
    return c.kind == kind && (request < 0 || c.request == request);
  }));
}

bool ScriptedChannel::control_read(uint8_t request, uint16_t index, uint8_t* buffer,
                                   uint32_t length) {
  ScriptedDevice& d = *device_;
  std::lock_guard<std::mutex> lock(d.mutex);
  d.calls.push_back({ChannelCall::kControlRead, request, index, length, {}});
  if (d.fail_request == request) return false;
  if (request == 0x8E && index == 0 && length == 1) {
    buffer[0] = d.status_byte;
    return true;
  }
  if (request == 0x8E && length == 2 && (index & 0xFF) == 0x22) {
    buffer[0] = d.registers[index >> 8];
    buffer[1] = d.register_marker;
    return true;
  }
  if (request == 0x8A && index == 5 && length == 4) {
    buffer[0] = static_cast<uint8_t>(d.selected_word_address);
    buffer[1] = static_cast<uint8_t>(d.selected_word_address >> 8);
    buffer[2] = 0;
    buffer[3] = 0;
    return true;
  }
  return false;
}

bool ScriptedChannel::control_write(uint8_t request, uint16_t index, const uint8_t* data,
                                    uint32_t length) {
  ScriptedDevice& d = *device_;
  std::lock_guard<std::mutex> lock(d.mutex);
  d.calls.push_back(
      {ChannelCall::kControlWrite, request, index, length, std::vector<uint8_t>(data, data + length)});
  if (d.fail_request == request) return false;
  if (request == 0x83 && length == 2) {
    d.registers[data[0]] = data[1];
    return true;
  }
  if (request == 0x8B && index == 6 && length == 4) {
    d.selected_word_address = static_cast<uint32_t>(data[0]) | (static_cast<uint32_t>(data[1]) << 8) |
                              (static_cast<uint32_t>(data[2]) << 16) |
                              (static_cast<uint32_t>(data[3]) << 24);
    return true;
  }
  return request == 0x82 || request == 0x8C;
}

bool ScriptedChannel::device_descriptor(transport::DeviceDescriptor& descriptor) {
  ScriptedDevice& d = *device_;
  std::lock_guard<std::mutex> lock(d.mutex);
  d.calls.push_back({ChannelCall::kDescriptor, 0, 0, 8, {}});
  descriptor = {d.vendor_id, d.product_id, d.release, 0x0409};
  return true;
}

bool ScriptedChannel::bulk_read(uint8_t* buffer, uint32_t length, uint32_t& transferred) {
  ScriptedDevice& d = *device_;
  std::lock_guard<std::mutex> lock(d.mutex);
  d.calls.push_back({ChannelCall::kBulkRead, 0, 0, length, {}});
  if (d.fail_bulk) return false;
  uint32_t n = length;
  if (!d.bulk_read_script.empty()) {
    n = std::min(n, d.bulk_read_script.front());
    d.bulk_read_script.pop_front();
  }
  for (uint32_t i = 0; i < n; ++i) buffer[i] = d.next_bulk_byte++;
  transferred = n;
  return true;
}

bool ScriptedChannel::bulk_write(const uint8_t* data, uint32_t length, uint32_t& transferred) {
  ScriptedDevice& d = *device_;
  std::lock_guard<std::mutex> lock(d.mutex);
  d.calls.push_back({ChannelCall::kBulkWrite, 0, 0, length, {}});
  if (d.fail_bulk) return false;
  uint32_t n = length;
  if (!d.bulk_write_script.empty()) {
    n = std::min(n, d.bulk_write_script.front());
    d.bulk_write_script.pop_front();
  }
  d.bulk_written.insert(d.bulk_written.end(), data, data + n);
  transferred = n;
  return true;
}

std::string install_scripted_backend(std::shared_ptr<ScriptedDevice> device,
                                     const std::string& name) {
  transport::register_channel_backend(
      "test:", [device](const std::string&) -> std::unique_ptr<transport::DeviceChannel> {
        return std::make_unique<ScriptedChannel>(device);
      });
  return "test:" + name + "-" + std::to_string(getpid());
}

}  // namespace qrx::test
