// Fuzz target: the shading files and the scan counter in the library's temporary
// directory, as a scan start reads them (freshness check, then the load).
//
// Input: a resolution byte, a mode byte (bit 0: the rest is repeated to the
// resolution's file size, else written as it is; bits 1-2: bits per pixel; bit 3:
// the scan is counted; bits 4-5: the counter file absent, empty, one byte or two
// bytes), two counter bytes, then the shading file's bytes. A file of any other
// size is refused, and a refused load leaves the exposure set alone.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "api/library.h"
#include "calibration/shading_files.h"
#include "fuzz_host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qrx;
  static const bool opened = (fuzz::open_scanner(), true);
  (void)opened;
  static const uint32_t kResolutions[] = {75, 150, 300, 600, 1200, 2400, 4800, 100};
  fuzz::Bytes in(data, size);
  const uint32_t resolution = kResolutions[in.u8() % 8];
  const uint8_t mode = in.u8();
  static const uint32_t kDepths[] = {8, 16, 24, 48};
  const uint32_t depth = kDepths[(mode >> 1) & 3];
  const bool count = (mode & 8) != 0;
  const uint8_t counter[2] = {in.u8(), in.u8()};
  const uint64_t expected = calibration::shading_file_size(QRX_LAMP_FLATBED, resolution);
  std::vector<uint8_t> file(in.rest(), in.rest() + in.left());
  if ((mode & 1) != 0 && !file.empty()) {
    std::vector<uint8_t> repeated(expected);
    for (size_t i = 0; i < repeated.size(); ++i) repeated[i] = file[i % file.size()];
    file.swap(repeated);
  }
  auto& lib = api::library();
  const std::string shading =
      calibration::shading_file_path(lib.context, QRX_LAMP_FLATBED, resolution);
  const std::string counter_path = calibration::counter_file_path(lib.context);
  if (!fuzz::write_file(shading, file.data(), file.size())) fuzz::fail("cannot write the file");
  const int counter_bytes = (mode >> 4) & 3;
  std::remove(counter_path.c_str());
  if (counter_bytes > 0 && !fuzz::write_file(counter_path, counter, counter_bytes - 1)) {
    fuzz::fail("cannot write the counter");
  }

  const uint8_t fresh = calibration::freshness_check(lib.context, resolution, QRX_LAMP_FLATBED);
  if (fresh > 2) fuzz::fail("freshness", fresh);
  if (file.size() != expected && fresh != 2)
    fuzz::fail("a shading file of the wrong size is usable");

  transport::ExposureSet exposure;
  exposure.exposure = {1, 2, 3, 4};
  const calibration::ShadingScan scan{.resolution = resolution,
                                      .lamp_mode = QRX_LAMP_FLATBED,
                                      .bits_per_pixel = depth,
                                      .count = count};
  const uint16_t status =
      calibration::load_shading_for_scan(lib.context, lib.setting, scan, exposure);
  if (status != QRX_OK) {
    if (status != QRX_E_CALIBRATION_DATA && status != QRX_E_NOMEM_BUFFER)
      fuzz::fail("status", status);
    if (exposure.exposure[0] != 1 || exposure.exposure[3] != 4)
      fuzz::fail("a refused load set the exposure");
  } else if (file.size() != expected) {
    fuzz::fail("a shading file of the wrong size loaded", file.size(), expected);
  }
  return 0;
}
