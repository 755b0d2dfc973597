// How the end of a job is told to eSCL clients: the job state and the PWG job
// state reason, from what ended it (the library's status when a call failed).
#pragma once

#include <cstdint>
#include <string>

namespace qrx::escl {

enum class JobEnd { kNone, kCompleted, kCanceledByUser, kClientGone, kBusy, kFailed };

struct JobOutcome {
  const char* state;   // Processing, Completed, Canceled, Aborted
  const char* reason;  // JobScanning, JobCompletedSuccessfully, ...
};

// status: the library's status for kFailed (0x9B13 carriage not home: MediaJam,
// 0x0101 the scanner gone: ServiceOffLine, 0x96nn in use: ResourcesAreNotReady).
JobOutcome outcome_of(JobEnd end, uint16_t status);

}  // namespace qrx::escl
