// The server's request parser: which endpoint a method and path name, with the
// job they concern; which methods a path takes; whether a Host header can be
// used to build the URLs the server hands out. Pure functions, so that the
// fuzz target and the tests run them without a network.
#pragma once

#include <string>
#include <string_view>

namespace qrx::escl {

enum class Endpoint {
  kNotFound,
  kWebPage,        // GET /
  kCapabilities,   // GET /eSCL/ScannerCapabilities
  kStatus,         // GET /eSCL/ScannerStatus
  kScanJobs,       // POST /eSCL/ScanJobs
  kJob,            // DELETE /eSCL/ScanJobs/{id}
  kNextDocument,   // GET /eSCL/ScanJobs/{id}/NextDocument
  kScanImageInfo,  // GET /eSCL/ScanJobs/{id}/ScanImageInfo
  kProgress,       // GET /progress/{id} (the web page's progress bar)
  kIcon,           // GET /icon.png
  kScanBufferInfo, // PUT /eSCL/ScanBufferInfo (what a scan of these settings would be)
};

struct Route {
  Endpoint endpoint = Endpoint::kNotFound;
  std::string job;              // the job's id, for the job endpoints
  bool method_allowed = false;  // false: answer 405 with Allow
  const char* allow = "";       // the methods the path takes
};

// path: the request target without its query (as the HTTP library passes it).
// HEAD is taken wherever GET is.
Route route_request(std::string_view method, std::string_view path);

// A job id as the server makes them: a UUID in lower-case hexadecimal.
bool is_job_id(std::string_view text);

// Whether a Host header value is a plain host name or address with an optional
// port, and so fit to put into a URL.
bool is_plain_host(std::string_view host);

}  // namespace qrx::escl
