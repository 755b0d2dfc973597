// The scanner service (see scanner_service.h).
#include "scanner_service.h"

#include <algorithm>
#include <cstdio>
#include <random>

#include "device_hold.h"
#include "scanner_uuid.h"

#include "abilities.h"
#include "qrx7730.h"
#include "status_text.h"

namespace qrx::escl {
namespace {

// Jobs kept for the status list once ended.
constexpr size_t kJobsKept = 16;
// How long a cancel waits for the scan to stop and the scanner to be free before
// it answers (clients give DELETE some 30 s): a scan stops at once, a
// calibration under way only at its end.
constexpr auto kCancelWait = std::chrono::seconds(10);
constexpr auto kWatchPeriod = std::chrono::milliseconds(250);
// A scanner that could not be opened is tried again no sooner than this: every
// open powers the controller up.
constexpr auto kModelRetry = std::chrono::seconds(10);

std::string format_uuid(const uint8_t bytes[16]) {
  char text[37];
  std::snprintf(text, sizeof text,
                "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", bytes[0],
                bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
  return text;
}

}  // namespace

std::string random_uuid() {
  std::random_device source;
  uint8_t bytes[16];
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(source());
  bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);
  bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);
  return format_uuid(bytes);
}

ScannerService::ScannerService(std::string device, const JobTiming& timing)
    : device_(std::move(device)), timing_(timing), uuid_(scanner_uuid(machine_id(), device_)) {}

ScannerService::~ScannerService() {
  stop_watch();
  std::deque<std::shared_ptr<ScanJob>> jobs;
  {
    std::lock_guard lock(mutex_);
    jobs.swap(jobs_);
  }
  for (auto& job : jobs) job->cancel(JobEnd::kClientGone);
}

bool ScannerService::busy_locked() const {
  for (const auto& job : jobs_) {
    if (!job->released()) return true;
    // A finished document nobody has fetched yet keeps its job active.
    if (job->end() == JobEnd::kCompleted && !job->delivered()) return true;
  }
  return false;
}

bool ScannerService::load_model(std::string& error) {
  std::lock_guard lock(mutex_);
  if (model_) return true;
  if (busy_locked()) {
    error = "the scanner is scanning";
    return false;
  }
  const auto now = std::chrono::steady_clock::now();
  if (model_tried_ && now - last_model_try_ < kModelRetry) {
    error = last_model_error_;
    return false;
  }
  model_tried_ = true;
  last_model_try_ = now;
  last_model_error_ = error = "the scanner is in use by another program";
  const std::unique_ptr<DeviceHold> hold = DeviceHold::try_take(device_);
  if (hold == nullptr) return false;
  if (!FindScannerEx(nullptr, device_.c_str(), QRX7730_USB_PRODUCT_ID)) {
    uint16_t status = 0;
    GetScannerStatus(nullptr, &status);
    last_model_error_ = error = "cannot open the scanner at " + device_ +
                                ": FindScannerEx failed with " + qrxscan::describe_status(status);
    return false;
  }
  qrxscan::Abilities abilities;
  const bool read = qrxscan::query_abilities(abilities, error);
  TerminateScanner(nullptr);
  if (!read) {
    last_model_error_ = error;
    return false;
  }
  ScannerModel model;
  model.make = abilities.vendor;
  model.model = abilities.model;
  model.resolutions = abilities.resolutions;
  std::sort(model.resolutions.begin(), model.resolutions.end());
  model.optical_dpi = abilities.optical_dpi;
  model.area_unit = abilities.area_unit;
  if (model.area_unit % 300 != 0) {
    error = "the ability record's area unit is not a multiple of 1/300 inch";
    return false;
  }
  const uint32_t per_300th = model.area_unit / 300;
  model.max_width = abilities.glass_width / per_300th;
  model.max_height = abilities.glass_length / per_300th;
  // The library takes windows of at least 128 units of 1/9600 inch.
  model.min_extent = (128 * model.area_unit / 9600 + per_300th - 1) / per_300th;
  model_ = model;
  return true;
}

std::optional<ScannerModel> ScannerService::model() {
  std::string error;
  if (!load_model(error)) return std::nullopt;
  std::lock_guard lock(mutex_);
  return model_;
}

ScannerService::Created ScannerService::create_job(std::string_view xml) {
  Created created;
  const std::optional<ScannerModel> scanner = model();
  if (!scanner) {
    created.http_status = 503;
    created.message = "the scanner cannot be reached";
    return created;
  }
  ScanSettings settings;
  const SettingsVerdict verdict = parse_scan_settings(xml, *scanner, settings);
  if (verdict.http_status != 200) {
    created.http_status = verdict.http_status;
    created.message = verdict.message;
    return created;
  }
  std::unique_lock lock(mutex_);
  if (busy_locked()) {
    created.http_status = 503;
    created.message = "the scanner is busy with another job";
    return created;
  }
  auto job = std::make_shared<ScanJob>(random_uuid(), settings, *scanner, device_, timing_);
  if (!job->start()) {
    created.http_status = 503;
    created.message = "no thread for the job";
    return created;
  }
  jobs_.push_front(job);
  while (jobs_.size() > kJobsKept && jobs_.back()->released()) jobs_.pop_back();
  lock.unlock();
  // Only a job that has the scanner is announced; one that found it busy is
  // refused as another client's would be.
  if (!job->wait_opened()) {
    lock.lock();
    if (job->end() == JobEnd::kBusy) {
      created.http_status = 503;
      created.message = "the scanner is in use by another program";
      if (job->failure_status() != 0) {
        created.message += " (" + qrxscan::describe_status(job->failure_status()) + ")";
      }
    } else {
      created.http_status = 503;
      created.message =
          "the scanner cannot be opened: " + qrxscan::describe_status(job->failure_status());
    }
    return created;
  }
  created.job = job;
  return created;
}

std::shared_ptr<ScanJob> ScannerService::find(const std::string& id) {
  std::lock_guard lock(mutex_);
  for (const auto& job : jobs_) {
    if (job->id() == id) return job;
  }
  return nullptr;
}

bool ScannerService::cancel(const std::string& id) {
  const std::shared_ptr<ScanJob> job = find(id);
  if (job == nullptr) return false;
  job->cancel(JobEnd::kCanceledByUser);
  job->wait_released(kCancelWait);
  return true;
}

std::string ScannerService::state() {
  {
    std::lock_guard lock(mutex_);
    if (busy_locked()) return "Processing";
    if (model_) return "Idle";
  }
  std::string error;
  return load_model(error) ? "Idle" : "Down";
}

std::vector<JobReport> ScannerService::job_reports() {
  std::lock_guard lock(mutex_);
  std::vector<JobReport> reports;
  const auto now = ScanJob::Clock::now();
  for (const auto& job : jobs_) {
    JobReport report;
    report.id = job->id();
    const JobOutcome outcome = job->outcome();
    report.state = outcome.state;
    report.reason = outcome.reason;
    if (job->end() == JobEnd::kNone && job->phase() == ScanJob::Phase::kOpening) {
      report.state = "Pending";
    }
    report.age = static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::seconds>(now - job->created()).count());
    report.images_completed = job->delivered() ? 1 : 0;
    report.images_to_transfer =
        job->delivered() || (job->end() != JobEnd::kNone && job->end() != JobEnd::kCompleted) ? 0
                                                                                              : 1;
    reports.push_back(report);
  }
  return reports;
}

void ScannerService::start_watch() {
  watch_thread_ = std::thread(&ScannerService::watch, this);
}

void ScannerService::stop_watch() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    stop_changed_.notify_all();
  }
  if (watch_thread_.joinable()) watch_thread_.join();
}

void ScannerService::watch() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    stop_changed_.wait_for(lock, kWatchPeriod);
    const auto now = ScanJob::Clock::now();
    for (const auto& job : jobs_) {
      // A job being streamed is watched by its stream; a document nobody came
      // for, or a scan nobody asks about, is given up after the bound.
      const bool waiting =
          !job->delivered() && (job->end() == JobEnd::kNone || job->end() == JobEnd::kCompleted);
      if (waiting && !job->streaming() && now - job->last_contact() > timing_.client_gone) {
        job->cancel(JobEnd::kClientGone);
      }
    }
  }
}

}  // namespace qrx::escl
