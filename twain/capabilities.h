// The capabilities the data source negotiates: what each holds and allows under
// the current settings, and setting one (exactly, rounded to the nearest allowed
// value, or refused).
#pragma once

#include <vector>

#include "containers.h"
#include "settings.h"

namespace qrx::twain {

class Capabilities {
 public:
  Capabilities(Settings& settings, const Abilities& abilities)
      : s_(settings), abilities_(abilities) {}
  static const std::vector<TW_UINT16>& supported();
  // False when the capability is not supported.
  bool view(TW_UINT16 cap, CapView& out) const;
  // TWRC_SUCCESS, TWRC_CHECKSTATUS (set to the nearest allowed value) or
  // TWRC_FAILURE with the condition code in `condition`.
  TW_UINT16 set(TW_UINT16 cap, double value, TW_UINT16& condition);
  // Back to the default value.
  TW_UINT16 reset(TW_UINT16 cap, TW_UINT16& condition);

 private:
  Settings& s_;
  const Abilities& abilities_;
};

// The page sizes offered, in inches (TWSS_NONE is the whole glass).
bool page_size(TW_UINT16 size, double& width, double& height);

}  // namespace qrx::twain
