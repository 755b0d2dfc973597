// The HTTP server (see http_server.h).
#include "http_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "escl_documents.h"
#include "routes.h"
#include "web_page.h"

namespace qrx::escl {

struct HttpServer::Request {
  Route route;
  std::string body;
  bool refused = false;  // answered before the body was read
  bool too_large = false;
};

namespace {

constexpr const char* kServerName = "qrx7730-escl/" QRX7730_VERSION_STRING;
constexpr auto kStreamPoll = std::chrono::milliseconds(500);
// TLS 1.2 and 1.3 only, with forward-secret key exchanges (ECDHE, DHE) and
// authenticated ciphers (GCM, ChaCha20-Poly1305): no plain RSA key exchange, no CBC.
constexpr const char* kTlsPriorities =
    "SECURE128:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2:-RSA:-CIPHER-ALL:+AES-256-GCM:+AES-128-GCM:"
    "+CHACHA20-POLY1305:%SERVER_PRECEDENCE";

// One document being sent: the job it comes from and whether it was sent whole.
struct Stream {
  std::shared_ptr<ScanJob> job;
  bool ended = false;
};

ssize_t read_document(void* cls, uint64_t, char* buffer, size_t max) {
  auto* stream = static_cast<Stream*>(cls);
  for (;;) {
    size_t got = 0;
    switch (stream->job->pipe().read(reinterpret_cast<uint8_t*>(buffer), max, got, kStreamPoll)) {
      case BytePipe::Read::kData:
        stream->job->touch();
        return static_cast<ssize_t>(got);
      case BytePipe::Read::kEnd:
        stream->ended = true;
        stream->job->mark_delivered();
        return MHD_CONTENT_READER_END_OF_STREAM;
      case BytePipe::Read::kFailed:
        // The scan failed or was cancelled: the client sees the document end
        // short of its length (the chunked body is not completed).
        return MHD_CONTENT_READER_END_WITH_ERROR;
      case BytePipe::Read::kTimeout:
        break;  // the scanner is still reading
    }
  }
}

void free_stream(void* cls) {
  auto* stream = static_cast<Stream*>(cls);
  // A client that went away in the middle of the document will not come back
  // for the rest of it: the scan stops and the scanner is freed.
  if (!stream->ended) stream->job->cancel(JobEnd::kClientGone);
  stream->job->release_stream();
  delete stream;
}

MHD_Result queue(MHD_Connection* connection, unsigned status, const std::string& body,
                 const char* type, const char* extra_header = nullptr,
                 const char* extra_value = nullptr) {
  MHD_Response* response = MHD_create_response_from_buffer(
      body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
  MHD_add_response_header(response, MHD_HTTP_HEADER_SERVER, kServerName);
  MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache");
  if (extra_header != nullptr) MHD_add_response_header(response, extra_header, extra_value);
  const MHD_Result result = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return result;
}

MHD_Result queue_text(MHD_Connection* connection, unsigned status, const std::string& text,
                      const char* extra_header = nullptr, const char* extra_value = nullptr) {
  return queue(connection, status, text + "\n", "text/plain; charset=utf-8", extra_header,
               extra_value);
}

MHD_Result queue_xml(MHD_Connection* connection, const std::string& xml) {
  return queue(connection, MHD_HTTP_OK, xml, "text/xml");
}

MHD_Result access_handler(void* cls, MHD_Connection* connection, const char* url,
                          const char* method, const char*, const char* upload_data,
                          size_t* upload_data_size, void** state) {
  return static_cast<MHD_Result>(static_cast<HttpServer*>(cls)->handle(
      connection, url, method, upload_data, upload_data_size, state));
}

void request_completed(void* cls, MHD_Connection* connection, void** state,
                       MHD_RequestTerminationCode how) {
  HttpServer::completed(cls, connection, state, static_cast<int>(how));
}

void connection_notified(void* cls, MHD_Connection* connection, void**,
                         MHD_ConnectionNotificationCode what) {
  static_cast<HttpServer*>(cls)->connection_event(connection, static_cast<int>(what));
}

MHD_Result accept_policy(void* cls, const sockaddr* address, socklen_t) {
  return static_cast<HttpServer*>(cls)->accepts(address) ? MHD_YES : MHD_NO;
}

void log_message(void* cls, const char* format, va_list args) {
  if (!*static_cast<const bool*>(cls)) return;
  std::fputs("qrx7730-escl: ", stderr);
  std::vfprintf(stderr, format, args);
}

}  // namespace

HttpServer::HttpServer(ScannerService& service, HttpOptions options)
    : service_(service),
      options_(std::move(options)),
      header_deadline_(std::chrono::seconds(options_.header_timeout_s)),
      icon_(icon_png()) {}

HttpServer::~HttpServer() {
  stop();
}

bool HttpServer::start(std::string& error) {
  in_addr v4{};
  in6_addr v6{};
  const bool is_v4 = inet_pton(AF_INET, options_.listen.c_str(), &v4) == 1;
  const bool is_v6 = !is_v4 && inet_pton(AF_INET6, options_.listen.c_str(), &v6) == 1;
  if (!is_v4 && !is_v6) {
    error = "--listen wants an IPv4 or IPv6 address, not '" + options_.listen + "'";
    return false;
  }
  for (const std::string& name : options_.host_names) host_names_.add(name);
  const bool any =
      (is_v4 && v4.s_addr == htonl(INADDR_ANY)) || (is_v6 && IN6_IS_ADDR_UNSPECIFIED(&v6));
  if (any && start_on("::", true, error)) {
    // One socket takes both families (IPv4 clients as ::ffff:a.b.c.d).
    serves_ipv4_ = serves_ipv6_ = true;
  } else if (any && is_v4 && start_on("0.0.0.0", false, error)) {
    serves_ipv4_ = true;  // a machine without IPv6
  } else if (!any && start_on(options_.listen, false, error)) {
    serves_ipv4_ = is_v4;
    serves_ipv6_ = is_v6;
  } else {
    return false;
  }
  header_deadline_.start();
  return true;
}

bool HttpServer::start_on(const std::string& listen, bool dual_stack, std::string& error) {
  sockaddr_storage address{};
  auto* v4_address = reinterpret_cast<sockaddr_in*>(&address);
  auto* v6_address = reinterpret_cast<sockaddr_in6*>(&address);
  bool v6 = false;
  if (inet_pton(AF_INET, listen.c_str(), &v4_address->sin_addr) == 1) {
    v4_address->sin_family = AF_INET;
    v4_address->sin_port = htons(options_.port);
  } else {
    inet_pton(AF_INET6, listen.c_str(), &v6_address->sin6_addr);
    v6_address->sin6_family = AF_INET6;
    v6_address->sin6_port = htons(options_.port);
    v6 = true;
  }
  unsigned flags =
      MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_ERROR_LOG;
  if (v6) flags |= dual_stack ? MHD_USE_DUAL_STACK : MHD_USE_IPv6;
  if (tls()) flags |= MHD_USE_TLS;
  std::vector<MHD_OptionItem> items = {
      // The logger first: the library complains of options given before it.
      {MHD_OPTION_EXTERNAL_LOGGER, reinterpret_cast<intptr_t>(&log_message), &options_.verbose},
      {MHD_OPTION_SOCK_ADDR, 0, &address},
      {MHD_OPTION_CONNECTION_TIMEOUT, options_.client_timeout_s, nullptr},
      {MHD_OPTION_CONNECTION_LIMIT, options_.connection_limit, nullptr},
      // Counted only for clients the allow-list lets in: the others are turned
      // away as they are accepted, before they take a slot.
      {MHD_OPTION_PER_IP_CONNECTION_LIMIT, options_.per_ip_limit, nullptr},
      // Request line and headers together; longer ones are answered 414 or 431.
      {MHD_OPTION_CONNECTION_MEMORY_LIMIT, 64 * 1024, nullptr},
      {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&request_completed), this},
      {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&connection_notified), this},
  };
  if (tls()) {
    items.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(options_.key_pem.c_str())});
    items.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(options_.cert_pem.c_str())});
    items.push_back({MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char*>(kTlsPriorities)});
  }
  items.push_back({MHD_OPTION_END, 0, nullptr});
  daemon_ = MHD_start_daemon(flags, options_.port, &accept_policy, this, &access_handler, this,
                             MHD_OPTION_ARRAY, items.data(), MHD_OPTION_END);
  if (daemon_ == nullptr) {
    error = "cannot listen on " + options_.listen + " port " + std::to_string(options_.port) +
            (tls() ? " with TLS (is the key the certificate's?)" : "");
    return false;
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
  port_ = info != nullptr ? info->port : options_.port;
  return true;
}

void HttpServer::stop() {
  if (daemon_ != nullptr) {
    MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
  }
  header_deadline_.stop();
}

std::string HttpServer::base_url() const {
  const bool v6 = options_.listen.find(':') != std::string::npos;
  return std::string(tls() ? "https" : "http") + "://" + (v6 ? "[" : "") + options_.listen +
         (v6 ? "]" : "") + ":" + std::to_string(port_);
}

std::string HttpServer::url_for(MHD_Connection* connection, const std::string& path) const {
  const char* host = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST);
  if (host != nullptr && is_plain_host(host)) {
    return std::string(tls() ? "https" : "http") + "://" + host + path;
  }
  return base_url() + path;
}

void HttpServer::completed(void* cls, MHD_Connection* connection, void** state, int) {
  delete static_cast<Request*>(*state);
  *state = nullptr;
  static_cast<HttpServer*>(cls)->header_deadline_.request_done(connection);
}

void HttpServer::connection_event(MHD_Connection* connection, int what) {
  if (what == MHD_CONNECTION_NOTIFY_STARTED) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (info != nullptr) header_deadline_.opened(connection, info->connect_fd);
  } else {
    header_deadline_.closed(connection);
  }
}

bool HttpServer::refuse_foreign(MHD_Connection* connection, const char* method, int& result) {
  const char* host = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST);
  // HTTP/1.0 clients may leave Host out; browsers, the only ones a foreign page
  // can drive, always send it.
  if (host != nullptr && !host_names_.allows(host)) {
    result = queue_text(connection, MHD_HTTP_FORBIDDEN,
                        "this server does not answer to the name '" + host_of(host) + "'");
    return true;
  }
  const char* origin = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Origin");
  if (origin != nullptr && changes_state(method) &&
      !same_origin(origin, host != nullptr ? host : "", tls())) {
    result = queue_text(connection, MHD_HTTP_FORBIDDEN, "requests from other sites are not taken");
    return true;
  }
  return false;
}

int HttpServer::handle(MHD_Connection* connection, const char* url, const char* method,
                       const char* upload_data, size_t* upload_data_size, void** state) {
  if (*state == nullptr) {
    auto* request = new Request;
    *state = request;
    header_deadline_.header_read(connection);
    const MHD_ConnectionInfo* client =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (client == nullptr || !options_.allow.allows(client->client_addr)) {
      request->refused = true;
      return queue_text(connection, MHD_HTTP_FORBIDDEN, "this scanner does not serve your address");
    }
    if (int result = MHD_NO; refuse_foreign(connection, method, result)) {
      request->refused = true;
      return result;
    }
    request->route = route_request(method, url);
    if (request->route.endpoint == Endpoint::kNotFound) {
      request->refused = true;
      return queue_text(connection, MHD_HTTP_NOT_FOUND, "no such page");
    }
    if (!request->route.method_allowed) {
      request->refused = true;
      return queue_text(connection, MHD_HTTP_METHOD_NOT_ALLOWED,
                        std::string(method) + " is not taken here", MHD_HTTP_HEADER_ALLOW,
                        request->route.allow);
    }
    const char* length =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
    if (length != nullptr && std::strtoull(length, nullptr, 10) > options_.max_body) {
      request->refused = true;
      return queue_text(connection, MHD_HTTP_CONTENT_TOO_LARGE, "the request body is too large");
    }
    return MHD_YES;
  }
  auto* request = static_cast<Request*>(*state);
  if (*upload_data_size != 0) {
    // The body arrives in pieces; past the bound it is read and dropped.
    if (!request->too_large) {
      if (request->body.size() + *upload_data_size > options_.max_body) {
        request->too_large = true;
        request->body.clear();
      } else {
        request->body.append(upload_data, *upload_data_size);
      }
    }
    *upload_data_size = 0;
    return MHD_YES;
  }
  if (request->refused) return MHD_YES;
  if (request->too_large) {
    return queue_text(connection, MHD_HTTP_CONTENT_TOO_LARGE, "the request body is too large");
  }
  return answer(connection, *request);
}

int HttpServer::answer(MHD_Connection* connection, Request& request) {
  switch (request.route.endpoint) {
    case Endpoint::kWebPage:
      return queue(connection, MHD_HTTP_OK, web_page(service_.name()), "text/html; charset=utf-8");
    case Endpoint::kIcon:
      return queue(connection, MHD_HTTP_OK, icon_, "image/png");
    case Endpoint::kCapabilities: {
      const std::optional<ScannerModel> model = service_.model();
      if (!model) {
        return queue_text(connection, MHD_HTTP_SERVICE_UNAVAILABLE, "the scanner cannot be reached",
                          MHD_HTTP_HEADER_RETRY_AFTER, "10");
      }
      return queue_xml(connection,
                       capabilities_xml(*model, service_.uuid(), url_for(connection, "/"),
                                        url_for(connection, "/icon.png")));
    }
    case Endpoint::kStatus:
      return queue_xml(connection, status_xml(service_.state(), service_.job_reports()));
    case Endpoint::kScanJobs: {
      const ScannerService::Created created = service_.create_job(request.body);
      if (created.job == nullptr) {
        if (created.http_status == MHD_HTTP_SERVICE_UNAVAILABLE) {
          return queue_text(connection, created.http_status, created.message,
                            MHD_HTTP_HEADER_RETRY_AFTER, "5");
        }
        return queue_text(connection, created.http_status, created.message);
      }
      const std::string location = url_for(connection, "/eSCL/ScanJobs/" + created.job->id());
      return queue(connection, MHD_HTTP_CREATED, "", "text/plain", MHD_HTTP_HEADER_LOCATION,
                   location.c_str());
    }
    case Endpoint::kScanBufferInfo: {
      const ScannerService::Buffer buffer = service_.buffer_info(request.body);
      if (buffer.http_status != MHD_HTTP_OK) {
        return queue_text(connection, buffer.http_status, buffer.message);
      }
      return queue_xml(connection, buffer_info_xml(buffer.report));
    }
    case Endpoint::kJob:
      if (!service_.cancel(request.route.job)) {
        return queue_text(connection, MHD_HTTP_NOT_FOUND, "no such job");
      }
      return queue_text(connection, MHD_HTTP_OK, "cancelled");
    case Endpoint::kNextDocument:
      return next_document(connection, request);
    case Endpoint::kScanImageInfo: {
      const std::shared_ptr<ScanJob> job = service_.find(request.route.job);
      if (job == nullptr) return queue_text(connection, MHD_HTTP_NOT_FOUND, "no such job");
      ImageReport image;
      image.id = job->id();
      image.width = job->width();
      image.height = job->height();
      image.bytes_per_line = job->line_bytes();
      image.images_completed = job->delivered() ? 1 : 0;
      return queue_xml(connection, image_info_xml(image));
    }
    case Endpoint::kProgress: {
      const std::shared_ptr<ScanJob> job = service_.find(request.route.job);
      if (job == nullptr) return queue_text(connection, MHD_HTTP_NOT_FOUND, "no such job");
      char json[256];
      const JobOutcome outcome = job->outcome();
      std::snprintf(json, sizeof json,
                    "{\"state\":\"%s\",\"reason\":\"%s\",\"phase\":%d,\"lines\":%u,"
                    "\"height\":%u,\"width\":%u}",
                    outcome.state, outcome.reason, static_cast<int>(job->phase()),
                    job->lines_read(), job->height(), job->width());
      return queue(connection, MHD_HTTP_OK, json, "application/json");
    }
    case Endpoint::kNotFound:
      break;
  }
  return queue_text(connection, MHD_HTTP_NOT_FOUND, "no such page");
}

int HttpServer::next_document(MHD_Connection* connection, Request& request) {
  const std::shared_ptr<ScanJob> job = service_.find(request.route.job);
  if (job == nullptr) return queue_text(connection, MHD_HTTP_NOT_FOUND, "no such job");
  job->touch();
  // While the scanner opens, warms up and calibrates (minutes for a first scan),
  // the request is held for a while; then the client is told to ask again.
  job->wait_for_image(options_.document_wait);
  job->touch();
  const JobEnd end = job->end();
  if (job->delivered() || end == JobEnd::kCanceledByUser || end == JobEnd::kClientGone) {
    return queue_text(connection, MHD_HTTP_NOT_FOUND, "no more documents");
  }
  if (end != JobEnd::kNone && end != JobEnd::kCompleted) {
    const JobOutcome outcome = job->outcome();
    if (end == JobEnd::kBusy) {
      return queue_text(connection, MHD_HTTP_SERVICE_UNAVAILABLE, outcome.reason);
    }
    return queue_text(connection, MHD_HTTP_INTERNAL_SERVER_ERROR,
                      std::string("the scan failed: ") + outcome.reason);
  }
  if (end == JobEnd::kNone && job->phase() != ScanJob::Phase::kScanning) {
    return queue_text(connection, MHD_HTTP_SERVICE_UNAVAILABLE, "the scanner is getting ready",
                      MHD_HTTP_HEADER_RETRY_AFTER, "2");
  }
  if (!job->claim_stream()) {
    return queue_text(connection, MHD_HTTP_SERVICE_UNAVAILABLE,
                      "the document is being sent to another request", MHD_HTTP_HEADER_RETRY_AFTER,
                      "2");
  }
  auto* stream = new Stream{job};
  MHD_Response* response = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 64 * 1024,
                                                             &read_document, stream, &free_stream);
  if (response == nullptr) {
    job->release_stream();
    delete stream;
    return MHD_NO;
  }
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE,
                          mime_type(job->settings().format));
  MHD_add_response_header(response, MHD_HTTP_HEADER_SERVER, kServerName);
  MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache");
  const MHD_Result result = MHD_queue_response(connection, MHD_HTTP_OK, response);
  MHD_destroy_response(response);
  return result;
}

}  // namespace qrx::escl
