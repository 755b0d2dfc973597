// Controller memory areas with range-checked access.
#include "emulator/chip_memory.h"

#include <cstring>

#include "emulator/geometry.h"

namespace qrx::emu {

ChipMemory::ChipMemory() : ram_(kRamBytes, 0), gamma_(kGammaBytes, 0) {
  // The gamma memory starts with identity curves (entry i = i * 256).
  for (uint32_t c = 0; c < 3; ++c)
    for (uint32_t i = 0; i < 256; ++i) {
      gamma_[c * kGammaCurveBytes + 2 * i] = 0;
      gamma_[c * kGammaCurveBytes + 2 * i + 1] = static_cast<uint8_t>(i);
    }
}

bool ChipMemory::in_ram(uint32_t address) {
  return address >= kRamBase && address - kRamBase < kRamBytes;
}

const uint8_t* ChipMemory::locate(uint32_t address, uint64_t size) const {
  if (address >= kRamBase && address - kRamBase < kRamBytes &&
      size <= kRamBytes - (address - kRamBase))
    return ram_.data() + (address - kRamBase);
  if (address >= kGammaBase && address - kGammaBase < kGammaBytes &&
      size <= kGammaBytes - (address - kGammaBase))
    return gamma_.data() + (address - kGammaBase);
  return nullptr;
}

uint8_t* ChipMemory::locate(uint32_t address, uint64_t size) {
  return const_cast<uint8_t*>(static_cast<const ChipMemory*>(this)->locate(address, size));
}

bool ChipMemory::mapped(uint32_t address, uint64_t size) const { return locate(address, size) != nullptr; }

bool ChipMemory::read(uint32_t address, uint8_t* data, uint32_t size) const {
  const uint8_t* p = locate(address, size);
  if (p == nullptr || (data == nullptr && size != 0)) return false;
  if (size != 0) std::memcpy(data, p, size);
  return true;
}

void ChipMemory::set_stuck_bit(int64_t bit) {
  stuck_bit_ = bit >= 0 && bit < int64_t{kRamBytes} * 8 ? bit : -1;
  if (stuck_bit_ >= 0) ram_[stuck_bit_ / 8] &= static_cast<uint8_t>(~(1u << (stuck_bit_ % 8)));
}

bool ChipMemory::write(uint32_t address, const uint8_t* data, uint32_t size) {
  uint8_t* p = locate(address, size);
  if (p == nullptr || (data == nullptr && size != 0)) return false;
  if (size != 0) std::memcpy(p, data, size);
  if (stuck_bit_ >= 0) ram_[stuck_bit_ / 8] &= static_cast<uint8_t>(~(1u << (stuck_bit_ % 8)));
  return true;
}

uint16_t ChipMemory::word(uint32_t address) const {
  const uint8_t* p = locate(address, 2);
  return p == nullptr ? 0 : static_cast<uint16_t>(p[0] | (p[1] << 8));
}

}  // namespace qrx::emu
