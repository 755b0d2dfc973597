// Index conventions of the per-mode tuning tables.
#include "settings/tuning_index.h"

namespace qrx::settings {

int resolution_index(uint32_t resolution) {
  if (resolution == 0) return 0;
  int index = -1;
  for (uint32_t steps = resolution / 75; steps != 0; steps >>= 1) ++index;
  return index;
}

int depth_class(uint32_t bits_per_pixel) {
  switch (bits_per_pixel) {
    case 16:
      return 1;
    case 24:
      return 2;
    case 48:
      return 3;
    default:
      return 0;
  }
}

int port_group(uint32_t port_type) {
  if (port_type <= 1) return 0;
  return 1;
}

}  // namespace qrx::settings
