// One scan through the library (see scan.h).
#include "scan.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace qrx::twain {
namespace {

constexpr uint8_t kCalibrating = 2;  // GetCalibrationStatus while the scanner calibrates
constexpr DWORD kCalibrationPollMs = 50;
constexpr double kAreaUnitsPerInch = 9600;
constexpr uint32_t kMinimumWindow = 128;  // the narrowest window, 1/9600 inch

}  // namespace

bool Scan::prepare(const Settings& settings, std::string& error, uint16_t& status) {
  stop();
  settings_ = settings;
  const ScannerLibrary& lib = library_;
  const Abilities& a = lib.abilities();
  const double left = std::clamp(settings.left, 0.0, a.glass_width_in);
  const double top = std::clamp(settings.top, 0.0, a.glass_length_in);
  const double right = std::clamp(settings.right, left, a.glass_width_in);
  const double bottom = std::clamp(settings.bottom, top, a.glass_length_in);
  ScanParameter p{};
  p.xRes = p.yRes = settings.resolution;
  const uint32_t glass_w = static_cast<uint32_t>(std::lround(a.glass_width_in * kAreaUnitsPerInch));
  const uint32_t glass_h = static_cast<uint32_t>(std::lround(a.glass_length_in * kAreaUnitsPerInch));
  p.ScanningArea.x = static_cast<uint32_t>(std::lround(left * kAreaUnitsPerInch));
  p.ScanningArea.y = static_cast<uint32_t>(std::lround(top * kAreaUnitsPerInch));
  p.ScanningArea.width = std::max<uint32_t>(
      kMinimumWindow, static_cast<uint32_t>(std::lround((right - left) * kAreaUnitsPerInch)));
  p.ScanningArea.length = std::max<uint32_t>(
      kMinimumWindow, static_cast<uint32_t>(std::lround((bottom - top) * kAreaUnitsPerInch)));
  // A window made wider by the minimum stays on the glass.
  p.ScanningArea.x = std::min(p.ScanningArea.x, glass_w - p.ScanningArea.width);
  p.ScanningArea.y = std::min(p.ScanningArea.y, glass_h - p.ScanningArea.length);
  const bool colour = settings.pixel_type == TWPT_RGB;
  const int library_depth = settings.pixel_type == TWPT_BW ? 8 : settings.bit_depth;
  p.BitsPerPixel = static_cast<uint8_t>((colour ? 3 : 1) * library_depth);
  const Exports& x = library_.x();
  if (!library_.while_moving([&] { return x.SetLamp(nullptr, QRX_LAMP_FLATBED); })) {
    status = library_.status();
    error = "the scanner's light could not be switched on: " + describe_status(status);
    return false;
  }
  if (!library_.while_moving([&] { return x.SetScanParameter(nullptr, &p); })) {
    status = library_.status();
    error = "the scan could not be set up: " + describe_status(status);
    return false;
  }
  DataStatus data{};
  if (!x.GetDataStatus(nullptr, &data)) {
    status = library_.status();
    error = "the scan's size could not be read: " + describe_status(status);
    return false;
  }
  const uint32_t pixel_bytes = (colour ? 3 : 1) * library_depth / 8;
  if (data.LineBytes == 0 || data.LineBytes % pixel_bytes != 0 || data.LinesLeft == 0) {
    status = 0;
    error = "the library announced an image of no whole pixels";
    return false;
  }
  line_bytes_ = data.LineBytes;
  line_.assign(line_bytes_, 0);
  shape_.width = data.LineBytes / pixel_bytes;
  shape_.height = data.LinesLeft;
  shape_.samples = colour ? 3 : 1;
  shape_.depth = settings.pixel_type == TWPT_BW ? 1 : settings.bit_depth;
  shape_.dpi = settings.resolution;
  rows_read_ = 0;
  return true;
}

bool Scan::start(const std::function<bool(double)>& waiting, std::string& error,
                 uint16_t& status) {
  const Exports& x = library_.x();
  const uint8_t options[QRX_START_OPTIONS_SIZE] = {};
  if (!library_.while_moving([&] { return x.StartScanEx(nullptr, options); })) {
    status = library_.status();
    error = "the scan could not be started: " + describe_status(status);
    return false;
  }
  running_ = true;
  const DWORD started = GetTickCount();
  for (;;) {
    uint8_t calibration = 0;
    if (!x.GetCalibrationStatus(nullptr, &calibration)) {
      status = library_.status();
      error = "the scanner failed while it calibrated: " + describe_status(status);
      stop();
      return false;
    }
    if (calibration != kCalibrating) return true;
    if (waiting && !waiting((GetTickCount() - started) / 1000.0)) {
      status = 0;
      error = "cancelled while the scanner calibrated";
      stop();
      return false;
    }
    Sleep(kCalibrationPollMs);
  }
}

uint8_t Scan::tone8(double v) const {
  // Contrast scales about the middle grey (-1000 flat, 0 as scanned, 1000 twice
  // as steep); brightness adds up to half the scale either way.
  const double scaled = (v - 127.5) * (1000 + settings_.contrast) / 1000 + 127.5 +
                        settings_.brightness * 127.5 / 1000;
  return static_cast<uint8_t>(std::clamp(std::lround(scaled), 0L, 255L));
}

uint16_t Scan::tone16(double v) const {
  const double scaled = (v - 32767.5) * (1000 + settings_.contrast) / 1000 + 32767.5 +
                        settings_.brightness * 32767.5 / 1000;
  return static_cast<uint16_t>(std::clamp(std::lround(scaled), 0L, 65535L));
}

bool Scan::read_row(uint8_t* out, std::string& error, uint16_t& status) {
  if (!running_ || rows_read_ >= shape_.height) {
    status = 0;
    error = "no scan is running";
    return false;
  }
  if (!library_.x().ReadScan(nullptr, nullptr, line_.data(), line_bytes_)) {
    status = library_.status();
    error = "reading the image failed: " + describe_status(status);
    return false;
  }
  ++rows_read_;
  const bool plain = settings_.brightness == 0 && settings_.contrast == 0;
  const uint32_t samples = shape_.width * shape_.samples;
  if (shape_.depth == 1) {
    std::memset(out, 0, shape_.row_bytes());
    for (uint32_t i = 0; i < shape_.width; ++i) {
      const uint8_t grey = plain ? line_[i] : tone8(line_[i]);
      if (grey >= settings_.threshold) out[i / 8] |= static_cast<uint8_t>(0x80u >> (i % 8));
    }
  } else if (shape_.depth == 8) {
    if (plain) {
      std::memcpy(out, line_.data(), samples);
    } else {
      for (uint32_t i = 0; i < samples; ++i) out[i] = tone8(line_[i]);
    }
  } else {
    if (plain) {
      std::memcpy(out, line_.data(), samples * 2);
    } else {
      for (uint32_t i = 0; i < samples; ++i) {
        const uint16_t v = tone16(line_[2 * i] | (line_[2 * i + 1] << 8));
        out[2 * i] = static_cast<uint8_t>(v);
        out[2 * i + 1] = static_cast<uint8_t>(v >> 8);
      }
    }
  }
  return true;
}

void Scan::stop() {
  if (!running_) return;
  running_ = false;
  library_.x().StopScanEx(nullptr, nullptr);
}

}  // namespace qrx::twain
