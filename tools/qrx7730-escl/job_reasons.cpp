// Job states and reasons (see job_reasons.h).
#include "job_reasons.h"

#include "qrx7730.h"

namespace qrx::escl {

JobOutcome outcome_of(JobEnd end, uint16_t status) {
  switch (end) {
    case JobEnd::kNone:
      return {"Processing", "JobScanning"};
    case JobEnd::kCompleted:
      return {"Completed", "JobCompletedSuccessfully"};
    case JobEnd::kCanceledByUser:
      return {"Canceled", "JobCanceledByUser"};
    case JobEnd::kClientGone:
      return {"Aborted", "AbortedBySystem"};
    case JobEnd::kBusy:
      return {"Aborted", "ResourcesAreNotReady"};
    case JobEnd::kFailed:
      break;
  }
  if (status == QRX_E_NOT_HOME || status == QRX_E_MOTOR_TIMEOUT || status == QRX_E_HOME_POSITION) {
    return {"Aborted", "MediaJam"};
  }
  if (status == QRX_E_DEVICE_OPEN) return {"Aborted", "ServiceOffLine"};
  if ((status & 0xFF00) == 0x9600) return {"Aborted", "ResourcesAreNotReady"};
  return {"Aborted", "AbortedBySystem"};
}

}  // namespace qrx::escl
