// The scanner behind the eSCL endpoints: what it offers (read once from its
// ability record), its jobs (one at a time; the last few kept for the status
// list) and the watch that cancels a job whose client has gone.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "escl_documents.h"
#include "scan_job.h"
#include "scan_settings.h"

namespace qrx::escl {

class ScannerService {
 public:
  ScannerService(std::string device, const JobTiming& timing);
  ~ScannerService();
  ScannerService(const ScannerService&) = delete;
  ScannerService& operator=(const ScannerService&) = delete;

  // Opens the scanner once to read what it offers. False with a message when it
  // cannot be opened now (the server then says Down and tries again later).
  bool load_model(std::string& error);
  // The model, loading it first when that has not happened yet.
  std::optional<ScannerModel> model();
  // The scanner's UUID on this machine, the same at every start of the server.
  const std::string& uuid() const { return uuid_; }
  const std::string& device() const { return device_; }

  struct Created {
    int http_status = 201;  // 201, 400, 409, 503
    std::string message;
    std::shared_ptr<ScanJob> job;
  };
  Created create_job(std::string_view scan_settings_xml);
  std::shared_ptr<ScanJob> find(const std::string& id);
  // Cancels the job and waits (bounded) until the scanner is free again. False
  // when no such job is known.
  bool cancel(const std::string& id);

  // "Idle", "Processing" or "Down", and the job list.
  std::string state();
  std::vector<JobReport> job_reports();

  // Starts and stops the watch over vanished clients.
  void start_watch();
  void stop_watch();

 private:
  bool busy_locked() const;
  void watch();

  const std::string device_;
  const JobTiming timing_;
  std::string uuid_;
  std::mutex mutex_;
  std::optional<ScannerModel> model_;
  bool model_tried_ = false;
  std::chrono::steady_clock::time_point last_model_try_;
  std::string last_model_error_;
  std::deque<std::shared_ptr<ScanJob>> jobs_;  // newest first
  std::thread watch_thread_;
  std::condition_variable stop_changed_;
  bool stopping_ = false;
};

// A random UUID (version 4) in its usual text form.
std::string random_uuid();

}  // namespace qrx::escl
