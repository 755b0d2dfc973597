// The shading file store: names, save, load for a scan and the freshness check.
//
// A file is only ever taken as a whole: one whose size is not exactly its layout's
// is treated like a missing one (the library calibrates again), and nothing of it
// reaches the shading arrays. A save writes fresh private files beside the real
// ones, makes them durable and only then moves them over the real names, so that an
// interrupted save leaves the previous files (or none), never a partial one.
#include "calibration/shading_files.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "calibration/calibration_store.h"
#include "calibration/shading_files_io.h"
#include "calibration/shading_math.h"
#include "platform/memory.h"
#include "qrx7730.h"

namespace qrx::calibration {
namespace {

constexpr size_t kHeaderBytes = 13;  // port type byte, exposure set
constexpr size_t kCounterBytes = 2;
// At this many counted scans the stored calibration is due again.
constexpr uint16_t kScansPerCalibration = 1000;

const char* film_shading_file_name(uint32_t resolution) {
  switch (resolution) {
    case 300:
      return "QRX7730P.SHD";
    case 600:
      return "QRX7730Q.SHD";
    case 1200:
      return "QRX7730R.SHD";
    case 2400:
    case 4800:
      return "QRX7730S.SHD";
    default:
      return "UnknownF.shd";
  }
}

const char* shading_file_name(uint8_t lamp_mode, uint32_t resolution) {
  if (!is_flatbed(lamp_mode)) return film_shading_file_name(resolution);
  switch (resolution) {
    case 75:
      return "QRX7730A.SHD";
    case 150:
      return "QRX7730B.SHD";
    case 300:
      return "QRX7730C.SHD";
    case 600:
      return "QRX7730D.SHD";
    case 1200:
      return "QRX7730E.SHD";
    case 2400:
    case 4800:
      return "QRX7730F.SHD";
    default:
      return "Unknown.shd";
  }
}

// The resolution whose layout a file holds. A 4800 dpi scan is read at 2400 dpi
// across, so its shading is the 2400 dpi one: "QRX7730F.SHD" (film "QRX7730S.SHD")
// holds that layout for both, whichever of the two saved it.
uint32_t stored_resolution(uint8_t /*lamp_mode*/, uint32_t resolution) {
  return resolution == 4800 ? 2400 : resolution;
}

// Pixels per channel of a file's lines.
uint32_t stored_pixels(uint8_t lamp_mode, uint32_t resolution) {
  return shading_pixels(lamp_mode, stored_resolution(lamp_mode, resolution));
}

// The name in the scanner's directory; empty when there is no safe directory (so
// that nothing is ever opened relative to the working directory).
std::string in_store_directory(const transport::ScannerContext& context, const char* name) {
  std::string directory = store_directory(context);
  if (directory.empty() || name == nullptr) return directory;
  return directory + name;
}

void put_u16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}
uint16_t get_u16(const uint8_t* at) {
  return static_cast<uint16_t>(at[0] | (at[1] << 8));
}

void put_exposure(uint8_t* at, const transport::ExposureSet& exposure) {
  for (size_t c = 0; c < 4; ++c) at[c] = exposure.channel[c];
  for (size_t c = 0; c < 4; ++c) put_u16(at + 4 + 2 * c, exposure.exposure[c]);
}
transport::ExposureSet get_exposure(const uint8_t* at) {
  transport::ExposureSet exposure;
  for (size_t c = 0; c < 4; ++c) exposure.channel[c] = at[c];
  for (size_t c = 0; c < 4; ++c) exposure.exposure[c] = get_u16(at + 4 + 2 * c);
  return exposure;
}

bool lines_hold(const ChannelLines& lines, uint32_t n) {
  return std::all_of(lines.begin(), lines.end(), [n](const auto& l) { return l.size() >= n; });
}

// Reads a whole file that must be exactly `bytes` long into content, which has room
// for one byte more; false when it is shorter, longer or unreadable.
bool read_exactly(StoreFile& file, std::vector<uint8_t>& content, size_t bytes) {
  // One byte more than expected is asked for: getting it means the file is longer.
  return content.size() > bytes && file.read(content.data(), 1, bytes + 1) == bytes;
}

// Writes content to a fresh file beside path and makes it durable; the file's name
// stays in file.created_path(). On failure nothing is left behind.
bool write_beside(StoreFile& file, const std::string& path, const uint8_t* content, size_t bytes) {
  if (!file.create_beside(path)) return false;
  const bool written = file.write(content, 1, bytes) == bytes && file.flush() && file.close();
  if (!written) {
    file.close();
    std::remove(file.created_path().c_str());
  }
  return written;
}

// Reads the counter file's value: exactly two bytes.
bool read_counter(StoreFile& file, uint16_t& value) {
  uint8_t bytes[kCounterBytes + 1];
  if (file.read(bytes, 1, sizeof bytes) != kCounterBytes) return false;
  value = get_u16(bytes);
  return true;
}

bool write_counter(StoreFile& file, uint16_t value) {
  uint8_t bytes[kCounterBytes];
  put_u16(bytes, value);
  return file.seek(0) && file.write(bytes, 1, sizeof bytes) == sizeof bytes && file.flush();
}

}  // namespace

std::string shading_file_path(const transport::ScannerContext& context, uint8_t lamp_mode,
                              uint32_t resolution) {
  return in_store_directory(context, shading_file_name(lamp_mode, resolution));
}

std::string counter_file_path(const transport::ScannerContext& context) {
  return in_store_directory(context, "QRX7730H.SHD");
}

uint64_t shading_file_size(uint8_t lamp_mode, uint32_t resolution) {
  return kHeaderBytes + uint64_t{16} * stored_pixels(lamp_mode, resolution);
}

bool save_shading(transport::ScannerContext& context, const ShadingRecord& record) {
  const uint32_t resolution = record.resolution;
  const uint8_t lamp_mode = record.lamp_mode;
  const ChannelLines& white = record.white;
  const ChannelLines& dark = record.dark;
  const uint32_t n = stored_pixels(lamp_mode, resolution);
  context.scan_count = 0;
  if (!lines_hold(white, n) || !lines_hold(dark, n)) return false;
  const std::string shading_path = shading_file_path(context, lamp_mode, resolution);
  const std::string counter_path = counter_file_path(context);
  if (shading_path.empty() || counter_path.empty()) return false;

  std::vector<uint8_t> content;
  const size_t bytes = static_cast<size_t>(shading_file_size(lamp_mode, resolution));
  if (!platform::try_resize(content, bytes)) return false;
  content[0] = static_cast<uint8_t>(context.link.port_type());
  put_exposure(content.data() + 1, record.exposure);
  uint8_t* at = content.data() + kHeaderBytes;
  for (const ChannelLines* lines : {&white, &dark}) {
    for (const auto& line : *lines) {
      for (uint32_t x = 0; x < n; ++x, at += 2) put_u16(at, line[x]);
    }
  }
  const uint8_t zero_count[kCounterBytes] = {0, 0};

  StoreFile shading;
  StoreFile counter;
  if (!write_beside(shading, shading_path, content.data(), bytes)) return false;
  if (!write_beside(counter, counter_path, zero_count, sizeof zero_count)) {
    std::remove(shading.created_path().c_str());
    return false;
  }
  if (!replace_with_retries(shading.created_path(), shading_path)) {
    std::remove(shading.created_path().c_str());
    std::remove(counter.created_path().c_str());
    return false;
  }
  // The shading file is in place; a counter that cannot follow fails the save.
  if (!replace_with_retries(counter.created_path(), counter_path)) {
    std::remove(counter.created_path().c_str());
    return false;
  }
  return true;
}

uint16_t load_shading_for_scan(transport::ScannerContext& context,
                               const settings::ScannerSetting& setting, const ShadingScan& scan,
                               transport::ExposureSet& exposure) {
  const uint32_t resolution = scan.resolution;
  const uint8_t lamp_mode = scan.lamp_mode;
  const uint32_t n = stored_pixels(lamp_mode, resolution);
  if (!lines_hold(context.shading_gain, n) || !lines_hold(context.shading_offset, n) ||
      !lines_hold(context.shading_white, n)) {
    return QRX_E_NOMEM_BUFFER;
  }

  // Both files are read and checked completely before anything is changed.
  std::vector<uint8_t> content;
  const size_t bytes = static_cast<size_t>(shading_file_size(lamp_mode, resolution));
  if (!platform::try_resize(content, bytes + 1)) return QRX_E_NOMEM_BUFFER;
  StoreFile shading;
  if (!shading.open(shading_file_path(context, lamp_mode, resolution), "rb") ||
      !read_exactly(shading, content, bytes)) {
    return QRX_E_CALIBRATION_DATA;
  }
  shading.close();

  StoreFile counter;
  uint16_t scans = 0;
  if (!counter.open(counter_file_path(context), "rb+") || !read_counter(counter, scans)) {
    return QRX_E_CALIBRATION_DATA;
  }
  if (scan.count) {
    if (scans < UINT16_MAX) ++scans;
    if (!write_counter(counter, scans)) return QRX_E_CALIBRATION_DATA;
  }
  if (!counter.close()) return QRX_E_CALIBRATION_DATA;

  exposure = get_exposure(content.data() + 1);
  const uint8_t* at = content.data() + kHeaderBytes;
  for (auto* lines : {&context.shading_gain, &context.shading_offset}) {
    for (auto& line : *lines) {
      for (uint32_t x = 0; x < n; ++x, at += 2) line[x] = get_u16(at);
    }
  }
  context.shading_pixel_count = n;
  context.scan_count = scans;
  for (size_t c = 0; c < 4; ++c) {
    std::copy_n(context.shading_gain[c].begin(), n, context.shading_white[c].begin());
  }
  const ShadingFormat format{.pixel_count = n,
                             .lamp_mode = lamp_mode,
                             .resolution = resolution,
                             .bits_per_pixel = scan.bits_per_pixel,
                             .port_type = context.link.port_type()};
  compute_shading(setting, format, context.shading_gain, context.shading_offset);
  return QRX_OK;
}

uint8_t freshness_check(transport::ScannerContext& context, uint32_t resolution,
                        uint8_t lamp_mode) {
  StoreFile shading;
  StoreFile counter;
  if (!shading.open(shading_file_path(context, lamp_mode, resolution), "rb") ||
      !counter.open(counter_file_path(context), "rb+")) {
    return 2;
  }
  uint64_t bytes = 0;
  uint8_t port_type = 0;
  uint16_t scans = 0;
  if (!shading.size(bytes) || bytes != shading_file_size(lamp_mode, resolution) ||
      shading.read(&port_type, 1, 1) != 1 || !read_counter(counter, scans)) {
    return 2;
  }
  context.scan_count = scans;
  if (port_type != context.link.port_type()) return 2;
  if (scans < kScansPerCalibration) return 0;
  if (context.ag_flag != 0) {
    // The host's own gains are in use: no new calibration, the count steps back.
    context.scan_count = static_cast<uint16_t>(scans - 1);
    write_counter(counter, context.scan_count);
    return 0;
  }
  context.scan_count = 0;
  write_counter(counter, 0);
  return 1;
}

}  // namespace qrx::calibration
