// Bounds-checked reads from nested std::array tables: the indexed getters of ScannerSetting answer
// a value-initialised cell (0, or a row of zeros) instead of reading outside a table.
#pragma once

#include <array>
#include <cstddef>

namespace qrx::settings::internal {

// No index left: the cell itself.
template <typename T>
T ValueAt(const T& cell) {
  return cell;
}

// One index per table level, outermost first. Fewer indexes than levels return a whole row.
template <typename T, std::size_t N, typename... Rest>
auto ValueAt(const std::array<T, N>& table, int index, Rest... rest) {
  using Cell = decltype(ValueAt(table[0], rest...));
  if (index < 0 || static_cast<std::size_t>(index) >= N) return Cell{};
  return ValueAt(table[static_cast<std::size_t>(index)], rest...);
}

}  // namespace qrx::settings::internal
