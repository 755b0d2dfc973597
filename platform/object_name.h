// Turning arbitrary text (a lowered device path) into a safe OS object name.
#pragma once

#include <cstddef>
#include <string>

namespace qrx::platform {

// Letters, digits, '.', '_' and '-' stay; every other byte becomes %XX. When the
// result would exceed limit characters (limit >= 32), its first part is kept and
// "~" plus a 16-digit hash of the whole text is appended, so the result never
// exceeds limit and distinct texts stay distinct.
std::string encode_for_object_name(const std::string& text, size_t limit);

}  // namespace qrx::platform
