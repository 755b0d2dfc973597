// The XML documents the server answers with: ScannerCapabilities, ScannerStatus
// and ScanImageInfo, in the pwg and scan namespaces eSCL clients read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scan_settings.h"

namespace qrx::escl {

inline constexpr const char* kEsclVersion = "2.63";

struct JobReport {
  std::string id;      // the job's UUID
  std::string state;   // Pending, Processing, Completed, Canceled, Aborted
  std::string reason;  // JobScanning, JobCompletedSuccessfully, ...
  uint32_t age = 0;    // seconds since the job was made
  uint32_t images_completed = 0;
  uint32_t images_to_transfer = 0;
};

struct ImageReport {
  std::string id;
  uint32_t width = 0, height = 0;  // pixels
  uint32_t bytes_per_line = 0;     // of the image as scanned (before encoding)
  uint32_t images_completed = 0;
};

// admin_uri: the web page; icon_uri: the scanner's picture.
std::string capabilities_xml(const ScannerModel& model, const std::string& uuid,
                             const std::string& admin_uri, const std::string& icon_uri);
// What a scan of the settings would deliver: the image's size in pixels and
// the bytes of one line as scanned.
struct BufferReport {
  ScanSettings settings;
  uint32_t width = 0, height = 0, bytes_per_line = 0;
};
std::string buffer_info_xml(const BufferReport& buffer);
// state: Idle, Processing, Down.
std::string status_xml(const std::string& state, const std::vector<JobReport>& jobs);
std::string image_info_xml(const ImageReport& image);

}  // namespace qrx::escl
