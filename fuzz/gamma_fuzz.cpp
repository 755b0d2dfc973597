// Fuzz target: the tables hosts give SetGamma. Input: the light (flatbed or not),
// the channel byte, then the table: the bytes are 16-bit values spread over the
// 65536 entries (each value over an equal share of them), or, with the top bit
// of the first byte, the first entries exactly with the identity after them. A
// table SetGamma takes for the flatbed leaves an 8-bit expansion curve that
// rises from 0 to 65535 without ever falling.
#include <cstdint>
#include <vector>

#include "api/library.h"
#include "fuzz_host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qrx;
  static const bool opened = (fuzz::open_scanner(), true);
  (void)opened;
  fuzz::Bytes in(data, size);
  const uint8_t mode = in.u8();
  const uint8_t channel = in.u8();
  std::vector<uint16_t> values;
  while (in.left() >= 2) values.push_back(in.u16());
  std::vector<uint16_t> table(QRX_GAMMA_ENTRIES);
  for (size_t i = 0; i < table.size(); ++i) {
    if ((mode & 0x80) != 0) {
      table[i] = i < values.size() ? values[i] : static_cast<uint16_t>(i);
    } else {
      table[i] = values.empty() ? 0 : values[i * values.size() / table.size()];
    }
  }
  auto& lib = api::library();
  lib.lamp_select = (mode & 1) != 0 ? QRX_LAMP_FLATBED : QRX_LAMP_FILM_STORED;
  auto& expand = lib.context.expand_table;
  for (auto& curve : expand) curve.assign(curve.size(), 7);
  const QRX_BOOL result = SetGamma(nullptr, table.data(), channel, 0);
  if (result != QRX_TRUE || lib.lamp_select != QRX_LAMP_FLATBED || channel > 3) return 0;
  const size_t first = channel == 0 ? 0 : channel - 1u, last = channel == 0 ? 2 : channel - 1u;
  for (size_t c = first; c <= last; ++c) {
    const auto& curve = expand[c];
    if (curve.front() != 0 || curve.back() != 65535)
      fuzz::fail("expansion ends", curve.front(), curve.back());
    for (size_t i = 1; i < curve.size(); ++i) {
      if (curve[i] < curve[i - 1]) fuzz::fail("expansion falls", c, i);
    }
    if (lib.context.caller_gamma[c] != table) fuzz::fail("the caller's table not kept", c);
  }
  return 0;
}
