// Which backend a device path reaches: "sim:" prefixes go to the emulator, "usb:"
// to the scanner reached through the USB library (Linux), test prefixes registered
// at run time go to their factories, and on Windows every other path goes to the
// still-image driver.
#include <map>
#include <mutex>

#include "transport/backends/emulator_channel.h"
#include "transport/backends/stillimage_channel.h"
#include "transport/backends/usb_channel.h"
#include "transport/device_channel.h"

namespace qrx::transport {
namespace {

constexpr const char kEmulatorPrefix[] = "sim:";
constexpr const char kUsbPrefix[] = "usb:";

struct Registry {
  std::mutex mutex;
  std::map<std::string, ChannelFactory> factories;
};

Registry& registry() {
  static Registry instance;
  return instance;
}

bool starts_with(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

void register_channel_backend(const std::string& prefix, ChannelFactory factory) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  if (factory) {
    r.factories[prefix] = std::move(factory);
  } else {
    r.factories.erase(prefix);
  }
}

std::unique_ptr<DeviceChannel> open_device_channel(const std::string& path) {
  if (starts_with(path, kEmulatorPrefix)) {
    return open_emulator_channel(path.substr(sizeof(kEmulatorPrefix) - 1));
  }
  if (starts_with(path, kUsbPrefix)) return open_usb_channel(path.substr(sizeof(kUsbPrefix) - 1));
  ChannelFactory factory;
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (const auto& [prefix, candidate] : r.factories) {
      if (!prefix.empty() && starts_with(path, prefix)) {
        factory = candidate;
        break;
      }
    }
  }
  if (factory) return factory(path);
  return open_stillimage_channel(path);
}

}  // namespace qrx::transport
