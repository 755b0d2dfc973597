// What the job tests read from the server: a job's state and reason in the
// status list, the scanner's state, and a job's progress (the web page's own
// endpoint) polled until a condition holds.
#pragma once

#include <pugixml.hpp>

#include <chrono>
#include <string>
#include <thread>
#include <utility>

#include "escl_server.h"

namespace qrx::test {

class EsclJobTest : public EsclServerTest {
 protected:
  // The job's state and reason in the status list now ({"", ""} when absent).
  std::pair<std::string, std::string> job_state(const std::string& job) {
    std::string body;
    if (request("GET", "/eSCL/ScannerStatus", body) != 200) return {};
    pugi::xml_document doc;
    if (!doc.load_string(body.c_str())) return {};
    for (const pugi::xpath_node& info : doc.select_nodes("//*[local-name()='JobInfo']")) {
      std::string uri, state, reason;
      for (pugi::xml_node n : info.node().children()) {
        const std::string name = n.name();
        if (name == "pwg:JobUri") uri = n.child_value();
        if (name == "pwg:JobState") state = n.child_value();
        if (name == "pwg:JobStateReasons") reason = n.first_child().child_value();
      }
      if (uri == job || (job.empty() && !uri.empty())) return {state, reason};
    }
    return {};
  }
  // The job's state and reason once it has ended (the newest job for "").
  std::pair<std::string, std::string> job_end(const std::string& job) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (std::chrono::steady_clock::now() < deadline) {
      const auto state = job_state(job);
      if (!state.first.empty() && state.first != "Processing" && state.first != "Pending") {
        return state;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return {"(still running)", ""};
  }
  // The scanner's state in the status ("Idle", "Processing", "Down").
  std::string scanner_state() {
    std::string body;
    if (request("GET", "/eSCL/ScannerStatus", body) != 200) return "(no status)";
    const size_t at = body.find("<pwg:State>");
    if (at == std::string::npos) return "(no state)";
    return body.substr(at + 11, body.find('<', at + 11) - at - 11);
  }
  // Polls the job's progress until its text contains `what`; false at the bound.
  bool wait_progress(const std::string& job, const std::string& what) {
    const std::string id = job.substr(job.rfind('/') + 1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    std::string body;
    while (std::chrono::steady_clock::now() < deadline) {
      if (request("GET", "/progress/" + id, body) == 200 && body.find(what) != std::string::npos) {
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }
  // Polls until the condition holds or `seconds` pass; true when it held.
  template <typename Condition>
  static bool within(double seconds, Condition condition) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(long(seconds * 1000));
    for (;;) {
      if (condition()) return true;
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  static double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
};

}  // namespace qrx::test
