// Capability containers and their memory (see containers.h).
#include "containers.h"

#include <cmath>
#include <cstring>

#include "settings.h"

namespace qrx::twain {
namespace {

size_t item_size(TW_UINT16 type) {
  switch (type) {
    case TWTY_INT8:
    case TWTY_UINT8:
      return 1;
    case TWTY_INT16:
    case TWTY_UINT16:
    case TWTY_BOOL:
      return 2;
    case TWTY_FRAME:
      return sizeof(TW_FRAME);
    default:
      return 4;
  }
}

void put_item(uint8_t* at, TW_UINT16 type, double value) {
  switch (type) {
    case TWTY_INT8: {
      const TW_INT8 v = static_cast<TW_INT8>(std::lround(value));
      std::memcpy(at, &v, 1);
      break;
    }
    case TWTY_UINT8: {
      const TW_UINT8 v = static_cast<TW_UINT8>(std::lround(value));
      std::memcpy(at, &v, 1);
      break;
    }
    case TWTY_INT16: {
      const TW_INT16 v = static_cast<TW_INT16>(std::lround(value));
      std::memcpy(at, &v, 2);
      break;
    }
    case TWTY_UINT16:
    case TWTY_BOOL: {
      const TW_UINT16 v = static_cast<TW_UINT16>(std::lround(value));
      std::memcpy(at, &v, 2);
      break;
    }
    case TWTY_INT32: {
      const TW_INT32 v = static_cast<TW_INT32>(std::lround(value));
      std::memcpy(at, &v, 4);
      break;
    }
    case TWTY_FIX32: {
      const TW_FIX32 v = to_fix32(value);
      std::memcpy(at, &v, 4);
      break;
    }
    default: {
      const TW_UINT32 v = static_cast<TW_UINT32>(std::llround(value));
      std::memcpy(at, &v, 4);
      break;
    }
  }
}

double get_item(const uint8_t* at, TW_UINT16 type) {
  switch (type) {
    case TWTY_INT8: return static_cast<TW_INT8>(at[0]);
    case TWTY_UINT8: return at[0];
    case TWTY_INT16: { TW_INT16 v; std::memcpy(&v, at, 2); return v; }
    case TWTY_UINT16:
    case TWTY_BOOL: { TW_UINT16 v; std::memcpy(&v, at, 2); return v; }
    case TWTY_INT32: { TW_INT32 v; std::memcpy(&v, at, 4); return v; }
    case TWTY_FIX32: { TW_FIX32 v; std::memcpy(&v, at, 4); return from_fix32(v); }
    default: { TW_UINT32 v; std::memcpy(&v, at, 4); return v; }
  }
}

}  // namespace

TW_HANDLE Memory::allocate(size_t size) const {
  if (have_entry_ && entry_.DSM_MemAllocate != nullptr) {
    return entry_.DSM_MemAllocate(static_cast<TW_UINT32>(size));
  }
  return GlobalAlloc(GHND, size);
}

void Memory::free(TW_HANDLE handle) const {
  if (handle == nullptr) return;
  if (have_entry_ && entry_.DSM_MemFree != nullptr) {
    entry_.DSM_MemFree(handle);
  } else {
    GlobalFree(handle);
  }
}

void* Memory::lock(TW_HANDLE handle) const {
  if (have_entry_ && entry_.DSM_MemLock != nullptr) return entry_.DSM_MemLock(handle);
  return GlobalLock(handle);
}

void Memory::unlock(TW_HANDLE handle) const {
  if (have_entry_ && entry_.DSM_MemUnlock != nullptr) {
    entry_.DSM_MemUnlock(handle);
  } else {
    GlobalUnlock(handle);
  }
}

TW_HANDLE write_container(const Memory& memory, const CapView& view, CapView::Kind kind,
                          double value, TW_UINT16& con_type) {
  const size_t item = item_size(view.type);
  size_t size = 0;
  switch (kind) {
    case CapView::kOne: size = sizeof(TW_ONEVALUE) + (item > 4 ? item - 4 : 0); break;
    case CapView::kEnum: size = offsetof(TW_ENUMERATION, ItemList) + item * view.items.size(); break;
    case CapView::kArray: size = offsetof(TW_ARRAY, ItemList) + item * view.items.size(); break;
    case CapView::kRange: size = sizeof(TW_RANGE); break;
  }
  TW_HANDLE handle = memory.allocate(size);
  if (handle == nullptr) return nullptr;
  auto* base = static_cast<uint8_t*>(memory.lock(handle));
  if (base == nullptr) {
    memory.free(handle);
    return nullptr;
  }
  std::memset(base, 0, size);
  switch (kind) {
    case CapView::kOne: {
      auto* one = reinterpret_cast<TW_ONEVALUE*>(base);
      one->ItemType = view.type;
      put_item(base + offsetof(TW_ONEVALUE, Item), view.type, value);
      con_type = TWON_ONEVALUE;
      break;
    }
    case CapView::kEnum: {
      auto* e = reinterpret_cast<TW_ENUMERATION*>(base);
      e->ItemType = view.type;
      e->NumItems = static_cast<TW_UINT32>(view.items.size());
      for (size_t i = 0; i < view.items.size(); ++i) {
        if (view.items[i] == view.current) e->CurrentIndex = static_cast<TW_UINT32>(i);
        if (view.items[i] == view.fallback) e->DefaultIndex = static_cast<TW_UINT32>(i);
        put_item(base + offsetof(TW_ENUMERATION, ItemList) + i * item, view.type, view.items[i]);
      }
      con_type = TWON_ENUMERATION;
      break;
    }
    case CapView::kArray: {
      auto* a = reinterpret_cast<TW_ARRAY*>(base);
      a->ItemType = view.type;
      a->NumItems = static_cast<TW_UINT32>(view.items.size());
      for (size_t i = 0; i < view.items.size(); ++i) {
        put_item(base + offsetof(TW_ARRAY, ItemList) + i * item, view.type, view.items[i]);
      }
      con_type = TWON_ARRAY;
      break;
    }
    case CapView::kRange: {
      auto* r = reinterpret_cast<TW_RANGE*>(base);
      r->ItemType = view.type;
      put_item(reinterpret_cast<uint8_t*>(&r->MinValue), view.type, view.min);
      put_item(reinterpret_cast<uint8_t*>(&r->MaxValue), view.type, view.max);
      put_item(reinterpret_cast<uint8_t*>(&r->StepSize), view.type, view.step);
      put_item(reinterpret_cast<uint8_t*>(&r->DefaultValue), view.type, view.fallback);
      put_item(reinterpret_cast<uint8_t*>(&r->CurrentValue), view.type, view.current);
      con_type = TWON_RANGE;
      break;
    }
  }
  memory.unlock(handle);
  return handle;
}

bool read_container(const Memory& memory, TW_HANDLE handle, TW_UINT16 con_type, double& value) {
  if (handle == nullptr) return false;
  const auto* base = static_cast<const uint8_t*>(memory.lock(handle));
  if (base == nullptr) return false;
  bool ok = true;
  switch (con_type) {
    case TWON_ONEVALUE: {
      const auto* one = reinterpret_cast<const TW_ONEVALUE*>(base);
      value = get_item(base + offsetof(TW_ONEVALUE, Item), one->ItemType);
      break;
    }
    case TWON_ENUMERATION: {
      const auto* e = reinterpret_cast<const TW_ENUMERATION*>(base);
      ok = e->CurrentIndex < e->NumItems;
      if (ok) {
        value = get_item(base + offsetof(TW_ENUMERATION, ItemList) +
                             e->CurrentIndex * item_size(e->ItemType),
                         e->ItemType);
      }
      break;
    }
    case TWON_RANGE: {
      const auto* r = reinterpret_cast<const TW_RANGE*>(base);
      value = get_item(reinterpret_cast<const uint8_t*>(&r->CurrentValue), r->ItemType);
      break;
    }
    default:
      ok = false;
  }
  memory.unlock(handle);
  return ok;
}

}  // namespace qrx::twain
