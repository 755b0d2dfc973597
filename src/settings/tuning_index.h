// Index conventions shared by every per-mode tuning table: which cell of a
// [port group][depth class][resolution index] table belongs to a scan or move.
#pragma once

#include <cstdint>

namespace qrx::settings {

// The number of times 75 dpi can be doubled without exceeding the resolution:
// 75 -> 0, 150 -> 1, 300 -> 2, 600 -> 3, 1200 -> 4, 2400 -> 5, 4800 -> 6, 9600 -> 7.
// Resolutions from 1 to 74 dpi give -1, which is no table cell (the indexed getters of
// ScannerSetting answer 0 for it). A resolution of 0 gives 0: the motor code asks for the cell of
// a move that carries no resolution and expects the first column. Resolutions of 19200 dpi and
// more give indexes beyond the tables (8 and up), which the indexed getters also answer with 0.
int resolution_index(uint32_t resolution);

// 8 bits per pixel -> 0, 16 -> 1, 24 -> 2, 48 -> 3; any other depth counts as class 0.
int depth_class(uint32_t bits_per_pixel);

// Port type 1 -> group 0, port type 2 -> group 1. The device only reports 1 or 2; any other
// value is clamped into the table rather than indexing outside it: 0 -> group 0, 3 and more ->
// group 1.
int port_group(uint32_t port_type);

}  // namespace qrx::settings
