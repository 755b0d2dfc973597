// Configuration and device names (see config.h).
#include "config.h"

#include <algorithm>
#include <cctype>
#include <fstream>

#include "debug_log.h"

namespace qrx::sane {
namespace {

constexpr char kConfigFile[] = "qrx7730.conf";
constexpr char kBackendPrefix[] = "qrx7730:";

std::string trimmed(const std::string& line) {
  const size_t first = line.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  const size_t last = line.find_last_not_of(" \t\r");
  return line.substr(first, last - first + 1);
}

bool decimal(const std::string& text) {
  return !text.empty() && text.size() <= 5 &&
         std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(uint8_t(c)); });
}

// "usb:" or "usb:BUS:DEV", either perhaps with "#name" after it.
bool usb_path(const std::string& path) {
  const std::string place = path.substr(0, path.find('#'));
  if (place == "usb:") return true;
  const size_t colon = place.find(':', 4);
  return colon != std::string::npos && decimal(place.substr(4, colon - 4)) &&
         decimal(place.substr(colon + 1));
}

}  // namespace

std::vector<std::string> config_directories(const char* sane_config_dir,
                                            const std::string& installed_dir) {
  const std::vector<std::string> defaults = {".", installed_dir};
  if (sane_config_dir == nullptr || sane_config_dir[0] == '\0') return defaults;
  std::vector<std::string> directories;
  const std::string value = sane_config_dir;
  size_t start = 0;
  for (;;) {
    const size_t colon = value.find(':', start);
    const std::string part = value.substr(start, colon - start);
    if (!part.empty()) directories.push_back(part);
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  if (value.back() == ':') directories.insert(directories.end(), defaults.begin(), defaults.end());
  return directories;
}

void parse_config(std::istream& text, BackendConfig& config) {
  std::string line;
  int number = 0;
  while (std::getline(text, line)) {
    ++number;
    const std::string entry = trimmed(line);
    if (entry.empty() || entry[0] == '#') continue;
    if (entry == "usb") {
      config.usb_discovery = true;
      continue;
    }
    const std::optional<std::string> path = device_path_from_name(entry);
    if (!path) {
      debug(kLogError, "%s line %d: '%s' is no device path (sim:..., usb:BUS:DEV or usb)",
            config.file.c_str(), number, entry.c_str());
      continue;
    }
    if (std::find(config.devices.begin(), config.devices.end(), *path) == config.devices.end())
      config.devices.push_back(*path);
  }
}

BackendConfig read_config(const std::vector<std::string>& directories) {
  BackendConfig config;
  for (const std::string& directory : directories) {
    const std::string path = directory + "/" + kConfigFile;
    std::ifstream file(path);
    if (!file) continue;
    config.file = path;
    debug(kLogInfo, "reading %s", path.c_str());
    parse_config(file, config);
    return config;
  }
  debug(kLogInfo, "no %s found: looking for USB scanners only", kConfigFile);
  config.usb_discovery = true;
  return config;
}

std::optional<std::string> device_path_from_name(const std::string& name) {
  std::string path = name;
  if (path.rfind(kBackendPrefix, 0) == 0) path.erase(0, sizeof kBackendPrefix - 1);
  if (path.rfind("sim:", 0) == 0) return path;
  if (path.rfind("usb:", 0) == 0 && usb_path(path)) return path;
  return std::nullopt;
}

}  // namespace qrx::sane
