// Fuzz target: SetScanParameter records with the light and AG block they meet.
// Input: the light-source code for SetLamp, the 44-byte AG block, the 44-byte
// record (short inputs leave the rest zero). A record the library takes describes
// a window inside the flatbed glass or the film area, and the line values
// GetDataStatus reports for it stay within what the largest window at the highest
// resolution gives.
#include <cstdint>
#include <cstring>

#include "api/library.h"
#include "fuzz_host.h"

namespace {

// The flatbed glass and the film area in 1/9600 inch (the ability record's areas).
constexpr uint64_t kGlassWidth = 81664, kGlassLength = 112256;
constexpr uint64_t kFilmRight = 71040 + 23616, kFilmBottom = 204480;
// Resolutions are not checked against the ability list, only against the tuning
// tables' classes (75 dpi up to below 19200): at most 4800 dpi across (2400 read
// and widened), 48 bits per pixel, samples widened; at most 19199 lines per inch
// down the film area's full length.
constexpr uint64_t kMostLineBytes = kGlassWidth / 2 * 6 * 2;
constexpr uint64_t kMostLines = kFilmBottom * 19199 / 9600;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qrx;
  static const bool opened = (fuzz::open_scanner(), true);
  (void)opened;
  fuzz::Bytes in(data, size);
  SetLamp(nullptr, in.u8());
  uint8_t ag[QRX_AG_BLOCK_SIZE] = {};
  for (uint8_t& b : ag) b = in.u8();
  SetAGData(nullptr, ag);
  ScanParameter p{};
  uint8_t raw[sizeof p] = {};
  for (uint8_t& b : raw) b = in.u8();
  std::memcpy(&p, raw, sizeof p);
  if (SetScanParameter(nullptr, &p) != QRX_TRUE) return 0;

  const QRX_Area& a = p.ScanningArea;
  const uint64_t right = uint64_t{a.x} + a.width, bottom = uint64_t{a.y} + a.length;
  if (p.FilmArea == 0 ? (right > kGlassWidth || bottom > kGlassLength)
                      : (right > kFilmRight || bottom > kFilmBottom)) {
    fuzz::fail("a window beyond the area was taken", right, bottom);
  }
  if (a.width == 0 || a.length == 0) fuzz::fail("an empty window was taken");
  DataStatus status{};
  if (GetDataStatus(nullptr, &status) != QRX_TRUE) return 0;
  if (status.LineBytes > kMostLineBytes || status.LinesLeft > kMostLines) {
    fuzz::fail("line values", status.LineBytes, status.LinesLeft);
  }
  return 0;
}
