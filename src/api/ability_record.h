// The scanner ability record: what the scanner can do (names, features,
// resolutions, scanning areas), built afresh on every request from constants and
// the port type, and flattened for the host into a stream of tagged items.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qrx::api {

struct SupportRecord {
  uint32_t MultiTG, SilentMode, PowerSavingMode, ContinuasScan, ManualCalibration, Diagonastic,
      FrameSelect, CalibrationArea, CarriageLock;
};
static_assert(sizeof(SupportRecord) == 36);

struct ResolutionPair {
  uint16_t xRes, yRes;
};

struct AreaRecord {
  uint32_t x, y, width, length;  // 1/9600 inch
  uint8_t PreviewRes, MaximumRes, MinimumRes, ReadingReference, BitsPerChannel, ColorToGray,
      Rotation, Reserved0;
};
static_assert(sizeof(AreaRecord) == 24);

struct FrameRecord {
  uint32_t x, y, width, length;
};

struct FilmHolderRecord {
  const FrameRecord* pFrameList;
  uint8_t FrameNumber;
  uint8_t SizeNumber;
  uint16_t Rotation;
};

struct ScannerAbilityXp {
  char VendorName[12];
  char ModelName[20];
  char FirmwareVersion[8];
  char SensorName[12];
  uint8_t PortType, SensorType, SupportPortType, SupportMethod;
  const SupportRecord* pSupport;
  uint16_t MaxWaitTime_Calibration, MaxWaitTime_Warmup, MaximumResNumber;
  const ResolutionPair* pResolutionList;
  uint16_t OpticalResolution, MaximumResolution, ConversionResolution;
  const AreaRecord* pFlatbed;
  const AreaRecord* pFlatbed_Ex;
  const AreaRecord* pTPU_RGB;
  const AreaRecord* pTPU_IR;
  const AreaRecord* pADF;
  const AreaRecord* pADF_W;
  FilmHolderRecord Sleeve135, Mount, Sleeve120, Large;
};

// The record together with the blocks it points to. Not copyable: the pointers
// refer into the object itself.
class AbilityRecord {
 public:
  // port_type 1 reports PortType 1, anything else 2.
  explicit AbilityRecord(uint32_t port_type);
  AbilityRecord(const AbilityRecord&) = delete;
  AbilityRecord& operator=(const AbilityRecord&) = delete;

  const ScannerAbilityXp& xp() const { return xp_; }

  // Bytes of the serialised stream.
  size_t stream_size() const;
  // Writes the stream (stream_size() bytes) to out; returns the bytes written.
  size_t write_stream(uint8_t* out) const;

 private:
  ScannerAbilityXp xp_{};
  SupportRecord support_{};
  std::array<ResolutionPair, 7> resolutions_{};
  AreaRecord flatbed_{};
};

// Label of a SensorType value ("CCD", "CIS", "CCD_WLED1", "CCD_WLED2", else "Error").
const char* sensor_type_label(uint8_t sensor_type);

}  // namespace qrx::api
