// The session's state machine and its control triplets (see source.h); the image
// triplets are in transfers.cpp.
#include "source.h"

#include <cstdio>
#include <cstring>

#include "dialog.h"

namespace qrx::twain {
namespace {

void copy_string(char* to, size_t size, const char* from) {
  std::strncpy(to, from, size - 1);
  to[size - 1] = '\0';
}

void debug_line(const std::string& text) {
  OutputDebugStringA(("QRX7730.ds: " + text + "\n").c_str());
}

}  // namespace

Source::Source() : caps_(settings_, library_.abilities()), scan_(library_) {
  self_.Version.MajorNum = 1;
  self_.Version.MinorNum = 0;
  self_.Version.Language = TWLG_ENGLISH;
  self_.Version.Country = TWCY_USA;
  copy_string(self_.Version.Info, sizeof self_.Version.Info, "1.0");
  self_.ProtocolMajor = TWON_PROTOCOLMAJOR;
  self_.ProtocolMinor = TWON_PROTOCOLMINOR;
  self_.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_DS2;
  copy_string(self_.Manufacturer, sizeof self_.Manufacturer, "Quarn");
  copy_string(self_.ProductFamily, sizeof self_.ProductFamily, "Imagent");
  copy_string(self_.ProductName, sizeof self_.ProductName, "QRX7730 Flatbed");
}

Source::~Source() {
  dialog_.reset();
  scan_.stop();
  library_.close();
}

TW_UINT16 Source::fail(TW_UINT16 condition) {
  condition_ = condition;
  return TWRC_FAILURE;
}

TW_UINT16 Source::device_failure(const std::string& reason, uint16_t status) {
  last_error_ = reason;
  debug_line(reason);
  if (dialog_) dialog_->show_error(reason);
  // A scanner another application is using is not a fault of this one.
  (void)status;
  return fail(TWCC_BUMMER);
}

TW_UINT16 Source::entry(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                        TW_MEMREF data) {
  // DAT_STATUS reports the condition of the call before it, so it leaves it alone.
  if (dg == DG_CONTROL && dat == DAT_STATUS) {
    if (msg != MSG_GET || data == nullptr) return fail(TWCC_BADPROTOCOL);
    auto* status = static_cast<pTW_STATUS>(data);
    status->ConditionCode = condition_;
    status->Reserved = 0;
    condition_ = TWCC_SUCCESS;
    return TWRC_SUCCESS;
  }
  condition_ = TWCC_SUCCESS;
  if (dg == DG_CONTROL) {
    switch (dat) {
      case DAT_IDENTITY: return identity(msg, origin, data);
      case DAT_ENTRYPOINT:
        if (msg != MSG_SET || data == nullptr) return fail(TWCC_BADPROTOCOL);
        if (state_ > 4) return fail(TWCC_SEQERROR);
        memory_.use(*static_cast<const TW_ENTRYPOINT*>(data));
        return TWRC_SUCCESS;
    }
    if (state_ < 4) return fail(TWCC_SEQERROR);
    switch (dat) {
      case DAT_USERINTERFACE: return user_interface(msg, data);
      case DAT_EVENT: return event(msg, data);
      case DAT_PENDINGXFERS: return pending_xfers(msg, data);
      case DAT_CAPABILITY: return capability(msg, data);
      case DAT_SETUPMEMXFER: return setup_mem(msg, data);
      case DAT_SETUPFILEXFER: return setup_file(msg, data);
      case DAT_XFERGROUP:
        if (data == nullptr) return fail(TWCC_BADVALUE);
        if (msg == MSG_GET) {
          *static_cast<TW_UINT32*>(data) = DG_IMAGE;
          return TWRC_SUCCESS;
        }
        if (msg == MSG_SET) {
          if (state_ != 6) return fail(TWCC_SEQERROR);
          return *static_cast<TW_UINT32*>(data) == DG_IMAGE ? TWRC_SUCCESS : fail(TWCC_BADVALUE);
        }
        return fail(TWCC_BADPROTOCOL);
    }
    return fail(TWCC_BADPROTOCOL);
  }
  if (dg == DG_IMAGE) {
    if (state_ < 4) return fail(TWCC_SEQERROR);
    switch (dat) {
      case DAT_IMAGEINFO: return image_info(msg, data);
      case DAT_IMAGELAYOUT: return image_layout(msg, data);
      case DAT_IMAGENATIVEXFER: return native_xfer(msg, data);
      case DAT_IMAGEMEMXFER: return memory_xfer(msg, data);
      case DAT_IMAGEFILEXFER: return file_xfer(msg, data);
    }
  }
  return fail(TWCC_BADPROTOCOL);
}

TW_UINT16 Source::identity(TW_UINT16 msg, pTW_IDENTITY origin, TW_MEMREF data) {
  auto* id = static_cast<pTW_IDENTITY>(data);
  if (id == nullptr) return fail(TWCC_BADVALUE);
  switch (msg) {
    case MSG_GET: {
      const TW_UINT32 keep = id->Id;
      *id = self_;
      id->Id = state_ >= 4 ? self_.Id : keep;
      return TWRC_SUCCESS;
    }
    case MSG_OPENDS: {
      if (state_ != 3) return fail(TWCC_SEQERROR);
      std::string error;
      bool busy = false;
      if (!library_.open(error, busy)) {
        last_error_ = error;
        debug_line(error);
        return fail(busy ? TWCC_MAXCONNECTIONS : TWCC_OPERATIONERROR);
      }
      self_.Id = id->Id;
      if (origin != nullptr) app_ = *origin;
      settings_ = Settings::defaults(library_.abilities());
      *id = self_;
      state_ = 4;
      return TWRC_SUCCESS;
    }
    case MSG_CLOSEDS:
      if (state_ != 4) return fail(TWCC_SEQERROR);
      dialog_.reset();
      scan_.stop();
      library_.close();
      state_ = 3;
      return TWRC_SUCCESS;
  }
  return fail(TWCC_BADPROTOCOL);
}

TW_UINT16 Source::user_interface(TW_UINT16 msg, TW_MEMREF data) {
  auto* ui = static_cast<pTW_USERINTERFACE>(data);
  switch (msg) {
    case MSG_ENABLEDS:
    case MSG_ENABLEDSUIONLY: {
      if (state_ != 4) return fail(TWCC_SEQERROR);
      if (ui == nullptr) return fail(TWCC_BADVALUE);
      parent_ = static_cast<HWND>(ui->hParent);
      show_ui_ = msg == MSG_ENABLEDSUIONLY || ui->ShowUI != 0;
      pending_message_ = MSG_NULL;
      pending_xfers_ = 0;
      if (show_ui_) {
        dialog_ = std::make_unique<Dialog>(*this, msg == MSG_ENABLEDSUIONLY);
        std::string error;
        if (!dialog_->open(error)) {
          dialog_.reset();
          last_error_ = error;
          return fail(TWCC_LOWMEMORY);
        }
        state_ = 5;
        return TWRC_SUCCESS;
      }
      state_ = 5;
      std::string error;
      uint16_t status = 0;
      if (!announce_image(error, status)) {
        state_ = 4;
        return device_failure(error, status);
      }
      return TWRC_SUCCESS;
    }
    case MSG_DISABLEDS:
      if (state_ != 5) return fail(TWCC_SEQERROR);
      dialog_.reset();
      pending_message_ = MSG_NULL;
      state_ = 4;
      return TWRC_SUCCESS;
  }
  return fail(TWCC_BADPROTOCOL);
}

bool Source::announce_image(std::string& error, uint16_t& status) {
  if (!scan_.prepare(settings_, error, status)) return false;
  pending_xfers_ = 1;
  state_ = 6;
  notify(MSG_XFERREADY);
  return true;
}

void Source::notify(TW_UINT16 msg) {
  pending_message_ = msg;
  // An application that waits in its message loop is woken to pass the next
  // message on with DAT_EVENT, which then carries this one.
  if (parent_ != nullptr) PostMessageA(parent_, WM_NULL, 0, 0);
  if (memory_.has_entry() && memory_.entry().DSM_Entry != nullptr) {
    memory_.entry().DSM_Entry(&self_, &app_, DG_CONTROL, DAT_NULL, msg, nullptr);
  }
}

bool Source::scan_requested() {
  if (state_ != 5) return false;
  std::string error;
  uint16_t status = 0;
  if (!announce_image(error, status)) {
    device_failure(error, status);
    return false;
  }
  return true;
}

bool Source::preview(std::vector<uint8_t>& grey, uint32_t& width, uint32_t& height,
                     std::string& error) {
  if (state_ != 5) return false;
  Settings quick = Settings::defaults(library_.abilities());
  quick.pixel_type = TWPT_GRAY;
  quick.bit_depth = 8;
  quick.resolution = library_.abilities().resolutions.front();
  Scan scan(library_);
  uint16_t status = 0;
  std::unique_ptr<Progress> progress;
  if (settings_.indicators) progress = std::make_unique<Progress>(dialog_ ? dialog_->window() : parent_);
  if (!scan.prepare(quick, error, status) ||
      !scan.start([&](double seconds) { return progress == nullptr || progress->update(seconds); },
                  error, status)) {
    return false;
  }
  width = scan.shape().width;
  height = scan.shape().height;
  grey.assign(size_t{width} * height, 0);
  for (uint32_t y = 0; y < height; ++y) {
    if (!scan.read_row(&grey[size_t{y} * width], error, status)) {
      error += " at row " + std::to_string(y + 1) + " of " + std::to_string(height);
      return false;
    }
  }
  scan.stop();
  return true;
}

void Source::cancel_requested() {
  if (state_ == 5) notify(MSG_CLOSEDSREQ);
}

void Source::ok_requested() {
  if (state_ == 5) notify(MSG_CLOSEDSOK);
}

TW_UINT16 Source::event(TW_UINT16 msg, TW_MEMREF data) {
  if (msg != MSG_PROCESSEVENT) return fail(TWCC_BADPROTOCOL);
  if (state_ < 5) return fail(TWCC_SEQERROR);
  auto* ev = static_cast<pTW_EVENT>(data);
  if (ev == nullptr) return fail(TWCC_BADVALUE);
  bool ours = false;
  if (dialog_ && ev->pEvent != nullptr) ours = dialog_->handle(static_cast<MSG*>(ev->pEvent));
  ev->TWMessage = pending_message_;
  if (pending_message_ != MSG_NULL) {
    pending_message_ = MSG_NULL;
    return TWRC_DSEVENT;
  }
  return ours ? TWRC_DSEVENT : TWRC_NOTDSEVENT;
}

TW_UINT16 Source::pending_xfers(TW_UINT16 msg, TW_MEMREF data) {
  auto* pending = static_cast<pTW_PENDINGXFERS>(data);
  if (pending == nullptr) return fail(TWCC_BADVALUE);
  switch (msg) {
    case MSG_GET:
      pending->Count = pending_xfers_;
      pending->u.EOJ = 0;
      return TWRC_SUCCESS;
    case MSG_ENDXFER:
    case MSG_RESET:
      if (state_ < 6 || (msg == MSG_RESET && state_ == 7 && transfer_done_)) {
        return fail(TWCC_SEQERROR);
      }
      // The image delivered, or given up part way or before it began: either
      // way the scan ends and the scanner is free for the next.
      end_scan();
      pending_xfers_ = 0;
      pending->Count = 0;
      pending->u.EOJ = 0;
      state_ = 5;
      if (dialog_) dialog_->scan_finished();
      return TWRC_SUCCESS;
  }
  return fail(TWCC_BADPROTOCOL);
}

void Source::end_scan() {
  scan_.stop();
  transfer_done_ = false;
}

TW_UINT16 Source::capability(TW_UINT16 msg, TW_MEMREF data) {
  auto* cap = static_cast<pTW_CAPABILITY>(data);
  if (cap == nullptr) return fail(TWCC_BADVALUE);
  CapView view;
  const bool known = caps_.view(cap->Cap, view);
  switch (msg) {
    case MSG_GET:
    case MSG_GETCURRENT:
    case MSG_GETDEFAULT: {
      if (!known) return fail(TWCC_CAPUNSUPPORTED);
      CapView::Kind kind = view.kind;
      double value = 0;
      if (msg != MSG_GET && kind != CapView::kArray) {
        kind = CapView::kOne;
        value = msg == MSG_GETDEFAULT ? view.fallback : view.current;
      } else if (kind == CapView::kOne) {
        value = view.current;
      }
      TW_UINT16 con_type = TWON_ONEVALUE;
      TW_HANDLE handle = write_container(memory_, view, kind, value, con_type);
      if (handle == nullptr) return fail(TWCC_LOWMEMORY);
      cap->ConType = con_type;
      cap->hContainer = handle;
      return TWRC_SUCCESS;
    }
    case MSG_QUERYSUPPORT: {
      if (!known) return fail(TWCC_CAPUNSUPPORTED);
      CapView q;
      q.type = TWTY_INT32;
      const bool settable = view.settable && view.kind != CapView::kArray;
      const double flags = TWQC_GET | TWQC_GETCURRENT | TWQC_GETDEFAULT |
                           (settable ? TWQC_SET | TWQC_RESET : 0);
      TW_UINT16 con_type = TWON_ONEVALUE;
      TW_HANDLE handle = write_container(memory_, q, CapView::kOne, flags, con_type);
      if (handle == nullptr) return fail(TWCC_LOWMEMORY);
      cap->ConType = con_type;
      cap->hContainer = handle;
      return TWRC_SUCCESS;
    }
    case MSG_SET:
    case MSG_RESET: {
      if (state_ != 4) return fail(TWCC_SEQERROR);
      if (!known) return fail(TWCC_CAPUNSUPPORTED);
      TW_UINT16 condition = TWCC_SUCCESS;
      TW_UINT16 rc;
      if (msg == MSG_RESET) {
        rc = caps_.reset(cap->Cap, condition);
        if (rc == TWRC_SUCCESS) {
          // The reset value goes back to the application, as from MSG_GET.
          caps_.view(cap->Cap, view);
          TW_UINT16 con_type = TWON_ONEVALUE;
          TW_HANDLE handle = write_container(memory_, view, view.kind, view.current, con_type);
          if (handle != nullptr) {
            cap->ConType = con_type;
            cap->hContainer = handle;
          }
        }
      } else {
        double value = 0;
        if (!read_container(memory_, cap->hContainer, cap->ConType, value)) {
          return fail(TWCC_BADVALUE);
        }
        rc = caps_.set(cap->Cap, value, condition);
      }
      if (rc == TWRC_FAILURE) return fail(condition);
      return rc;
    }
  }
  return fail(TWCC_BADPROTOCOL);
}

TW_UINT16 Source::setup_mem(TW_UINT16 msg, TW_MEMREF data) {
  auto* setup = static_cast<pTW_SETUPMEMXFER>(data);
  if (setup == nullptr) return fail(TWCC_BADVALUE);
  if (msg != MSG_GET) return fail(TWCC_BADPROTOCOL);
  if (state_ > 6) return fail(TWCC_SEQERROR);
  const uint32_t row = expected_shape().row_bytes();
  setup->MinBufSize = row;
  setup->MaxBufSize = TWON_DONTCARE32;
  // About 64 KiB of whole rows.
  setup->Preferred = row * std::max<uint32_t>(1, 65536 / std::max<uint32_t>(row, 1));
  return TWRC_SUCCESS;
}

TW_UINT16 Source::setup_file(TW_UINT16 msg, TW_MEMREF data) {
  auto* setup = static_cast<pTW_SETUPFILEXFER>(data);
  if (setup == nullptr) return fail(TWCC_BADVALUE);
  if (state_ > 6) return fail(TWCC_SEQERROR);
  switch (msg) {
    case MSG_GET:
    case MSG_GETDEFAULT: {
      const char* name = msg == MSG_GET ? file_name_.c_str() : "TWAIN.BMP";
      copy_string(setup->FileName, sizeof setup->FileName, name);
      setup->Format = msg == MSG_GET ? file_format_ : TWFF_BMP;
      setup->VRefNum = 0;
      return TWRC_SUCCESS;
    }
    case MSG_SET:
      // BMP is the one format written: a Windows TIFF library is not at hand.
      if (setup->Format != TWFF_BMP) return fail(TWCC_BADVALUE);
      if (strnlen(setup->FileName, sizeof setup->FileName) == 0) return fail(TWCC_BADVALUE);
      file_name_.assign(setup->FileName, strnlen(setup->FileName, sizeof setup->FileName));
      file_format_ = setup->Format;
      return TWRC_SUCCESS;
    case MSG_RESET:
      file_name_ = "TWAIN.BMP";
      file_format_ = TWFF_BMP;
      copy_string(setup->FileName, sizeof setup->FileName, file_name_.c_str());
      setup->Format = file_format_;
      return TWRC_SUCCESS;
  }
  return fail(TWCC_BADPROTOCOL);
}

}  // namespace qrx::twain

// The one entry point every TWAIN source exports.
extern "C" TW_UINT16 PASCAL DS_Entry(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat,
                                      TW_UINT16 msg, TW_MEMREF data) {
  static qrx::twain::Source* source = new qrx::twain::Source();
  try {
    return source->entry(origin, dg, dat, msg, data);
  } catch (...) {
    return TWRC_FAILURE;
  }
}
