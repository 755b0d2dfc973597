// Building the ability record and its tagged item stream.
#include "api/ability_record.h"

#include "settings/scanner_model.h"

#include <algorithm>
#include <cstring>

namespace qrx::api {
namespace {

constexpr uint16_t kKindEnd = 0;
constexpr uint16_t kKindValue = 1;
constexpr uint16_t kKindBytes = 2;
constexpr uint16_t kKindBlock = 3;

void copy_name(char* field, size_t size, const char* text) {
  std::memset(field, 0, size);
  std::memcpy(field, text, std::min(std::strlen(text), size - 1));
}

class StreamWriter {
 public:
  explicit StreamWriter(uint8_t* out) : out_(out) {}

  void end() { header(0xFFFF, kKindEnd, 0, 0); }
  void value8(uint16_t tag, uint8_t v) { header(tag, kKindValue, 1, v); }
  void value16(uint16_t tag, uint16_t v) { header(tag, kKindValue, 2, v); }
  void bytes(uint16_t tag, const void* source, uint16_t length) {
    header(tag, kKindBytes, length, 0);
    payload(source, length);
  }
  void block(uint16_t tag, const void* source, uint16_t length) {
    if (source == nullptr) length = 0;
    header(tag, kKindBlock, length, 0);
    payload(source, length);
  }
  void film_holder(uint16_t first_tag, const FilmHolderRecord& holder) {
    block(first_tag, holder.pFrameList, static_cast<uint16_t>(16 * holder.FrameNumber));
    value8(static_cast<uint16_t>(first_tag + 1), holder.FrameNumber);
    value8(static_cast<uint16_t>(first_tag + 2), holder.SizeNumber);
    value16(static_cast<uint16_t>(first_tag + 3), holder.Rotation);
  }
  size_t written() const { return written_; }

 private:
  void put16(uint16_t v) {
    if (out_ != nullptr) {
      out_[written_] = static_cast<uint8_t>(v);
      out_[written_ + 1] = static_cast<uint8_t>(v >> 8);
    }
    written_ += 2;
  }
  void header(uint16_t tag, uint16_t kind, uint16_t length, uint16_t value) {
    put16(tag);
    put16(kind);
    put16(length);
    put16(value);
  }
  void payload(const void* source, uint16_t length) {
    if (out_ != nullptr && length != 0) std::memcpy(out_ + written_, source, length);
    written_ += length;
  }

  uint8_t* out_;
  size_t written_ = 0;
};

}  // namespace

AbilityRecord::AbilityRecord(uint32_t port_type) {
  copy_name(xp_.VendorName, sizeof xp_.VendorName, "QUARN");
  copy_name(xp_.ModelName, sizeof xp_.ModelName, "RV-70413K");
  copy_name(xp_.FirmwareVersion, sizeof xp_.FirmwareVersion, "1.0.1.0");
  copy_name(xp_.SensorName, sizeof xp_.SensorName, "CIS2400");
  xp_.PortType = port_type == 1 ? 1 : 2;
  xp_.SensorType = 1;
  xp_.SupportPortType = 3;
  xp_.SupportMethod = 1;

  support_ = SupportRecord{0, 0, 0, 0, 1, 1, 0, 0, 1};
  xp_.pSupport = &support_;
  xp_.MaxWaitTime_Calibration = 0xFFFF;
  xp_.MaxWaitTime_Warmup = 0xFFFF;

  for (size_t i = 0; i < resolutions_.size(); ++i) {
    resolutions_[i] = {settings::kResolutions[i], settings::kResolutions[i]};
  }
  xp_.MaximumResNumber = static_cast<uint16_t>(resolutions_.size());
  xp_.pResolutionList = resolutions_.data();
  xp_.OpticalResolution = settings::kOpticalResolution;
  xp_.MaximumResolution = resolutions_.back().yRes;
  xp_.ConversionResolution = settings::kConversionResolution;

  const double scale =
      static_cast<double>(xp_.ConversionResolution) / static_cast<double>(xp_.OpticalResolution);
  flatbed_ = AreaRecord{0, 0,
                        static_cast<uint32_t>(settings::kFlatbedWidthPixels * scale),
                        static_cast<uint32_t>(settings::kFlatbedLengthPixels * scale),
                        0, 6, 0, 0, 0x0D, 2, 0, 0};
  xp_.pFlatbed = &flatbed_;
  xp_.pFlatbed_Ex = &flatbed_;
  // No film adapter, no document feeder: the other areas and holders stay empty.
}

size_t AbilityRecord::stream_size() const {
  size_t size = 224 + 4u * xp_.MaximumResNumber + 5 * 8;
  for (const AreaRecord* area :
       {xp_.pFlatbed, xp_.pFlatbed_Ex, xp_.pTPU_RGB, xp_.pTPU_IR, xp_.pADF, xp_.pADF_W}) {
    if (area != nullptr) size += sizeof(AreaRecord);
  }
  for (const FilmHolderRecord* holder : {&xp_.Sleeve135, &xp_.Mount, &xp_.Sleeve120, &xp_.Large}) {
    size += 32 + 16u * (holder->pFrameList != nullptr ? holder->FrameNumber : 0);
  }
  return size + 8;
}

size_t AbilityRecord::write_stream(uint8_t* out) const {
  StreamWriter w(out);
  w.bytes(1, xp_.VendorName, sizeof xp_.VendorName);
  w.bytes(2, xp_.ModelName, sizeof xp_.ModelName);
  w.bytes(3, xp_.FirmwareVersion, sizeof xp_.FirmwareVersion);
  w.bytes(4, xp_.SensorName, sizeof xp_.SensorName);
  w.value8(5, xp_.PortType);
  w.value8(6, xp_.SensorType);
  w.value8(7, xp_.SupportPortType);
  w.value8(8, xp_.SupportMethod);
  w.block(9, xp_.pSupport, sizeof(SupportRecord));
  w.value16(10, xp_.MaxWaitTime_Calibration);
  w.value16(11, xp_.MaxWaitTime_Warmup);
  w.value16(12, xp_.MaximumResNumber);
  w.block(13, xp_.pResolutionList, static_cast<uint16_t>(4 * xp_.MaximumResNumber));
  w.value16(14, xp_.OpticalResolution);
  w.value16(15, xp_.MaximumResolution);
  w.value16(16, xp_.ConversionResolution);
  w.block(17, xp_.pFlatbed, sizeof(AreaRecord));
  w.block(38, xp_.pFlatbed_Ex, sizeof(AreaRecord));
  w.block(18, xp_.pTPU_RGB, sizeof(AreaRecord));
  w.block(19, xp_.pTPU_IR, sizeof(AreaRecord));
  w.block(20, xp_.pADF, sizeof(AreaRecord));
  w.block(21, xp_.pADF_W, sizeof(AreaRecord));
  w.film_holder(22, xp_.Sleeve135);
  w.film_holder(26, xp_.Mount);
  w.film_holder(30, xp_.Sleeve120);
  w.film_holder(34, xp_.Large);
  w.end();
  return w.written();
}

const char* sensor_type_label(uint8_t sensor_type) {
  switch (sensor_type) {
    case 0: return "CCD";
    case 1: return "CIS";
    case 2: return "CCD_WLED1";
    case 3: return "CCD_WLED2";
    default: return "Error";
  }
}

}  // namespace qrx::api
