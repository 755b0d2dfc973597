// The still-image driver backend (see stillimage_channel.h).
#include "transport/backends/stillimage_channel.h"

namespace qrx::transport {
namespace {

static_assert(sizeof(void*) != 8 || sizeof(ControlBlock) == 24,
              "the driver's request block is 24 bytes for 64-bit callers");

class StillImageChannel final : public DeviceChannel {
 public:
  explicit StillImageChannel(std::unique_ptr<platform::DriverFile> file) : file_(std::move(file)) {}

  bool control_read(uint8_t request, uint16_t index, uint8_t* buffer, uint32_t length) override {
    ControlBlock block{request, length, nullptr, index, 0};
    return file_->io_control(kIoctlReadRegisters, &block, sizeof block, buffer, length);
  }

  bool control_write(uint8_t request, uint16_t index, const uint8_t* data,
                     uint32_t length) override {
    ControlBlock block{request, length, data, index, 0};
    return file_->io_control(kIoctlWriteRegisters, &block, sizeof block, nullptr, 0);
  }

  bool device_descriptor(DeviceDescriptor& descriptor) override {
    uint16_t fields[4] = {0, 0, 0, 0};
    bool ok = file_->io_control(kIoctlGetDeviceDescriptor, nullptr, 0, fields, sizeof fields);
    descriptor.vendor_id = fields[0];
    descriptor.product_id = fields[1];
    descriptor.release = fields[2];
    descriptor.language_id = fields[3];
    return ok;
  }

  bool bulk_read(uint8_t* buffer, uint32_t length, uint32_t& transferred) override {
    return file_->read(buffer, length, transferred);
  }

  bool bulk_write(const uint8_t* data, uint32_t length, uint32_t& transferred) override {
    return file_->write(data, length, transferred);
  }

 private:
  std::unique_ptr<platform::DriverFile> file_;
};

}  // namespace

std::unique_ptr<DeviceChannel> make_stillimage_channel(std::unique_ptr<platform::DriverFile> file) {
  if (!file) return nullptr;
  return std::make_unique<StillImageChannel>(std::move(file));
}

std::unique_ptr<DeviceChannel> open_stillimage_channel(const std::string& path) {
  return make_stillimage_channel(platform::DriverFile::open(path));
}

}  // namespace qrx::transport
