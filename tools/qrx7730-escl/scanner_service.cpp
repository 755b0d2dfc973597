// The scanner service (see scanner_service.h).
#include "scanner_service.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <thread>

#include "device_hold.h"
#include "scan_window.h"
#include "scanner_uuid.h"

#include "abilities.h"
#include "qrx7730.h"
#include "status_text.h"

namespace qrx::escl {
namespace {

// Jobs kept for the status list once ended.
constexpr size_t kJobsKept = 16;
// How long a cancel waits for the scan to stop and the scanner to be free before
// it answers (clients give DELETE some 30 s): a scan and a calibration under
// way stop at once, the carriage's way home may take longer.
constexpr auto kCancelWait = std::chrono::seconds(10);
constexpr auto kWatchPeriod = std::chrono::milliseconds(250);
// A scanner that could not be opened is tried again no sooner than this: every
// open powers the controller up.
constexpr auto kModelRetry = std::chrono::seconds(10);
// A scanner another program holds is asked for again sooner: asking touches no
// device.
constexpr auto kHeldRetry = std::chrono::seconds(1);
// The carriage's way home from the far end of the glass takes some 11 s.
constexpr auto kCarriagePoll = std::chrono::milliseconds(250);
constexpr int kCarriagePolls = 160;
// How long a request waits for a reading of the scanner under way.
constexpr auto kModelWait = std::chrono::seconds(45);
// How long the server's end waits for a job to let the scanner go.
constexpr auto kShutdownWait = std::chrono::seconds(2);

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

bool ScannerService::read_model(ScannerModel& model, std::string& error, bool& gone,
                                bool& held) {
  gone = held = false;
  const std::unique_ptr<DeviceHold> hold = DeviceHold::try_take(device_);
  if (hold == nullptr) {
    held = true;
    error = "the scanner is in use by another program";
    return false;
  }
  // The carriage may still be on its way home from the last scan (of this
  // server before a restart, or of another program): the scanner takes no open
  // until it is there.
  for (int polls = 0; !FindScannerEx(nullptr, device_.c_str(), QRX7730_USB_PRODUCT_ID); ++polls) {
    uint16_t status = 0;
    GetScannerStatus(nullptr, &status);
    if (status == QRX_E_CARRIAGE_MOVING && polls < kCarriagePolls && !stopping_) {
      std::this_thread::sleep_for(kCarriagePoll);
      continue;
    }
    gone = status == QRX_E_DEVICE_OPEN;
    error = "cannot open the scanner at " + device_ + ": FindScannerEx failed with " +
            qrxscan::describe_status(status);
    return false;
  }
  qrxscan::Abilities abilities;
  const bool read = qrxscan::query_abilities(abilities, error);
  TerminateScanner(nullptr);
  if (!read) return false;
  model.make = abilities.vendor;
  model.model = abilities.model;
  model.resolutions = abilities.resolutions;
  std::sort(model.resolutions.begin(), model.resolutions.end());
  model.optical_dpi = abilities.optical_dpi;
  model.area_unit = abilities.area_unit;
  if (model.area_unit == 0 || model.area_unit % 300 != 0) {
    error = "the ability record's area unit is not a multiple of 1/300 inch";
    return false;
  }
  const uint32_t per_300th = model.area_unit / 300;
  model.max_width = abilities.glass_width / per_300th;
  model.max_height = abilities.glass_length / per_300th;
  // The library takes windows of at least 128 units of 1/9600 inch.
  model.min_extent = (128 * model.area_unit / 9600 + per_300th - 1) / per_300th;
  return true;
}

bool ScannerService::refresh_locked(std::unique_lock<std::mutex>& lock, std::string& error) {
  if (busy_locked()) {
    error = "the scanner is scanning";
    return false;
  }
  if (loading_) {
    error = "the scanner is being read";
    return false;
  }
  const auto now = std::chrono::steady_clock::now();
  if (model_tried_ && now - last_model_try_ < (last_try_held_ ? kHeldRetry : kModelRetry)) {
    error = last_model_error_;
    return false;
  }
  model_tried_ = true;
  loading_ = true;
  lock.unlock();
  ScannerModel model;
  bool gone = false, held = false;
  const bool read = read_model(model, error, gone, held);
  lock.lock();
  loading_ = false;
  last_model_try_ = std::chrono::steady_clock::now();
  last_try_held_ = held;
  const bool first = read && !model_;
  if (read) {
    model_ = model;
    offline_ = false;
  } else {
    last_model_error_ = error;
    if (gone) offline_ = true;
  }
  model_changed_.notify_all();
  if (first && on_model_) {
    const auto callback = on_model_;
    lock.unlock();
    callback(model);
    lock.lock();
  }
  return read;
}

bool ScannerService::load_model(std::string& error) {
  std::unique_lock lock(mutex_);
  if (model_) return true;
  return refresh_locked(lock, error);
}

std::optional<ScannerModel> ScannerService::model() {
  std::unique_lock lock(mutex_);
  if (model_) return model_;
  // A load under way (the carriage on its way home) is waited for.
  model_changed_.wait_for(lock, kModelWait, [&] { return !loading_; });
  if (model_) return model_;
  std::string error;
  refresh_locked(lock, error);
  return model_;
}

bool ScannerService::wait_first_reading(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  model_changed_.wait_for(lock, timeout, [&] { return model_tried_ && !loading_; });
  return model_.has_value();
}

void ScannerService::on_model(std::function<void(const ScannerModel&)> callback) {
  std::lock_guard lock(mutex_);
  on_model_ = std::move(callback);
}

std::string ScannerService::name() {
  std::lock_guard lock(mutex_);
  return name_;
}

void ScannerService::set_name(std::string name) {
  std::lock_guard lock(mutex_);
  name_ = std::move(name);
}

void ScannerService::note_lost_scanner_locked() {
  // The newest job found the scanner gone: it stays Down until it is seen again.
  if (!jobs_.empty() && jobs_.front()->scanner_gone() && jobs_.front()->take_gone_note()) {
    offline_ = true;
    last_model_try_ = std::chrono::steady_clock::now();
    last_try_held_ = false;
  }
}

SettingsVerdict ScannerService::read_settings(std::string_view xml,
                                              std::optional<ScannerModel>& scanner,
                                              ScanSettings& settings) {
  scanner = model();
  if (!scanner) return {503, "the scanner cannot be reached"};
  return parse_scan_settings(xml, *scanner, settings);
}

ScannerService::Created ScannerService::create_job(std::string_view xml) {
  Created created;
  std::optional<ScannerModel> scanner;
  ScanSettings settings;
  const SettingsVerdict verdict = read_settings(xml, scanner, settings);
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
  lock.lock();
  offline_ = false;
  created.job = job;
  return created;
}

ScannerService::Buffer ScannerService::buffer_info(std::string_view xml) {
  Buffer buffer;
  std::optional<ScannerModel> scanner;
  ScanSettings settings;
  const SettingsVerdict verdict = read_settings(xml, scanner, settings);
  if (verdict.http_status != 200) {
    buffer.http_status = verdict.http_status;
    buffer.message = verdict.message;
    return buffer;
  }
  // The window the job would ask the library for, in pixels at the resolution.
  const QRX_Area window = window_for(settings.region, settings.resolution, *scanner);
  const auto pixels = [&](uint32_t units) {
    return static_cast<uint32_t>(uint64_t{units} * settings.resolution / scanner->area_unit);
  };
  buffer.report.settings = settings;
  buffer.report.width = pixels(window.width);
  buffer.report.height = pixels(window.length);
  buffer.report.bytes_per_line =
      buffer.report.width * channels_of(settings.mode) * depth_of(settings.mode) / 8;
  return buffer;
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
  std::unique_lock lock(mutex_);
  if (busy_locked()) return "Processing";
  // The first reading of the scanner under way is waited for.
  if (!model_) {
    model_changed_.wait_for(lock, kModelWait, [&] { return !loading_; });
    std::string error;
    if (!model_) refresh_locked(lock, error);
  }
  note_lost_scanner_locked();
  // The watch tries again, and a job opens it if it is back.
  return model_ && !offline_ ? "Idle" : "Down";
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

void ScannerService::shutdown() {
  stop_watch();
  std::deque<std::shared_ptr<ScanJob>> jobs;
  {
    std::lock_guard lock(mutex_);
    jobs = jobs_;
  }
  // A scan or a calibration under way stops at once; clients waiting for a
  // document are answered.
  for (auto& job : jobs) job->cancel(JobEnd::kClientGone);
  for (auto& job : jobs) job->wait_released(kShutdownWait);
}

void ScannerService::watch() {
  std::unique_lock lock(mutex_);
  bool first = true;
  while (!stopping_) {
    if (!first) stop_changed_.wait_for(lock, kWatchPeriod);
    first = false;
    if (stopping_) break;
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
    // A scanner not read yet, or gone, is looked for again (each try bounded in
    // how often it comes).
    note_lost_scanner_locked();
    if (!model_ || offline_) {
      std::string error;
      refresh_locked(lock, error);
    }
  }
}

}  // namespace qrx::escl
