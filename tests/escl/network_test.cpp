// The server's network side driven by real clients: both address families on the
// any address; requests naming another host or coming from another site refused
// (DNS rebinding, cross-site posts); addresses outside the allow-list turned away
// as they connect, so that they cannot take the slots an allowed client needs; a
// header sent byte by byte cut off at its deadline; TLS 1.2 and 1.3 only, with
// forward secrecy; and a start with nothing to complain of.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <thread>

#include "escl_server.h"

namespace qrx::test {
namespace {

class Network : public EsclServerTest {
 protected:
  // The port of the server's base URL.
  std::string port() const { return base_.substr(base_.rfind(':') + 1); }
  // The HTTP status curl got for a GET of the URL (0: no answer).
  int get_status(const std::string& url, std::vector<std::string> extra = {}) {
    extra.insert(extra.end(), {"-o", "/dev/null", "-w", "%{http_code}\n", url});
    const ProgramRun run = curl(extra);
    return run.out.empty() ? -1 : std::stoi(run.out);
  }
  // A TCP connection from the loopback address source to the server.
  int connect_from(const std::string& source) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, source.c_str(), &from.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(std::stoi(port())));
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
      close(fd);
      return -1;
    }
    return fd;
  }
  // Whether the server has closed the connection within timeout_ms.
  static bool closed_within(int fd, int timeout_ms) {
    pollfd poll_fd{fd, POLLIN, 0};
    if (poll(&poll_fd, 1, timeout_ms) != 1) return false;
    char byte;
    return recv(fd, &byte, 1, MSG_DONTWAIT) <= 0;
  }
};

bool loopback_ipv6() {
  const int fd = socket(AF_INET6, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_loopback;
  const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

TEST_F(Network, TheAnyAddressServesIpv4AndIpv6Both) {
  if (!loopback_ipv6()) GTEST_SKIP() << "no IPv6 loopback here";
  start_daemon();
  for (const char* any : {"::", "0.0.0.0"}) {
    start_server({"--listen", any});
    EXPECT_EQ(get_status("http://127.0.0.1:" + port() + "/eSCL/ScannerStatus"), 200) << any;
    EXPECT_EQ(get_status("http://[::1]:" + port() + "/eSCL/ScannerStatus"), 200) << any;
    stop_server();
  }
  // One address is one family.
  start_server({"--listen", "::1"});
  EXPECT_EQ(get_status("http://[::1]:" + port() + "/eSCL/ScannerStatus"), 200);
  EXPECT_EQ(get_status("http://127.0.0.1:" + port() + "/eSCL/ScannerStatus"), 0);
}

TEST_F(Network, OnlyRequestsNamingThisServerFromNoOtherSiteAreTaken) {
  start_daemon();
  // The image request is held through the first calibration however long it lasts.
  start_server({"--host-name", "Scanner.Example.LAN", "--document-wait", "400"});
  const std::string url = "http://127.0.0.1:" + port();
  std::string body;
  // A page of evil.example that points its name at this machine: the scan is
  // refused and no job is made.
  EXPECT_EQ(request("POST", "/eSCL/ScanJobs", body, settings(75),
                    {"-H", "Host: evil.example:" + port(), "-H", "Content-Type: text/plain"}),
            403);
  EXPECT_EQ(request("GET", "/eSCL/ScannerCapabilities", body, "", {"-H", "Host: evil.example"}),
            403);
  EXPECT_EQ(request("GET", "/eSCL/ScannerStatus", body), 200);
  EXPECT_EQ(body.find("JobInfo"), std::string::npos) << body;
  // A form or fetch from another site's page, under the right Host.
  EXPECT_EQ(request("POST", "/eSCL/ScanJobs", body, settings(75),
                    {"-H", "Origin: http://evil.example", "-H", "Content-Type: text/plain"}),
            403);
  EXPECT_EQ(request("DELETE", "/eSCL/ScanJobs/00000000-0000-4000-8000-000000000000", body, "",
                    {"-H", "Origin: null"}),
            403);
  // The names the server has: its address, localhost, the host name, the one given.
  EXPECT_EQ(request("GET", "/eSCL/ScannerStatus", body, "", {"-H", "Host: localhost:" + port()}),
            200);
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  EXPECT_EQ(request("GET", "/eSCL/ScannerStatus", body, "",
                    {"-H", "Host: " + std::string(host) + ".local:" + port()}),
            200);
  EXPECT_EQ(request("GET", "/eSCL/ScannerStatus", body, "",
                    {"-H", "Host: scanner.example.lan:" + port()}),
            200);
  // The web page's own scan: its Origin is the server itself.
  const ProgramRun run =
      curl({"-o", "/dev/null", "-D", "-", "-w", "%{http_code}\n", "--data-binary",
            settings(75, "RGB24", "image/png", 60, 60), "-H", "Content-Type: text/xml", "-H",
            "Origin: " + url, url + "/eSCL/ScanJobs"});
  EXPECT_EQ(run.out.substr(run.out.size() - 4), "201\n") << run.out;
  const size_t at = run.out.find("/eSCL/ScanJobs/");
  ASSERT_NE(at, std::string::npos);
  const std::string job = run.out.substr(at, run.out.find('\r', at) - at);
  EXPECT_EQ(request("GET", job + "/NextDocument", body), 200);
  write(dir.path() + "/scan.png", body);
  const ReadImage image = read_png(dir.path() + "/scan.png");
  ASSERT_TRUE(image.ok) << image.error;
  EXPECT_EQ(image.width, 15u);
  EXPECT_EQ(image.height, 15u);
}

TEST_F(Network, RefusedAddressesAreTurnedAwayAsTheyConnect) {
  start_daemon();
  start_server({"--allow", "127.0.0.1/32", "--header-timeout", "60", "--client-timeout", "60"});
  // Four refused addresses, sixteen connections each (the limit of one address),
  // each sending half a header: all 64 slots, were they taken.
  std::vector<int> sockets;
  for (const char* source : {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"}) {
    for (int i = 0; i < 16; ++i) {
      const int fd = connect_from(source);
      ASSERT_GE(fd, 0) << source;
      send(fd, "GET / HTTP/1.1\r\n", 16, MSG_NOSIGNAL);
      sockets.push_back(fd);
    }
  }
  // The allowed client is answered all the while.
  EXPECT_EQ(get_status("http://127.0.0.1:" + port() + "/eSCL/ScannerStatus", {"--max-time", "10"}),
            200);
  // The server closed them at once, without a word.
  for (const int fd : sockets) {
    EXPECT_TRUE(closed_within(fd, 3000));
    char byte;
    EXPECT_LE(recv(fd, &byte, 1, MSG_DONTWAIT), 0);
    close(fd);
  }
  // A refused client gets no answer at all, not even a refusal to read.
  EXPECT_EQ(get_status("http://127.0.0.1:" + port() + "/eSCL/ScannerCapabilities",
                       {"--interface", "127.0.0.2"}),
            0);
}

TEST_F(Network, AHeaderSentByteByByteIsCutOffAtItsDeadline) {
  start_daemon();
  start_server({"--header-timeout", "3", "--client-timeout", "30"});
  const int fd = connect_from("127.0.0.1");
  ASSERT_GE(fd, 0);
  // One byte a second keeps the connection from ever being idle.
  const std::string header = "GET /eSCL/ScannerStatus HTTP/1.1\r\nX-Slow: ";
  const auto start = std::chrono::steady_clock::now();
  bool closed = false;
  for (size_t i = 0; i < 40 && !closed; ++i) {
    send(fd, &header[std::min(i, header.size() - 1)], 1, MSG_NOSIGNAL);
    closed = closed_within(fd, 1000);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  close(fd);
  EXPECT_TRUE(closed) << "still connected after " << seconds << " s";
  EXPECT_GE(seconds, 2.5);
  EXPECT_LE(seconds, 8.0);
  // A request that is read in time is answered, and so is the next one on the
  // same connection.
  const ProgramRun two =
      curl({"-o", "/dev/null", "-w", "%{http_code} %{num_connects}\n",
            base_ + "/eSCL/ScannerStatus", "-o", "/dev/null", base_ + "/eSCL/ScannerCapabilities"});
  EXPECT_EQ(two.out, "200 1\n200 0\n");
}

TEST_F(Network, TlsIs1Point2Or1Point3WithForwardSecrecy) {
  start_daemon();
  const ProgramRun made =
      run_program({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                   dir.path() + "/key.pem", "-out", dir.path() + "/cert.pem", "-days", "2", "-subj",
                   "/CN=127.0.0.1"},
                  {}, dir.path() + "/req.err", kWaitMs);
  ASSERT_EQ(made.status, 0);
  start_server({"--cert", dir.path() + "/cert.pem", "--key", dir.path() + "/key.pem"});
  const std::string address = "127.0.0.1:" + port();
  // openssl s_client with the version and suites; its exit status and output.
  const auto handshake = [&](const std::string& version, const std::string& ciphers) {
    const std::string command = "echo | timeout 60 openssl s_client " + version + " -connect " +
                                address + (ciphers.empty() ? "" : " -cipher '" + ciphers + "'") +
                                " 2>&1";
    return run_program({"/bin/bash", "-c", command}, {}, dir.path() + "/s_client.err", kWaitMs);
  };
  for (const char* old : {"-tls1", "-tls1_1"}) {
    const ProgramRun run = handshake(old, "DEFAULT:@SECLEVEL=0");
    EXPECT_NE(run.status, 0) << old << ": " << run.out;
    EXPECT_NE(run.out.find("Cipher is (NONE)"), std::string::npos) << old << ": " << run.out;
  }
  // Suites without forward secrecy (RSA key exchange) or with CBC.
  for (const char* suites : {"AES128-SHA:AES256-GCM-SHA384", "ECDHE-RSA-AES128-SHA"}) {
    const ProgramRun run = handshake("-tls1_2", suites);
    EXPECT_NE(run.status, 0) << suites << ": " << run.out;
  }
  const ProgramRun v12 = handshake("-tls1_2", "");
  EXPECT_EQ(v12.status, 0) << v12.out;
  EXPECT_NE(v12.out.find("Cipher is ECDHE-"), std::string::npos) << v12.out;
  const ProgramRun v13 = handshake("-tls1_3", "");
  EXPECT_EQ(v13.status, 0) << v13.out;
  EXPECT_NE(v13.out.find("New, TLSv1.3"), std::string::npos) << v13.out;
  EXPECT_EQ(get_status("https://127.0.0.1:" + port() + "/eSCL/ScannerStatus"), 200);
}

TEST_F(Network, AStartHasNothingToComplainOf) {
  start_daemon();
  const std::string errors = dir.path() + "/server.err";
  ChildProcess server({"/bin/bash", "-c", "exec \"$0\" \"$@\" 2> " + errors, QRX_ESCL_SERVER, "-d",
                       device_, "--listen", "127.0.0.1", "--port", "0", "--no-mdns", "--verbose"});
  std::string line;
  ASSERT_TRUE(server.read_line(line, kWaitMs));
  EXPECT_EQ(line.rfind("qrx7730-escl: serving ", 0), 0u) << line;
  server.kill_now(SIGTERM);
  EXPECT_EQ(server.wait(kWaitMs), 0);
  EXPECT_EQ(read(errors), "");
}

}  // namespace
}  // namespace qrx::test
