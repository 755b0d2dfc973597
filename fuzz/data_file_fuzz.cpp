// Fuzz target: the data file QRX7730N.dat (three tone curves of 65536 16-bit
// values). The first input byte chooses how the file is made from the rest: as it
// is, or repeated to the curves' size (a few bytes more or less). A file shorter
// than the curves is refused and leaves the store as it was; one that loads,
// composed with an identity curve of the host, gives the file's curves as the
// gamma tables.
#include <cstdint>
#include <memory>
#include <numeric>
#include <vector>

#include "api/library.h"
#include "fuzz_host.h"
#include "tone_curves/data_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qrx;
  static const bool opened = (fuzz::open_scanner(), true);
  (void)opened;
  static auto store = std::make_unique<tone_curves::DataFileStore>();
  fuzz::Bytes in(data, size);
  const uint8_t mode = in.u8();
  std::vector<uint8_t> file(in.rest(), in.rest() + in.left());
  if ((mode & 1) != 0 && !file.empty()) {
    // The curves' size, up to 8 bytes short or over.
    const size_t wanted = tone_curves::kDataFileBytes + (mode >> 1) % 17 - 8;
    std::vector<uint8_t> repeated(wanted);
    for (size_t i = 0; i < wanted; ++i) repeated[i] = file[i % file.size()];
    file.swap(repeated);
  }
  const std::string path = fuzz::scratch_directory() + "/QRX7730N.dat";
  if (!fuzz::write_file(path, file.data(), file.size())) fuzz::fail("cannot write the file");

  store->filled[0] = false;
  store->region[0][0] = 0x1234;
  const bool loaded = tone_curves::load_data_file_from(*store, path);
  if (loaded != (file.size() >= tone_curves::kDataFileBytes)) {
    fuzz::fail("a data file loaded or refused against its size", file.size(), loaded);
  }
  if (!loaded) {
    if (store->filled[0] || store->region[0][0] != 0x1234)
      fuzz::fail("a refused file changed the store");
    return 0;
  }
  auto& context = api::library().context;
  context.lamp_select = QRX_LAMP_FLATBED;
  for (auto& caller : context.caller_gamma) std::iota(caller.begin(), caller.end(), 0);
  if (tone_curves::compose_with_data_file(context, *store) != QRX_OK) fuzz::fail("compose failed");
  for (size_t c = 0; c < 3; ++c) {
    for (size_t i = 0; i < transport::kGammaEntries; i += 97) {
      const size_t at = 2 * (c * transport::kGammaEntries + i);
      const uint16_t expected = static_cast<uint16_t>(file[at] | file[at + 1] << 8);
      if (context.gamma_table[c][i] != expected) fuzz::fail("composed entry", c, i);
    }
  }
  return 0;
}
