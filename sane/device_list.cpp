// The device list (see device_list.h).
#include "device_list.h"

#include <algorithm>

#include "abilities.h"
#include "debug_log.h"
#include "device_lock.h"
#include "qrx7730.h"
#include "status_map.h"
#include "usb_listing.h"

namespace qrx::sane {

bool DeviceList::answers(const std::string& path) {
  std::unique_ptr<DeviceLock> hold = DeviceLock::try_take(path);
  if (hold == nullptr) return true;  // in use by another front end
  debug(kLogCall, "FindScannerEx(%s) to see that it answers", path.c_str());
  if (!FindScannerEx(nullptr, path.c_str(), QRX7730_USB_PRODUCT_ID)) {
    uint16_t status = 0;
    GetScannerStatus(nullptr, &status);
    if (status == QRX_E_SCANNER_IN_USE) {
      // Another program (qrxscan, say) scans on it: it is there, and opening it
      // tells the front end it is busy.
      debug(kLogInfo, "%s answers: another program scans on it", path.c_str());
      return true;
    }
    library_failure("FindScannerEx", status);
    return false;
  }
  TerminateScanner(nullptr);
  return true;
}

void DeviceList::add(const std::string& path) {
  auto entry = std::make_unique<Entry>();
  entry->name = path;
  entry->device.name = entry->name.c_str();
  entry->device.vendor = vendor_.c_str();
  entry->device.model = model_.c_str();
  entry->device.type = "flatbed scanner";
  list_.push_back(&entry->device);
  entries_.push_back(std::move(entry));
}

const SANE_Device** DeviceList::refresh(const BackendConfig& config, const std::string& open_path) {
  if (vendor_.empty()) {
    // The names come from the ability record, which needs no open device.
    qrxscan::Abilities abilities;
    std::string error;
    if (qrxscan::query_abilities(abilities, error)) {
      vendor_ = abilities.vendor;
      model_ = abilities.model;
    } else {
      debug(kLogError, "%s", error.c_str());
      vendor_ = "QUARN";
      model_ = "QRX7730";
    }
  }
  std::vector<std::string> candidates = config.devices;
  if (config.usb_discovery) {
    for (const std::string& path : usb_scanners()) {
      if (std::find(candidates.begin(), candidates.end(), path) == candidates.end())
        candidates.push_back(path);
    }
  }
  std::vector<std::string> answering;
  for (const std::string& path : candidates) {
    bool listed;
    if (!open_path.empty()) {
      listed = path == open_path || std::find(seen_.begin(), seen_.end(), path) != seen_.end();
    } else {
      listed = answers(path);
    }
    if (listed) answering.push_back(path);
  }
  if (!open_path.empty() &&
      std::find(answering.begin(), answering.end(), open_path) == answering.end()) {
    answering.push_back(open_path);
  }
  seen_ = answering;
  list_.clear();
  entries_.clear();
  for (const std::string& path : answering) add(path);
  list_.push_back(nullptr);
  debug(kLogInfo, "%zu device(s) listed", answering.size());
  return list_.data();
}

std::string DeviceList::first() const {
  return seen_.empty() ? std::string() : seen_.front();
}

}  // namespace qrx::sane
