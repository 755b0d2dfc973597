// The image triplets: what the image will be (DAT_IMAGEINFO, DAT_IMAGELAYOUT)
// and its native, memory and file transfers (see source.h).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "dialog.h"
#include "source.h"

namespace qrx::twain {
namespace {

constexpr double kMetresPerInch = 0.0254;

uint32_t dib_stride(const ImageShape& shape) {
  return (shape.width * shape.bits_per_pixel() + 31) / 32 * 4;
}

uint32_t palette_entries(const ImageShape& shape) {
  return shape.bits_per_pixel() == 1 ? 2 : shape.bits_per_pixel() == 8 ? 256 : 0;
}

}  // namespace

size_t dib_header_size(const ImageShape& shape) {
  return sizeof(BITMAPINFOHEADER) + palette_entries(shape) * sizeof(RGBQUAD);
}

size_t dib_size(const ImageShape& shape) {
  return dib_header_size(shape) + size_t{dib_stride(shape)} * shape.height;
}

void dib_header(const ImageShape& shape, uint8_t* dib) {
  BITMAPINFOHEADER h{};
  h.biSize = sizeof h;
  h.biWidth = static_cast<LONG>(shape.width);
  h.biHeight = static_cast<LONG>(shape.height);  // positive: rows bottom-up
  h.biPlanes = 1;
  h.biBitCount = static_cast<WORD>(shape.bits_per_pixel());
  h.biCompression = BI_RGB;
  h.biSizeImage = dib_stride(shape) * shape.height;
  h.biXPelsPerMeter = h.biYPelsPerMeter = static_cast<LONG>(std::lround(shape.dpi / kMetresPerInch));
  h.biClrUsed = palette_entries(shape);
  h.biClrImportant = 0;
  std::memcpy(dib, &h, sizeof h);
  auto* palette = reinterpret_cast<RGBQUAD*>(dib + sizeof h);
  const uint32_t n = palette_entries(shape);
  for (uint32_t i = 0; i < n; ++i) {
    const BYTE level = static_cast<BYTE>(n == 2 ? i * 255 : i);
    palette[i] = RGBQUAD{level, level, level, 0};
  }
}

void dib_put_row(const ImageShape& shape, uint8_t* dib, uint32_t row, const uint8_t* twain_row) {
  const uint32_t stride = dib_stride(shape);
  uint8_t* out = dib + dib_header_size(shape) + size_t{stride} * (shape.height - 1 - row);
  const uint32_t bytes = shape.row_bytes();
  std::memcpy(out, twain_row, bytes);
  std::memset(out + bytes, 0, stride - bytes);
  if (shape.samples == 3) {  // RGB to the DIB's BGR
    const uint32_t sample_bytes = shape.depth / 8;
    for (uint32_t x = 0; x < shape.width; ++x) {
      uint8_t* pixel = out + size_t{x} * 3 * sample_bytes;
      for (uint32_t b = 0; b < sample_bytes; ++b) std::swap(pixel[b], pixel[2 * sample_bytes + b]);
    }
  }
}

ImageShape Source::expected_shape() const {
  if (state_ >= 6) return scan_.shape();
  ImageShape shape;
  shape.samples = settings_.samples_per_pixel();
  shape.depth = settings_.bit_depth;
  shape.dpi = settings_.resolution;
  shape.width = static_cast<uint32_t>((settings_.right - settings_.left) * settings_.resolution);
  shape.height = static_cast<uint32_t>((settings_.bottom - settings_.top) * settings_.resolution);
  return shape;
}

TW_UINT16 Source::image_info(TW_UINT16 msg, TW_MEMREF data) {
  auto* info = static_cast<pTW_IMAGEINFO>(data);
  if (info == nullptr) return fail(TWCC_BADVALUE);
  if (msg != MSG_GET) return fail(TWCC_BADPROTOCOL);
  if (state_ < 6) return fail(TWCC_SEQERROR);
  const ImageShape& shape = scan_.shape();
  std::memset(info, 0, sizeof *info);
  info->XResolution = info->YResolution = to_fix32(shape.dpi);
  info->ImageWidth = static_cast<TW_INT32>(shape.width);
  info->ImageLength = static_cast<TW_INT32>(shape.height);
  info->SamplesPerPixel = static_cast<TW_INT16>(shape.samples);
  for (int i = 0; i < shape.samples; ++i) info->BitsPerSample[i] = static_cast<TW_INT16>(shape.depth);
  info->BitsPerPixel = static_cast<TW_INT16>(shape.bits_per_pixel());
  info->Planar = FALSE;
  info->PixelType = static_cast<TW_INT16>(settings_.pixel_type);
  info->Compression = TWCP_NONE;
  return TWRC_SUCCESS;
}

TW_UINT16 Source::image_layout(TW_UINT16 msg, TW_MEMREF data) {
  auto* layout = static_cast<pTW_IMAGELAYOUT>(data);
  if (layout == nullptr) return fail(TWCC_BADVALUE);
  const Abilities& a = library_.abilities();
  switch (msg) {
    case MSG_GET:
    case MSG_GETDEFAULT: {
      if (state_ > 6) return fail(TWCC_SEQERROR);
      const bool current = msg == MSG_GET;
      layout->Frame.Left = to_fix32(settings_.to_units(current ? settings_.left : 0));
      layout->Frame.Top = to_fix32(settings_.to_units(current ? settings_.top : 0));
      layout->Frame.Right = to_fix32(settings_.to_units(current ? settings_.right : a.glass_width_in));
      layout->Frame.Bottom =
          to_fix32(settings_.to_units(current ? settings_.bottom : a.glass_length_in));
      layout->DocumentNumber = layout->PageNumber = layout->FrameNumber = 1;
      return TWRC_SUCCESS;
    }
    case MSG_SET: {
      if (state_ != 4) return fail(TWCC_SEQERROR);
      double left = settings_.to_inches(from_fix32(layout->Frame.Left));
      double top = settings_.to_inches(from_fix32(layout->Frame.Top));
      double right = settings_.to_inches(from_fix32(layout->Frame.Right));
      double bottom = settings_.to_inches(from_fix32(layout->Frame.Bottom));
      if (!(right > left) || !(bottom > top)) return fail(TWCC_BADVALUE);
      // A frame reaching off the glass is cut to the glass. An edge past it by
      // less than the fixed-point rounding of the glass's own size (as read from
      // ICAP_PHYSICALWIDTH) is the glass's edge.
      bool clipped = false;
      const double slack = 2 * settings_.to_inches(1.0 / 65536);
      auto clip = [&](double& v, double limit) {
        if (v < 0) {
          clipped = clipped || v < -slack;
          v = 0;
        }
        if (v > limit) {
          clipped = clipped || v > limit + slack;
          v = limit;
        }
      };
      clip(left, a.glass_width_in);
      clip(right, a.glass_width_in);
      clip(top, a.glass_length_in);
      clip(bottom, a.glass_length_in);
      if (!(right > left) || !(bottom > top)) return fail(TWCC_BADVALUE);
      settings_.left = left;
      settings_.top = top;
      settings_.right = right;
      settings_.bottom = bottom;
      settings_.supported_size = TWSS_NONE;
      if (clipped) {
        layout->Frame.Left = to_fix32(settings_.to_units(left));
        layout->Frame.Top = to_fix32(settings_.to_units(top));
        layout->Frame.Right = to_fix32(settings_.to_units(right));
        layout->Frame.Bottom = to_fix32(settings_.to_units(bottom));
        return TWRC_CHECKSTATUS;
      }
      return TWRC_SUCCESS;
    }
    case MSG_RESET:
      if (state_ != 4) return fail(TWCC_SEQERROR);
      settings_.left = settings_.top = 0;
      settings_.right = a.glass_width_in;
      settings_.bottom = a.glass_length_in;
      settings_.supported_size = TWSS_NONE;
      return image_layout(MSG_GET, data);
  }
  return fail(TWCC_BADPROTOCOL);
}

TW_UINT16 Source::start_transfer() {
  std::string error;
  uint16_t status = 0;
  std::unique_ptr<Progress> progress;
  if (settings_.indicators) progress = std::make_unique<Progress>(parent_);
  const bool started = scan_.start(
      [&](double seconds) { return progress == nullptr || progress->update(seconds); }, error,
      status);
  if (!started) return device_failure(error, status);
  state_ = 7;
  transfer_done_ = false;
  return TWRC_SUCCESS;
}

void Source::after_transfer() {
  scan_.stop();
  transfer_done_ = true;
}

TW_UINT16 Source::native_xfer(TW_UINT16 msg, TW_MEMREF data) {
  if (msg != MSG_GET) return fail(TWCC_BADPROTOCOL);
  if (data == nullptr) return fail(TWCC_BADVALUE);
  if (state_ != 6) return fail(TWCC_SEQERROR);
  const ImageShape shape = scan_.shape();
  HGLOBAL handle = GlobalAlloc(GHND, dib_size(shape));
  if (handle == nullptr) return fail(TWCC_LOWMEMORY);
  const TW_UINT16 rc = start_transfer();
  if (rc != TWRC_SUCCESS) {
    GlobalFree(handle);
    return rc;
  }
  auto* dib = static_cast<uint8_t*>(GlobalLock(handle));
  dib_header(shape, dib);
  std::vector<uint8_t> row(shape.row_bytes());
  for (uint32_t y = 0; y < shape.height; ++y) {
    std::string error;
    uint16_t status = 0;
    if (!scan_.read_row(row.data(), error, status)) {
      GlobalUnlock(handle);
      GlobalFree(handle);
      scan_.stop();
      state_ = 6;
      return device_failure(error, status);
    }
    dib_put_row(shape, dib, y, row.data());
  }
  GlobalUnlock(handle);
  after_transfer();
  *static_cast<TW_HANDLE*>(data) = handle;
  return TWRC_XFERDONE;
}

TW_UINT16 Source::memory_xfer(TW_UINT16 msg, TW_MEMREF data) {
  if (msg != MSG_GET) return fail(TWCC_BADPROTOCOL);
  auto* xfer = static_cast<pTW_IMAGEMEMXFER>(data);
  if (xfer == nullptr) return fail(TWCC_BADVALUE);
  if (state_ != 6 && !(state_ == 7 && scan_.running())) return fail(TWCC_SEQERROR);
  const ImageShape shape = scan_.shape();
  const uint32_t row_bytes = shape.row_bytes();
  if (xfer->Memory.TheMem == nullptr || xfer->Memory.Length < row_bytes) {
    return fail(TWCC_BADVALUE);
  }
  if (state_ == 6) {
    const TW_UINT16 rc = start_transfer();
    if (rc != TWRC_SUCCESS) return rc;
  }
  const bool is_handle = (xfer->Memory.Flags & TWMF_HANDLE) != 0;
  auto* buffer = static_cast<uint8_t*>(
      is_handle ? memory_.lock(static_cast<TW_HANDLE>(xfer->Memory.TheMem)) : xfer->Memory.TheMem);
  if (buffer == nullptr) return fail(TWCC_BADVALUE);
  const uint32_t first = scan_.rows_read();
  const uint32_t rows = std::min<uint32_t>(xfer->Memory.Length / row_bytes, shape.height - first);
  for (uint32_t i = 0; i < rows; ++i) {
    std::string error;
    uint16_t status = 0;
    if (!scan_.read_row(buffer + size_t{i} * row_bytes, error, status)) {
      if (is_handle) memory_.unlock(static_cast<TW_HANDLE>(xfer->Memory.TheMem));
      // The transfer is over: the application ends it with MSG_ENDXFER.
      scan_.stop();
      return device_failure(error, status);
    }
  }
  if (is_handle) memory_.unlock(static_cast<TW_HANDLE>(xfer->Memory.TheMem));
  xfer->Compression = TWCP_NONE;
  xfer->BytesPerRow = row_bytes;
  xfer->Columns = shape.width;
  xfer->Rows = rows;
  xfer->XOffset = 0;
  xfer->YOffset = first;
  xfer->BytesWritten = rows * row_bytes;
  if (scan_.rows_read() == shape.height) {
    after_transfer();
    return TWRC_XFERDONE;
  }
  return TWRC_SUCCESS;
}

TW_UINT16 Source::file_xfer(TW_UINT16 msg, TW_MEMREF data) {
  (void)data;
  if (msg != MSG_GET) return fail(TWCC_BADPROTOCOL);
  if (state_ != 6) return fail(TWCC_SEQERROR);
  const ImageShape shape = scan_.shape();
  // Written to a file beside the target, which replaces it once whole.
  const std::string partial = file_name_ + ".part";
  FILE* file = std::fopen(partial.c_str(), "wb");
  if (file == nullptr) {
    last_error_ = "the file " + file_name_ + " cannot be written";
    return fail(TWCC_FILEWRITEERROR);
  }
  std::vector<uint8_t> dib(dib_size(shape));
  const TW_UINT16 rc = start_transfer();
  if (rc != TWRC_SUCCESS) {
    std::fclose(file);
    DeleteFileA(partial.c_str());
    return rc;
  }
  dib_header(shape, dib.data());
  std::vector<uint8_t> row(shape.row_bytes());
  for (uint32_t y = 0; y < shape.height; ++y) {
    std::string error;
    uint16_t status = 0;
    if (!scan_.read_row(row.data(), error, status)) {
      std::fclose(file);
      DeleteFileA(partial.c_str());
      scan_.stop();
      state_ = 6;
      return device_failure(error, status);
    }
    dib_put_row(shape, dib.data(), y, row.data());
  }
  BITMAPFILEHEADER header{};
  header.bfType = 0x4D42;  // "BM"
  header.bfSize = static_cast<DWORD>(sizeof header + dib.size());
  header.bfOffBits = static_cast<DWORD>(sizeof header + dib_header_size(shape));
  const bool written = std::fwrite(&header, sizeof header, 1, file) == 1 &&
                       std::fwrite(dib.data(), dib.size(), 1, file) == 1;
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed ||
      !MoveFileExA(partial.c_str(), file_name_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    DeleteFileA(partial.c_str());
    after_transfer();
    state_ = 6;
    transfer_done_ = false;
    last_error_ = "the file " + file_name_ + " could not be written whole";
    return fail(TWCC_FILEWRITEERROR);
  }
  after_transfer();
  return TWRC_XFERDONE;
}

}  // namespace qrx::twain
