// The request parser (see routes.h).
#include "routes.h"

namespace qrx::escl {
namespace {

constexpr std::string_view kJobsPath = "/eSCL/ScanJobs";

bool is_get(std::string_view method) {
  return method == "GET" || method == "HEAD";
}

Route make(Endpoint endpoint, bool allowed, const char* allow, std::string job = {}) {
  Route route;
  route.endpoint = endpoint;
  route.method_allowed = allowed;
  route.allow = allow;
  route.job = std::move(job);
  return route;
}

}  // namespace

bool is_job_id(std::string_view text) {
  if (text.size() != 36) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (c != '-') return false;
    } else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
      return false;
    }
  }
  return true;
}

bool is_plain_host(std::string_view host) {
  if (host.empty() || host.size() > 255) return false;
  for (char c : host) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '-' || c == ':' || c == '[' || c == ']';
    if (!plain) return false;
  }
  return true;
}

Route route_request(std::string_view method, std::string_view path) {
  if (path == "/" || path == "/index.html")
    return make(Endpoint::kWebPage, is_get(method), "GET, HEAD");
  if (path == "/eSCL/ScannerCapabilities") {
    return make(Endpoint::kCapabilities, is_get(method), "GET, HEAD");
  }
  if (path == "/icon.png") return make(Endpoint::kIcon, is_get(method), "GET, HEAD");
  if (path == "/eSCL/ScannerStatus") return make(Endpoint::kStatus, is_get(method), "GET, HEAD");
  if (path == kJobsPath) return make(Endpoint::kScanJobs, method == "POST", "POST");
  if (path == "/eSCL/ScanBufferInfo") {
    return make(Endpoint::kScanBufferInfo, method == "PUT", "PUT");
  }
  constexpr std::string_view kProgressPath = "/progress/";
  if (path.substr(0, kProgressPath.size()) == kProgressPath) {
    const std::string_view job = path.substr(kProgressPath.size());
    if (!is_job_id(job)) return {};
    return make(Endpoint::kProgress, is_get(method), "GET, HEAD", std::string(job));
  }
  if (path.size() <= kJobsPath.size() + 1 || path.substr(0, kJobsPath.size()) != kJobsPath ||
      path[kJobsPath.size()] != '/') {
    return {};
  }
  std::string_view rest = path.substr(kJobsPath.size() + 1);
  const size_t slash = rest.find('/');
  const std::string_view job = rest.substr(0, slash);
  if (!is_job_id(job)) return {};
  if (slash == std::string_view::npos) {
    return make(Endpoint::kJob, method == "DELETE", "DELETE", std::string(job));
  }
  const std::string_view what = rest.substr(slash + 1);
  if (what == "NextDocument") {
    return make(Endpoint::kNextDocument, method == "GET", "GET", std::string(job));
  }
  if (what == "ScanImageInfo") {
    return make(Endpoint::kScanImageInfo, is_get(method), "GET, HEAD", std::string(job));
  }
  return {};
}

}  // namespace qrx::escl
