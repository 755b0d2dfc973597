// zlib stream decompression (RFC 1950/1951) for the PNG reader: stored, fixed and
// dynamic Huffman blocks, every read and write bounds-checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qrx::emu {

// Decompresses the zlib stream in[0..in_size) into exactly out_size bytes at out.
// False with a message when the stream is malformed, its checksum is wrong, or it
// holds fewer or more than out_size bytes.
bool zlib_decompress(const uint8_t* in, size_t in_size, uint8_t* out, size_t out_size,
                     std::string& error);

}  // namespace qrx::emu
