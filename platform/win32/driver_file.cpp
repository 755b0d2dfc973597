// The still-image scanner driver as a file: CreateFileA on the device path,
// DeviceIoControl for register requests and the device descriptor, synchronous
// ReadFile/WriteFile for the bulk pipe.
#include <windows.h>

#include <new>

#include "platform/driver_file.h"

namespace qrx::platform {
namespace {

// Read and write access, shared for reading and writing.
constexpr DWORD kAccess = GENERIC_READ | GENERIC_WRITE;       // 0xC0000000
constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;  // 3
// System attribute and the sequential-scan hint.
constexpr DWORD kFlags = FILE_ATTRIBUTE_SYSTEM | FILE_FLAG_SEQUENTIAL_SCAN;  // 0x08000004

static_assert(kAccess == 0xC0000000u && kShare == 3 && kFlags == 0x08000004u);

class Win32DriverFile final : public DriverFile {
 public:
  explicit Win32DriverFile(HANDLE handle) : handle_(handle) {}
  ~Win32DriverFile() override { CloseHandle(handle_); }
  Win32DriverFile(const Win32DriverFile&) = delete;
  Win32DriverFile& operator=(const Win32DriverFile&) = delete;

  bool io_control(uint32_t code, const void* input, uint32_t input_size, void* output,
                  uint32_t output_size) override {
    DWORD returned = 0;
    return DeviceIoControl(handle_, code, const_cast<void*>(input), input_size, output, output_size,
                           &returned, nullptr) != FALSE;
  }

  bool read(void* buffer, uint32_t size, uint32_t& transferred) override {
    DWORD moved = 0;
    const BOOL ok = ReadFile(handle_, buffer, size, &moved, nullptr);
    transferred = ok ? static_cast<uint32_t>(moved) : 0;
    return ok != FALSE;
  }

  bool write(const void* data, uint32_t size, uint32_t& transferred) override {
    DWORD moved = 0;
    const BOOL ok = WriteFile(handle_, data, size, &moved, nullptr);
    transferred = ok ? static_cast<uint32_t>(moved) : 0;
    return ok != FALSE;
  }

 private:
  HANDLE handle_;
};

}  // namespace

std::unique_ptr<DriverFile> DriverFile::open(const std::string& path) {
  // A path with an embedded terminator would open something other than asked.
  if (path.empty() || path.find('\0') != std::string::npos) return nullptr;
  HANDLE handle =
      CreateFileA(path.c_str(), kAccess, kShare, nullptr, OPEN_EXISTING, kFlags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  std::unique_ptr<DriverFile> file(new (std::nothrow) Win32DriverFile(handle));
  if (!file) CloseHandle(handle);
  return file;
}

}  // namespace qrx::platform
