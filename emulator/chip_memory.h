// The controller's memory: 8 MiB of RAM at 0x10000000 (slope tables, shading areas,
// line buffer, free for the memory test) and the gamma memory at 0x01000000 (three
// curves of 256 little-endian u16). Accesses outside them fail.
#pragma once

#include <cstdint>
#include <vector>

namespace qrx::emu {

class ChipMemory {
 public:
  ChipMemory();
  // True when [address, address + size) lies inside one memory area.
  bool mapped(uint32_t address, uint64_t size) const;
  bool read(uint32_t address, uint8_t* data, uint32_t size) const;
  bool write(uint32_t address, const uint8_t* data, uint32_t size);
  // Little-endian u16 at address (0 when unmapped).
  uint16_t word(uint32_t address) const;
  // True when address is inside the RAM.
  static bool in_ram(uint32_t address);
  // A defective RAM cell: bit (byte offset * 8 + bit) can no longer hold a 1 and
  // reads 0 whatever was written; negative: none.
  void set_stuck_bit(int64_t bit);

 private:
  uint8_t* locate(uint32_t address, uint64_t size);
  const uint8_t* locate(uint32_t address, uint64_t size) const;
  std::vector<uint8_t> ram_;
  std::vector<uint8_t> gamma_;
  int64_t stuck_bit_ = -1;
};

}  // namespace qrx::emu
