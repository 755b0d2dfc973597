// The scanner's data file "QRX7730N.dat": three tone curves of 65536 16-bit
// little-endian values (one per colour channel), loaded into the data-file store at
// every open, and composed into the gamma tables at every scan start.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tone_curves/data_file_store.h"
#include "transport/scanner_context.h"

namespace qrx::tone_curves {

inline constexpr const char kDataFileName[] = "QRX7730N";
inline constexpr const char kDataFileExtension[] = ".dat";
inline constexpr size_t kDataFileBytes = kRegionEntries * 2;  // 393216

// Where the file is looked for, in order: the configured install directory with
// the file name appended as it is (so the directory must end with a separator);
// on Linux the installed data directory, share/qrx7730/ of the prefix the library
// is installed in, found from the library's own directory; then the directory of
// the library itself. A candidate that does not apply is empty.
std::string install_directory_candidate();
std::string shared_data_candidate();
std::string beside_library_candidate();

// Loads region 0 of the store from the first candidate that opens. A file shorter
// than the three curves is refused: the store keeps its previous curves and the
// load fails, rather than mixing a partial file with old or zero entries.
bool load_data_file(DataFileStore& store);
// The same with the candidates given, in order (empty ones are skipped).
bool load_data_file(DataFileStore& store, const std::vector<std::string>& candidates);
// Loads from one path (tests, tools).
bool load_data_file_from(DataFileStore& store, const std::string& path);

// Rebuilds each channel's gamma table from the caller's last curve through the data
// file's curve for the light in use: entry i = caller's entry at index curve[i].
// Running it again gives the same tables. A region the file never filled (film and
// other lights) leaves the tables unchanged. 0, or 0x9804 without memory.
uint16_t compose_with_data_file(transport::ScannerContext& context, const DataFileStore& store);

}  // namespace qrx::tone_curves
