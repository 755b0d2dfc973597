// The application's side of a TWAIN session (see twain_client.h).
#include "twain_client.h"

#include <cstdio>
#include <cstring>

#include "harness.h"

namespace qrx::wintest {

TwainClient* TwainClient::current_ = nullptr;

namespace {

TW_HANDLE PASCAL mem_allocate(TW_UINT32 size) { return GlobalAlloc(GHND, size); }
void PASCAL mem_free(TW_HANDLE handle) { GlobalFree(handle); }
TW_MEMREF PASCAL mem_lock(TW_HANDLE handle) { return GlobalLock(handle); }
void PASCAL mem_unlock(TW_HANDLE handle) { GlobalUnlock(handle); }

double fix(TW_FIX32 f) { return f.Whole + f.Frac / 65536.0; }

TW_FIX32 to_fix(double v) {
  const long n = static_cast<long>(v * 65536.0 + (v >= 0 ? 0.5 : -0.5));
  TW_FIX32 f;
  f.Whole = static_cast<TW_INT16>(n >> 16);
  f.Frac = static_cast<TW_UINT16>(n & 0xFFFF);
  return f;
}

size_t item_size(TW_UINT16 type) {
  switch (type) {
    case TWTY_INT8: case TWTY_UINT8: return 1;
    case TWTY_INT16: case TWTY_UINT16: case TWTY_BOOL: return 2;
    default: return 4;
  }
}

double item(const uint8_t* p, TW_UINT16 type) {
  switch (type) {
    case TWTY_INT16: { TW_INT16 v; std::memcpy(&v, p, 2); return v; }
    case TWTY_UINT16: case TWTY_BOOL: { TW_UINT16 v; std::memcpy(&v, p, 2); return v; }
    case TWTY_INT32: { TW_INT32 v; std::memcpy(&v, p, 4); return v; }
    case TWTY_FIX32: { TW_FIX32 v; std::memcpy(&v, p, 4); return fix(v); }
    default: { TW_UINT32 v; std::memcpy(&v, p, 4); return v; }
  }
}

uint32_t stride_of(uint32_t width, int bits) { return (width * bits + 31) / 32 * 4; }

// One TWAIN row (top-down, RGB, packed) into the picture.
void put_twain_row(Picture& p, uint32_t y, const uint8_t* row) {
  const uint32_t n = p.width * p.channels;
  for (uint32_t i = 0; i < n; ++i) {
    double v;
    if (p.depth == 1) v = (row[i / 8] >> (7 - i % 8)) & 1;
    else if (p.depth == 8) v = row[i] / 255.0;
    else v = (row[2 * i] | (row[2 * i + 1] << 8)) / 65535.0;
    p.samples[size_t{y} * n + i] = v;
  }
}

Picture blank(const TW_IMAGEINFO& info) {
  Picture p;
  p.width = static_cast<uint32_t>(info.ImageWidth);
  p.height = static_cast<uint32_t>(info.ImageLength);
  p.channels = info.SamplesPerPixel;
  p.depth = info.BitsPerSample[0];
  p.samples.assign(size_t{p.width} * p.height * p.channels, 0.0);
  return p;
}

}  // namespace

Picture decode_dib(const uint8_t* dib, size_t size, const TW_IMAGEINFO& info) {
  BITMAPINFOHEADER h;
  CHECK(size >= sizeof h, "the DIB holds its header (%zu bytes)", size);
  std::memcpy(&h, dib, sizeof h);
  const int bits = info.BitsPerPixel;
  CHECK(h.biSize == sizeof h && h.biPlanes == 1 && h.biCompression == BI_RGB,
        "BITMAPINFOHEADER size %lu, planes %u, compression %lu", h.biSize, h.biPlanes,
        h.biCompression);
  CHECK(h.biWidth == info.ImageWidth && h.biHeight == info.ImageLength,
        "the DIB is %ld x %ld (positive height: bottom-up), the image info %ld x %ld", h.biWidth,
        h.biHeight, info.ImageWidth, info.ImageLength);
  CHECK(h.biBitCount == bits, "biBitCount %u, image info %d bits per pixel", h.biBitCount, bits);
  const long dpm = static_cast<long>(fix(info.XResolution) / 0.0254 + 0.5);
  CHECK(h.biXPelsPerMeter >= dpm - 1 && h.biXPelsPerMeter <= dpm + 1,
        "biXPelsPerMeter %ld for %.0f dpi", h.biXPelsPerMeter, fix(info.XResolution));
  const uint32_t colours = bits == 1 ? 2 : bits == 8 ? 256 : 0;
  CHECK(h.biClrUsed == colours, "colour table of %lu entries for %d bits", h.biClrUsed, bits);
  const auto* palette = reinterpret_cast<const RGBQUAD*>(dib + sizeof h);
  for (uint32_t i = 0; i < colours; ++i) {
    const unsigned level = colours == 2 ? i * 255 : i;
    CHECK(palette[i].rgbRed == level && palette[i].rgbGreen == level && palette[i].rgbBlue == level,
          "colour table entry %u is grey %u", i, level);
  }
  const uint32_t stride = stride_of(h.biWidth, bits);
  const size_t offset = sizeof h + colours * sizeof(RGBQUAD);
  CHECK(h.biSizeImage == stride * static_cast<uint32_t>(h.biHeight),
        "biSizeImage %lu for rows of %u bytes", h.biSizeImage, stride);
  CHECK(size >= offset + size_t{stride} * h.biHeight, "the DIB holds all its rows (%zu bytes)", size);
  Picture p = blank(info);
  std::vector<uint8_t> row(stride);
  const int sample_bytes = p.depth / 8;
  for (uint32_t y = 0; y < p.height; ++y) {
    const uint8_t* in = dib + offset + size_t{stride} * (p.height - 1 - y);
    std::memcpy(row.data(), in, stride);
    if (p.channels == 3) {  // BGR back to RGB
      for (uint32_t x = 0; x < p.width; ++x) {
        uint8_t* px = row.data() + size_t{x} * 3 * sample_bytes;
        for (int b = 0; b < sample_bytes; ++b) std::swap(px[b], px[2 * sample_bytes + b]);
      }
    }
    const uint32_t used = (p.width * bits + 7) / 8;
    for (uint32_t i = used; i < stride; ++i) {
      CHECK(row[i] == 0, "row %u's padding byte %u is zero", y, i);
    }
    put_twain_row(p, y, row.data());
  }
  return p;
}

TwainClient::TwainClient(const std::string& ds_path) {
  module_ = LoadLibraryA(ds_path.c_str());
  CHECK(module_ != nullptr, "LoadLibrary(%s) failed with error %lu", ds_path.c_str(), GetLastError());
  entry_ = reinterpret_cast<DSENTRYPROC>(reinterpret_cast<void*>(GetProcAddress(module_, "DS_Entry")));
  CHECK(entry_ != nullptr, "%s exports DS_Entry", ds_path.c_str());
  app_.Id = 1;
  app_.Version.MajorNum = 1;
  app_.ProtocolMajor = 2;
  app_.ProtocolMinor = 1;
  app_.SupportedGroups = DG_CONTROL | DG_IMAGE;
  std::strcpy(app_.Manufacturer, "Test");
  std::strcpy(app_.ProductFamily, "Test");
  std::strcpy(app_.ProductName, "twain_session_test");
  window_ = CreateWindowA("STATIC", "twain application", WS_OVERLAPPED, 0, 0, 100, 100, nullptr,
                          nullptr, GetModuleHandleA(nullptr), nullptr);
  current_ = this;
}

TwainClient::~TwainClient() {
  if (window_ != nullptr) DestroyWindow(window_);
  current_ = nullptr;
}

TW_UINT16 PASCAL TwainClient::manager_entry(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32 dg,
                                             TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF) {
  if (current_ != nullptr && dg == DG_CONTROL && dat == DAT_NULL) current_->callbacks_.push_back(msg);
  return TWRC_SUCCESS;
}

TW_UINT16 TwainClient::call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
  return entry_(&app_, dg, dat, msg, data);
}

TW_UINT16 TwainClient::condition() {
  TW_STATUS status{};
  CHECK(call(DG_CONTROL, DAT_STATUS, MSG_GET, &status) == TWRC_SUCCESS, "DAT_STATUS");
  return status.ConditionCode;
}

void TwainClient::expect(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data, TW_UINT16 rc,
                         TW_UINT16 cc, const char* what) {
  const TW_UINT16 got = call(dg, dat, msg, data);
  const TW_UINT16 got_cc = got == TWRC_FAILURE ? condition() : TWCC_SUCCESS;
  CHECK(got == rc && (rc != TWRC_FAILURE || got_cc == cc),
        "%s: return code %u (condition %u), expected %u (condition %u)", what, got, got_cc, rc, cc);
}

void TwainClient::open() {
  TW_ENTRYPOINT entry{};
  entry.Size = sizeof entry;
  entry.DSM_Entry = &TwainClient::manager_entry;
  entry.DSM_MemAllocate = mem_allocate;
  entry.DSM_MemFree = mem_free;
  entry.DSM_MemLock = mem_lock;
  entry.DSM_MemUnlock = mem_unlock;
  expect(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &entry, TWRC_SUCCESS, 0, "DAT_ENTRYPOINT");
  source_ = TW_IDENTITY{};
  source_.Id = 7;
  const TW_UINT16 rc = call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source_);
  CHECK(rc == TWRC_SUCCESS, "MSG_OPENDS: return code %u, condition %u", rc,
        rc == TWRC_FAILURE ? condition() : 0);
  CHECK(std::strcmp(source_.ProductName, "QRX7730 Flatbed") == 0, "the source names itself: %s",
        source_.ProductName);
}

void TwainClient::close() {
  expect(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source_, TWRC_SUCCESS, 0, "MSG_CLOSEDS");
}

TW_UINT16 TwainClient::set_one(TW_UINT16 cap, TW_UINT16 type, double value) {
  TW_CAPABILITY c{};
  c.Cap = cap;
  c.ConType = TWON_ONEVALUE;
  c.hContainer = GlobalAlloc(GHND, sizeof(TW_ONEVALUE));
  auto* one = static_cast<TW_ONEVALUE*>(GlobalLock(c.hContainer));
  one->ItemType = type;
  if (type == TWTY_FIX32) {
    const TW_FIX32 f = to_fix(value);
    std::memcpy(&one->Item, &f, 4);
  } else if (type == TWTY_INT16) {
    const TW_INT16 v = static_cast<TW_INT16>(value);
    std::memcpy(&one->Item, &v, 2);
  } else if (item_size(type) == 2) {
    const TW_UINT16 v = static_cast<TW_UINT16>(value);
    std::memcpy(&one->Item, &v, 2);
  } else {
    one->Item = static_cast<TW_UINT32>(value);
  }
  GlobalUnlock(c.hContainer);
  const TW_UINT16 rc = call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &c);
  GlobalFree(c.hContainer);
  return rc;
}

TW_UINT16 TwainClient::get(TW_UINT16 cap, std::vector<double>& values, double* current) {
  TW_CAPABILITY c{};
  c.Cap = cap;
  c.ConType = TWON_DONTCARE16;
  const TW_UINT16 rc = call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &c);
  values.clear();
  if (rc != TWRC_SUCCESS) return 0;
  CHECK(c.hContainer != nullptr, "MSG_GET of capability 0x%04X gives a container", cap);
  const auto* base = static_cast<const uint8_t*>(GlobalLock(c.hContainer));
  switch (c.ConType) {
    case TWON_ONEVALUE: {
      const auto* one = reinterpret_cast<const TW_ONEVALUE*>(base);
      values.push_back(item(base + offsetof(TW_ONEVALUE, Item), one->ItemType));
      if (current) *current = values.back();
      break;
    }
    case TWON_ENUMERATION: {
      const auto* e = reinterpret_cast<const TW_ENUMERATION*>(base);
      for (TW_UINT32 i = 0; i < e->NumItems; ++i) {
        values.push_back(item(base + offsetof(TW_ENUMERATION, ItemList) + i * item_size(e->ItemType),
                              e->ItemType));
      }
      CHECK(e->CurrentIndex < e->NumItems && e->DefaultIndex < e->NumItems,
            "enumeration of 0x%04X: indexes %lu, %lu of %lu", cap, e->CurrentIndex,
            e->DefaultIndex, e->NumItems);
      if (current) *current = values[e->CurrentIndex];
      break;
    }
    case TWON_ARRAY: {
      const auto* a = reinterpret_cast<const TW_ARRAY*>(base);
      for (TW_UINT32 i = 0; i < a->NumItems; ++i) {
        values.push_back(item(base + offsetof(TW_ARRAY, ItemList) + i * item_size(a->ItemType),
                              a->ItemType));
      }
      break;
    }
    case TWON_RANGE: {
      const auto* r = reinterpret_cast<const TW_RANGE*>(base);
      for (const TW_UINT32* v : {&r->MinValue, &r->MaxValue, &r->StepSize, &r->DefaultValue,
                                 &r->CurrentValue}) {
        values.push_back(item(reinterpret_cast<const uint8_t*>(v), r->ItemType));
      }
      if (current) *current = values.back();
      break;
    }
  }
  GlobalUnlock(c.hContainer);
  GlobalFree(c.hContainer);
  return c.ConType;
}

double TwainClient::get_current(TW_UINT16 cap) {
  TW_CAPABILITY c{};
  c.Cap = cap;
  c.ConType = TWON_DONTCARE16;
  CHECK(call(DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT, &c) == TWRC_SUCCESS,
        "MSG_GETCURRENT of 0x%04X", cap);
  CHECK(c.ConType == TWON_ONEVALUE, "MSG_GETCURRENT gives a one-value, not %u", c.ConType);
  const auto* one = static_cast<const TW_ONEVALUE*>(GlobalLock(c.hContainer));
  const double v = item(reinterpret_cast<const uint8_t*>(one) + offsetof(TW_ONEVALUE, Item), one->ItemType);
  GlobalUnlock(c.hContainer);
  GlobalFree(c.hContainer);
  return v;
}

TW_UINT16 TwainClient::set_frame(double left, double top, double right, double bottom) {
  TW_IMAGELAYOUT layout{};
  layout.Frame.Left = to_fix(left);
  layout.Frame.Top = to_fix(top);
  layout.Frame.Right = to_fix(right);
  layout.Frame.Bottom = to_fix(bottom);
  return call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout);
}

void TwainClient::enable_without_ui() {
  TW_USERINTERFACE ui{};
  ui.ShowUI = FALSE;
  ui.hParent = window_;
  callbacks_.clear();
  const TW_UINT16 rc = call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
  CHECK(rc == TWRC_SUCCESS, "MSG_ENABLEDS without UI: return code %u, condition %u", rc,
        rc == TWRC_FAILURE ? condition() : 0);
  // The application's loop: every message goes to the source first.
  bool ready = false;
  MSG message;
  const DWORD started = GetTickCount();
  while (!ready) {
    CHECK(GetTickCount() - started < 60000, "MSG_XFERREADY arrives through DAT_EVENT");
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      message = MSG{};
      message.hwnd = window_;
    }
    TW_EVENT event{};
    event.pEvent = &message;
    const TW_UINT16 rc2 = call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
    CHECK(rc2 == TWRC_DSEVENT || rc2 == TWRC_NOTDSEVENT, "DAT_EVENT returned %u", rc2);
    if (event.TWMessage == MSG_XFERREADY) ready = true;
  }
  CHECK(!callbacks_.empty() && callbacks_[0] == MSG_XFERREADY,
        "the source manager was told MSG_XFERREADY by DAT_NULL (%zu messages)", callbacks_.size());
}

TW_IMAGEINFO TwainClient::image_info() {
  TW_IMAGEINFO info{};
  expect(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info, TWRC_SUCCESS, 0, "DAT_IMAGEINFO");
  return info;
}

Picture TwainClient::native_transfer(const TW_IMAGEINFO& info) {
  TW_HANDLE handle = nullptr;
  const TW_UINT16 rc = call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle);
  CHECK(rc == TWRC_XFERDONE, "native transfer: return code %u, condition %u", rc,
        rc == TWRC_FAILURE ? condition() : 0);
  const size_t size = GlobalSize(handle);
  const auto* dib = static_cast<const uint8_t*>(GlobalLock(handle));
  Picture p = decode_dib(dib, size, info);
  GlobalUnlock(handle);
  GlobalFree(handle);
  return p;
}

Picture TwainClient::memory_transfer(const TW_IMAGEINFO& info, uint32_t buffer_bytes) {
  TW_SETUPMEMXFER setup{};
  expect(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup, TWRC_SUCCESS, 0, "DAT_SETUPMEMXFER");
  const uint32_t row_bytes = (static_cast<uint32_t>(info.ImageWidth) * info.BitsPerPixel + 7) / 8;
  CHECK(setup.MinBufSize == row_bytes && setup.Preferred >= row_bytes,
        "buffer sizes min %lu preferred %lu for rows of %u bytes", setup.MinBufSize, setup.Preferred,
        row_bytes);
  Picture p = blank(info);
  std::vector<uint8_t> buffer(buffer_bytes);
  uint32_t next_row = 0;
  for (int strip = 0;; ++strip) {
    TW_IMAGEMEMXFER xfer{};
    xfer.Compression = TWON_DONTCARE16;
    xfer.BytesPerRow = xfer.Columns = xfer.Rows = xfer.XOffset = xfer.YOffset = xfer.BytesWritten =
        TWON_DONTCARE32;
    xfer.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
    xfer.Memory.Length = buffer_bytes;
    xfer.Memory.TheMem = buffer.data();
    const TW_UINT16 rc = call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer);
    CHECK(rc == TWRC_SUCCESS || rc == TWRC_XFERDONE, "memory strip %d: return code %u, condition %u",
          strip, rc, rc == TWRC_FAILURE ? condition() : 0);
    CHECK(xfer.Compression == TWCP_NONE && xfer.BytesPerRow == row_bytes &&
              xfer.Columns == static_cast<TW_UINT32>(info.ImageWidth) && xfer.XOffset == 0 &&
              xfer.YOffset == next_row && xfer.BytesWritten == xfer.Rows * row_bytes &&
              xfer.Rows >= 1 && xfer.Rows <= buffer_bytes / row_bytes,
          "strip %d: %lu bytes per row, %lu columns, %lu rows at (%lu, %lu), %lu bytes", strip,
          xfer.BytesPerRow, xfer.Columns, xfer.Rows, xfer.XOffset, xfer.YOffset, xfer.BytesWritten);
    for (uint32_t r = 0; r < xfer.Rows; ++r) put_twain_row(p, next_row + r, buffer.data() + size_t{r} * row_bytes);
    next_row += xfer.Rows;
    if (rc == TWRC_XFERDONE) break;
    CHECK(next_row < p.height, "the transfer ends with its last row");
  }
  CHECK(next_row == p.height, "the strips held %u rows of %u", next_row, p.height);
  return p;
}

Picture TwainClient::file_transfer(const TW_IMAGEINFO& info, const std::string& file) {
  TW_SETUPFILEXFER setup{};
  std::snprintf(setup.FileName, sizeof setup.FileName, "%s", file.c_str());
  setup.Format = TWFF_BMP;
  expect(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup, TWRC_SUCCESS, 0, "DAT_SETUPFILEXFER");
  DeleteFileA(file.c_str());
  const TW_UINT16 rc = call(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr);
  CHECK(rc == TWRC_XFERDONE, "file transfer: return code %u, condition %u", rc,
        rc == TWRC_FAILURE ? condition() : 0);
  FILE* f = std::fopen(file.c_str(), "rb");
  CHECK(f != nullptr, "the file %s was written", file.c_str());
  std::vector<uint8_t> bytes;
  uint8_t chunk[65536];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(f);
  BITMAPFILEHEADER h;
  CHECK(bytes.size() > sizeof h, "the BMP file holds its header");
  std::memcpy(&h, bytes.data(), sizeof h);
  const uint32_t colours = info.BitsPerPixel == 1 ? 2 : info.BitsPerPixel == 8 ? 256 : 0;
  CHECK(h.bfType == 0x4D42 && h.bfSize == bytes.size() &&
            h.bfOffBits == sizeof h + sizeof(BITMAPINFOHEADER) + colours * 4,
        "BMP file header: type %04X, size %lu of %zu, pixels at %lu", h.bfType, h.bfSize,
        bytes.size(), h.bfOffBits);
  return decode_dib(bytes.data() + sizeof h, bytes.size() - sizeof h, info);
}

void TwainClient::end_transfer(TW_UINT16 expected_count) {
  TW_PENDINGXFERS pending{};
  expect(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending, TWRC_SUCCESS, 0, "MSG_ENDXFER");
  CHECK(pending.Count == expected_count, "%u transfers pending, expected %u", pending.Count,
        expected_count);
}

void TwainClient::disable() {
  TW_USERINTERFACE ui{};
  ui.hParent = window_;
  expect(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui, TWRC_SUCCESS, 0, "MSG_DISABLEDS");
}

}  // namespace qrx::wintest
