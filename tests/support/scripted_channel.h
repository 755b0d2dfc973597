// ScriptedChannel: a DeviceChannel for unit tests that answers like a minimal
// scanner (identification, descriptor, a register file with the valid marker) and
// records every request, with knobs for short and empty bulk transfers and for
// failing requests.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "transport/device_channel.h"

namespace qrx::test {

struct ChannelCall {
  enum Kind { kControlRead, kControlWrite, kDescriptor, kBulkRead, kBulkWrite } kind;
  uint8_t request = 0;
  uint16_t index = 0;
  uint32_t length = 0;         // asked
  std::vector<uint8_t> data;   // written bytes (control write, bulk write)
};

// State shared between a test and the channel(s) it hands out.
struct ScriptedDevice {
  std::mutex mutex;
  uint16_t vendor_id = 0;   // set by the constructor to this scanner's ids
  uint16_t product_id = 0;
  uint16_t release = 0x0100;
  uint8_t status_byte = 0x08;  // bit 3 set: port type 1
  std::array<uint8_t, 256> registers{};
  uint8_t register_marker = 0x55;
  // Bulk reads: each entry caps one read call's size (0 = an empty read); when
  // the script runs out, reads return all that is asked. Data is a counter byte.
  std::deque<uint32_t> bulk_read_script;
  std::deque<uint32_t> bulk_write_script;
  uint8_t next_bulk_byte = 0;
  std::vector<uint8_t> bulk_written;
  // Memory words answered by request 0x8A: the low 16 bits of the selected address.
  uint32_t selected_word_address = 0;
  // Fail the request with this code (control or bulk) when set.
  int fail_request = -1;       // request code whose control transfers fail
  bool fail_bulk = false;
  std::vector<ChannelCall> calls;

  ScriptedDevice();
  size_t count(ChannelCall::Kind kind, int request = -1);
};

class ScriptedChannel final : public transport::DeviceChannel {
 public:
  explicit ScriptedChannel(std::shared_ptr<ScriptedDevice> device) : device_(std::move(device)) {}
  bool control_read(uint8_t request, uint16_t index, uint8_t* buffer, uint32_t length) override;
  bool control_write(uint8_t request, uint16_t index, const uint8_t* data,
                     uint32_t length) override;
  bool device_descriptor(transport::DeviceDescriptor& descriptor) override;
  bool bulk_read(uint8_t* buffer, uint32_t length, uint32_t& transferred) override;
  bool bulk_write(const uint8_t* data, uint32_t length, uint32_t& transferred) override;

 private:
  std::shared_ptr<ScriptedDevice> device_;
};

// Registers a "test:" backend whose channels all talk to device; returns a
// device path under that prefix that is unique to this process and name.
std::string install_scripted_backend(std::shared_ptr<ScriptedDevice> device,
                                     const std::string& name);

}  // namespace qrx::test
