// The data file (see data_file.h).
#include "device/data_file.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "platform/memory.h"
#include "platform/paths.h"
#include "qrx7730.h"

namespace qrx::device {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

std::string install_directory_candidate() {
  const std::string directory = platform::install_directory();
  if (directory.empty()) return {};
  return directory + kDataFileName + kDataFileExtension;
}

std::string beside_library_candidate() {
  const std::string library = platform::library_path();
  const size_t slash = library.find_last_of("/\\");
  if (slash == std::string::npos) return {};
  return library.substr(0, slash + 1) + kDataFileName + kDataFileExtension;
}

bool load_data_file_from(DataFileStore& store, const std::string& path) {
  if (path.empty()) return false;
  File file(std::fopen(path.c_str(), "rb"));
  if (!file) return false;
  std::vector<uint8_t> bytes;
  if (!platform::try_resize(bytes, kDataFileBytes)) return false;
  if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) return false;
  auto& region = store.region[0];
  for (size_t i = 0; i < region.size(); ++i) {
    region[i] = static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  store.filled[0] = true;
  return true;
}

bool load_data_file(DataFileStore& store) {
  return load_data_file(store, install_directory_candidate(), beside_library_candidate());
}

bool load_data_file(DataFileStore& store, const std::string& configured,
                    const std::string& beside) {
  // The install directory first; when the file is not there (or the directory
  // was configured without its trailing separator) the copy beside the library.
  if (!configured.empty()) {
    File probe(std::fopen(configured.c_str(), "rb"));
    if (probe) {
      probe.reset();
      return load_data_file_from(store, configured);
    }
  }
  return load_data_file_from(store, beside);
}

uint16_t compose_with_data_file(transport::ScannerContext& context, const DataFileStore& store) {
  size_t region_index = 2;
  if (context.lamp_select == 1) {
    region_index = 0;
  } else if (context.film_type != 0) {
    region_index = 1;
  }
  // A region no file has filled is all zero: composing with it would map every
  // entry to the first one and turn the whole scan black. Such lights take the
  // caller's curve as it is.
  if (!store.filled[region_index]) {
    for (size_t channel = 0; channel < 3; ++channel) {
      const std::vector<uint16_t>& caller = context.caller_gamma[channel];
      if (context.gamma_table[channel].size() == caller.size()) context.gamma_table[channel] = caller;
    }
    return QRX_OK;
  }
  std::vector<uint16_t> region;
  if (!platform::try_resize(region, kRegionEntries)) return QRX_E_NOMEM_COMPOSE;
  std::copy(store.region[region_index].begin(), store.region[region_index].end(), region.begin());
  // Always from the caller's own curve, never from the previous composition, so
  // that scan after scan GammaTable is the caller's curve through the data curve once.
  for (size_t channel = 0; channel < 3; ++channel) {
    std::vector<uint16_t>& gamma = context.gamma_table[channel];
    const std::vector<uint16_t>& caller = context.caller_gamma[channel];
    if (gamma.size() != transport::kGammaEntries || caller.size() != transport::kGammaEntries) {
      continue;
    }
    for (size_t i = 0; i < transport::kGammaEntries; ++i) {
      gamma[i] = caller[region[channel * kCurveEntries + i]];
    }
  }
  return QRX_OK;
}

}  // namespace qrx::device
