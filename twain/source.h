// The data source's one session with an application: the TWAIN state (3 to 7),
// the triplets each state allows, the negotiated settings and the scan behind
// the transfers. DS_Entry hands every call to the process's one Source.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "capabilities.h"
#include "containers.h"
#include "scan.h"
#include "scanner_library.h"
#include "settings.h"
#include "twain_api.h"

namespace qrx::twain {

class Dialog;

class Source {
 public:
  Source();
  ~Source();
  TW_UINT16 entry(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);

  // What the dialog does: scan with the settings now shown, or give up.
  Settings& settings() { return settings_; }
  const Abilities& abilities() const { return library_.abilities(); }
  ScannerLibrary& library() { return library_; }
  // A quick grey scan of the whole glass at the lowest resolution, for the
  // dialog's preview: rows top-down, `width` bytes each.
  bool preview(std::vector<uint8_t>& grey, uint32_t& width, uint32_t& height, std::string& error);
  bool scan_requested();
  void cancel_requested();
  void ok_requested();  // the dialog of MSG_ENABLEDSUIONLY was confirmed
  HWND parent() const { return parent_; }

 private:
  TW_UINT16 fail(TW_UINT16 condition);
  TW_UINT16 device_failure(const std::string& reason, uint16_t status);
  TW_UINT16 identity(TW_UINT16 msg, pTW_IDENTITY origin, TW_MEMREF data);
  TW_UINT16 user_interface(TW_UINT16 msg, TW_MEMREF data);
  TW_UINT16 event(TW_UINT16 msg, TW_MEMREF data);
  TW_UINT16 pending_xfers(TW_UINT16 msg, TW_MEMREF data);
  TW_UINT16 capability(TW_UINT16 msg, TW_MEMREF data);
  TW_UINT16 setup_mem(TW_UINT16 msg, TW_MEMREF data);
  TW_UINT16 setup_file(TW_UINT16 msg, TW_MEMREF data);
  TW_UINT16 image_info(TW_UINT16 msg, TW_MEMREF data);
  TW_UINT16 image_layout(TW_UINT16 msg, TW_MEMREF data);
  TW_UINT16 native_xfer(TW_UINT16 msg, TW_MEMREF data);
  TW_UINT16 memory_xfer(TW_UINT16 msg, TW_MEMREF data);
  TW_UINT16 file_xfer(TW_UINT16 msg, TW_MEMREF data);

  // Sets the scan up and tells the application an image is ready.
  bool announce_image(std::string& error, uint16_t& status);
  // Tells the application through the source manager (DAT_NULL) and its window.
  void notify(TW_UINT16 msg);
  // Starts the prepared scan for a transfer, with the progress indicator.
  TW_UINT16 start_transfer();
  // Ends the transfer's scan; `abandoned` when the image was not delivered whole.
  void end_scan();
  void after_transfer();
  ImageShape expected_shape() const;

  ScannerLibrary library_;
  Settings settings_;
  Capabilities caps_;
  Memory memory_;
  Scan scan_;
  std::unique_ptr<Dialog> dialog_;
  TW_IDENTITY self_{};
  TW_IDENTITY app_{};
  int state_ = 3;
  TW_UINT16 condition_ = TWCC_SUCCESS;
  TW_UINT16 pending_message_ = MSG_NULL;
  TW_UINT16 pending_xfers_ = 0;
  bool show_ui_ = false;
  bool transfer_done_ = false;  // state 7: the image has been delivered whole
  HWND parent_ = nullptr;
  std::string file_name_ = "TWAIN.BMP";
  TW_UINT16 file_format_ = TWFF_BMP;
  std::string last_error_;
};

// Writes the rows of a scan as a packed DIB (BITMAPINFOHEADER, colour table for
// 1 and 8 bits, rows bottom-up padded to 4 bytes, BGR) into `dib`, which holds
// dib_size(shape) bytes.
size_t dib_size(const ImageShape& shape);
size_t dib_header_size(const ImageShape& shape);
void dib_header(const ImageShape& shape, uint8_t* dib);
// Puts TWAIN row `row` (top-down, RGB) into its place in the DIB.
void dib_put_row(const ImageShape& shape, uint8_t* dib, uint32_t row, const uint8_t* twain_row);

}  // namespace qrx::twain
