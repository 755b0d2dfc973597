// FidelityTest: whole scans through the host sequence (SetScanParameter,
// GetDataStatus, StartScanEx, GetCalibrationStatus until 0, ReadScan until every
// line is read, StopScanEx) and their comparison with what lies on the emulated
// glass.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "integration/fidelity.h"
#include "integration/scan_test_fixture.h"

namespace qrx::test {

// One scan as a host asks for it.
struct ScanRequest {
  uint16_t x_resolution = 300, y_resolution = 300;
  uint8_t depth = 24;
  Window window{};
  uint8_t wide = 0;
  uint8_t oversample = 0;
  uint8_t film_area = 0;
};

struct HostScan {
  DataStatus status{};
  uint32_t filter_armed = 0;
  uint32_t lines_read = 0;     // lines ReadScan delivered before it failed, or all of them
  std::vector<int> line_rows;  // the emulator's record: glass y of every line the pass took
  std::optional<int64_t> motor_phase_error;  // and how far the motor ran out of step with them
  Image image;
};

class FidelityTest : public ScanTest {
 protected:
  // The host sequence for one window; every call is expected to succeed.
  HostScan host_scan(const ScanRequest& r) {
    HostScan scan;
    ScanParameter p{};
    p.xRes = r.x_resolution;
    p.yRes = r.y_resolution;
    p.BitsPerPixel = r.depth;
    const Window& w = r.window;
    p.ScanningArea = {4 * w.x, 4 * w.y, 4 * w.width, 4 * w.length};
    p.WideSamples = r.wide;
    p.LowResOversample = r.oversample;
    p.FilmArea = r.film_area;
    EXPECT_EQ(SetScanParameter(nullptr, &p), QRX_TRUE) << std::hex << last_error();
    EXPECT_EQ(GetDataStatus(nullptr, &scan.status), QRX_TRUE) << std::hex << last_error();
    scan.filter_armed = lib().filter_armed;
    EXPECT_EQ(StartScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();
    EXPECT_EQ(poll_calibration_status(), QRX_TRUE) << std::hex << last_error();

    const uint32_t line_bytes = scan.status.LineBytes;
    const uint32_t lines = scan.status.LinesLeft;
    std::vector<uint8_t> data(static_cast<size_t>(line_bytes) * lines);
    // Several lines a call, one while the line filter is armed.
    const uint32_t per_call = scan.filter_armed != 0 ? 1 : 7;
    while (scan.lines_read < lines) {
      const uint32_t n = std::min(per_call, lines - scan.lines_read);
      if (ReadScan(nullptr, nullptr,
                   data.data() + static_cast<size_t>(scan.lines_read) * line_bytes,
                   n * line_bytes) != QRX_TRUE) {
        ADD_FAILURE() << "ReadScan at line " << scan.lines_read << " of " << lines << ": "
                      << std::hex << last_error();
        break;
      }
      scan.lines_read += n;
    }
    scan.line_rows = scanner->pass_line_rows();  // before the return home's pass
    scan.motor_phase_error = scanner->motor_phase_error();
    DataStatus after{};
    EXPECT_EQ(GetDataStatus(nullptr, &after), QRX_TRUE);
    EXPECT_EQ(after.LinesLeft, 0u);
    EXPECT_EQ(StopScanEx(nullptr, nullptr), QRX_TRUE) << std::hex << last_error();

    const uint8_t depth = r.depth;
    const bool colour = depth == 24 || depth == 48;
    const uint32_t sample_bytes = depth == 16 || depth == 48 || r.wide != 0 ? 2 : 1;
    scan.image.channels = colour ? 3 : 1;
    scan.image.width = line_bytes / (scan.image.channels * sample_bytes);
    scan.image.height = scan.lines_read;
    scan.image.samples.resize(static_cast<size_t>(scan.image.width) * scan.image.height *
                              scan.image.channels);
    for (size_t i = 0; i < scan.image.samples.size(); ++i) {
      scan.image.samples[i] = sample_bytes == 2 ? data[2 * i] | data[2 * i + 1] << 8 : data[i];
    }
    return scan;
  }

  HostScan host_scan(uint16_t resolution, uint8_t depth, const Window& w, uint8_t wide = 0,
                     uint8_t film_area = 0) {
    ScanRequest r;
    r.x_resolution = r.y_resolution = resolution;
    r.depth = depth;
    r.window = w;
    r.wide = wide;
    r.film_area = film_area;
    return host_scan(r);
  }

  std::unique_ptr<emu::Scene> scene(const std::string& document = "") {
    std::string error;
    std::unique_ptr<emu::Scene> s = emu::Scene::create(document, error);
    EXPECT_NE(s, nullptr) << error;
    return s;
  }

  // Geometry within a pixel of the glass; the correlation of every channel at
  // the best alignment.
  std::vector<double> compare(const HostScan& scan, const emu::Scene& on_glass, const Window& w,
                              uint32_t resolution, Light light = Light::kReflected) {
    constexpr int kMargin = 3;
    const Image truth =
        render_truth(on_glass, w, resolution, scan.image.channels, kMargin, light);
    EXPECT_EQ(scan.image.width + 2 * kMargin, truth.width);
    EXPECT_EQ(scan.image.height + 2 * kMargin, truth.height);
    const Alignment best = best_alignment(scan.image, truth, kMargin, kMargin);
    EXPECT_LE(std::abs(best.dx), 1) << "across, at " << resolution << " dpi";
    EXPECT_LE(std::abs(best.dy), 1) << "down, at " << resolution << " dpi";
    std::vector<double> per_channel;
    for (uint32_t c = 0; c < scan.image.channels; ++c) {
      per_channel.push_back(correlation(scan.image, truth, kMargin, c, best.dx, best.dy));
    }
    return per_channel;
  }
};

}  // namespace qrx::test
