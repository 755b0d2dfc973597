// The data file (see data_file.h).
#include "tone_curves/data_file.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "platform/memory.h"
#include "platform/paths.h"
#include "platform/regular_file.h"
#include "qrx7730.h"

namespace qrx::tone_curves {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The directory of the loaded library, with its separator; empty when unknown.
std::string library_directory() {
  const std::string library = platform::library_path();
  const size_t slash = library.find_last_of("/\\");
  if (slash == std::string::npos) return {};
  return library.substr(0, slash + 1);
}

}  // namespace

std::string install_directory_candidate() {
  const std::string directory = platform::install_directory();
  if (directory.empty()) return {};
  return directory + kDataFileName + kDataFileExtension;
}

std::string shared_data_candidate() {
#ifdef QRX7730_DATA_FROM_LIBRARY
  const std::string directory = library_directory();
  if (directory.empty()) return {};
  return directory + QRX7730_DATA_FROM_LIBRARY + kDataFileName + kDataFileExtension;
#else
  return {};
#endif
}

std::string beside_library_candidate() {
  const std::string directory = library_directory();
  if (directory.empty()) return {};
  return directory + kDataFileName + kDataFileExtension;
}

namespace {

// Reads the whole data file from an open file into the store's first region.
bool read_data_file(DataFileStore& store, std::FILE* file) {
  std::vector<uint8_t> bytes;
  if (!platform::try_resize(bytes, kDataFileBytes)) return false;
  if (std::fread(bytes.data(), 1, bytes.size(), file) != bytes.size()) return false;
  auto& region = store.region[0];
  for (size_t i = 0; i < region.size(); ++i) {
    region[i] = static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  store.filled[0] = true;
  return true;
}

}  // namespace

bool load_data_file_from(DataFileStore& store, const std::string& path) {
  if (path.empty()) return false;
  File file(platform::open_regular_file(path));
  return file && read_data_file(store, file.get());
}

bool load_data_file(DataFileStore& store) {
  return load_data_file(
      store, {install_directory_candidate(), shared_data_candidate(), beside_library_candidate()});
}

bool load_data_file(DataFileStore& store, const std::vector<std::string>& candidates) {
  // The first candidate that opens is the one used, even when it then turns out
  // short: a broken configured file is reported rather than silently bypassed.
  // A configured directory without its trailing separator names no file and so
  // falls through to the next candidate.
  for (const std::string& candidate : candidates) {
    if (candidate.empty()) continue;
    // Only a regular file counts: a FIFO at the name must not hang the open.
    File file(platform::open_regular_file(candidate));
    if (file) return read_data_file(store, file.get());
  }
  return false;
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
      if (context.gamma_table[channel].size() == caller.size())
        context.gamma_table[channel] = caller;
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

}  // namespace qrx::tone_curves
