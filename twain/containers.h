// Capability containers (TW_ONEVALUE, TW_ENUMERATION, TW_RANGE, TW_ARRAY) as the
// data source writes them for an application and reads them from one, and the
// memory they live in: the source manager's functions when it gave them
// (DAT_ENTRYPOINT), else global memory, which applications free with GlobalFree.
#pragma once

#include <vector>

#include "twain_api.h"

namespace qrx::twain {

class Memory {
 public:
  void use(const TW_ENTRYPOINT& entry) { entry_ = entry; have_entry_ = true; }
  void forget() { have_entry_ = false; }
  TW_HANDLE allocate(size_t size) const;
  void free(TW_HANDLE handle) const;
  void* lock(TW_HANDLE handle) const;
  void unlock(TW_HANDLE handle) const;
  bool has_entry() const { return have_entry_; }
  const TW_ENTRYPOINT& entry() const { return entry_; }

 private:
  TW_ENTRYPOINT entry_{};
  bool have_entry_ = false;
};

// What a capability holds and allows, its values as numbers.
struct CapView {
  enum Kind { kOne, kEnum, kRange, kArray };
  TW_UINT16 type = TWTY_UINT16;
  Kind kind = kOne;
  std::vector<double> items;  // enumeration or array
  double min = 0, max = 0, step = 1;
  double current = 0, fallback = 0;  // current and default value
  bool settable = false;
};

// A new container of `kind` (kOne for the current or default value, as `value`).
TW_HANDLE write_container(const Memory& memory, const CapView& view, CapView::Kind kind,
                          double value, TW_UINT16& con_type);
// The value an application's container asks for: a one-value's item, an
// enumeration's current item, a range's current value. False when it holds none.
bool read_container(const Memory& memory, TW_HANDLE handle, TW_UINT16 con_type, double& value);

}  // namespace qrx::twain
