// The scanner behind the eSCL endpoints: what it offers (read from its ability
// record once it can be opened, in the background), its jobs (one at a time; the
// last few kept for the status list), whether it is there at all, and the watch
// that cancels a job whose client has gone.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
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
  // While the carriage is still on its way home the open is tried again until
  // it is.
  bool load_model(std::string& error);
  // The model, loading it first when that has not happened yet (waiting for a
  // load under way).
  std::optional<ScannerModel> model();
  // Waits up to timeout for the first reading of the scanner to end; true when
  // the model is known.
  bool wait_first_reading(std::chrono::milliseconds timeout);
  // Called once the model is first read (on the thread that read it).
  void on_model(std::function<void(const ScannerModel&)> callback);
  // The name people see the scanner by (the web page's title).
  std::string name();
  void set_name(std::string name);
  // The scanner's UUID on this machine, the same at every start of the server.
  const std::string& uuid() const { return uuid_; }
  const std::string& device() const { return device_; }

  struct Created {
    int http_status = 201;  // 201, 400, 409, 503
    std::string message;
    std::shared_ptr<ScanJob> job;
  };
  Created create_job(std::string_view scan_settings_xml);
  // What a scan of the settings would deliver, without scanning: 200 with the
  // report, or 400, 409, 503 as a job would be refused.
  struct Buffer {
    int http_status = 200;
    std::string message;
    BufferReport report;
  };
  Buffer buffer_info(std::string_view scan_settings_xml);
  std::shared_ptr<ScanJob> find(const std::string& id);
  // Cancels the job and waits (bounded) until the scanner is free again. False
  // when no such job is known.
  bool cancel(const std::string& id);

  // "Idle", "Processing" or "Down" (not there, or not read yet), and the job
  // list.
  std::string state();
  std::vector<JobReport> job_reports();

  // Starts and stops the watch over vanished clients, which also reads the model
  // once the scanner can be opened and looks again for a scanner that is gone.
  void start_watch();
  void stop_watch();
  // For the server's end: stops the watch and ends every job, waiting (bounded)
  // until the scanner is let go.
  void shutdown();

 private:
  bool busy_locked() const;
  bool read_model(ScannerModel& model, std::string& error, bool& gone, bool& held);
  bool refresh_locked(std::unique_lock<std::mutex>& lock, std::string& error);
  void note_lost_scanner_locked();
  // The scanner's model and the ScanSettings read against it: 200, or 503 when
  // the model cannot be had, or the settings' refusal.
  SettingsVerdict read_settings(std::string_view xml, std::optional<ScannerModel>& scanner,
                                ScanSettings& settings);
  void watch();

  const std::string device_;
  const JobTiming timing_;
  std::string uuid_;
  std::mutex mutex_;
  std::optional<ScannerModel> model_;
  bool model_tried_ = false;
  bool loading_ = false;
  // The scanner could not be opened at all (unplugged, powered off) when last
  // tried: the status says Down until it can be.
  bool offline_ = false;
  // The last try found the hold taken (no device was touched): soon again.
  bool last_try_held_ = false;
  std::chrono::steady_clock::time_point last_model_try_;
  std::string last_model_error_;
  std::condition_variable model_changed_;
  std::function<void(const ScannerModel&)> on_model_;
  std::string name_;
  std::deque<std::shared_ptr<ScanJob>> jobs_;  // newest first
  std::thread watch_thread_;
  std::condition_variable stop_changed_;
  std::atomic<bool> stopping_{false};
};

// A random UUID (version 4) in its usual text form.
std::string random_uuid();

}  // namespace qrx::escl
