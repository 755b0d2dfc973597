// The platform's still-image scanner driver, reached as a file (Windows only; on
// other platforms open() always fails).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace qrx::platform {

class DriverFile {
 public:
  virtual ~DriverFile() = default;
  // Opens the device path for reading and writing, shared, existing only.
  static std::unique_ptr<DriverFile> open(const std::string& path);
  // One driver request; false when the driver reports failure.
  virtual bool io_control(uint32_t code, const void* input, uint32_t input_size, void* output,
                          uint32_t output_size) = 0;
  // One synchronous read or write of the bulk pipe; may move fewer bytes than asked.
  virtual bool read(void* buffer, uint32_t size, uint32_t& transferred) = 0;
  virtual bool write(const void* data, uint32_t size, uint32_t& transferred) = 0;
};

}  // namespace qrx::platform
