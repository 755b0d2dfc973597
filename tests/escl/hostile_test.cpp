// Requests the server must refuse, each with its status, the server still
// answering afterwards: addresses outside the allow-list (no answer), bodies past the
// bound (413), documents that are not ScanSettings or carry entities (400),
// unknown paths (404), wrong methods (405), request lines and headers of any
// length (414, 431), and connections that say nothing (closed).
#include "escl_server.h"

namespace qrx::test {
namespace {

class Hostile : public EsclServerTest {
 protected:
  void expect_still_answering() {
    std::string body;
    EXPECT_EQ(request("GET", "/eSCL/ScannerStatus", body), 200);
    EXPECT_NE(body.find("<pwg:State>Idle</pwg:State>"), std::string::npos) << body;
  }
};

TEST_F(Hostile, ClientsOutsideTheAllowListAreNotAnswered) {
  start_daemon();
  start_server({"--allow", "192.0.2.0/24", "--allow", "2001:db8::/32"});
  std::string body;
  // The connection is closed as it is accepted: curl sees no HTTP status (000).
  for (const char* path : {"/", "/eSCL/ScannerCapabilities", "/eSCL/ScannerStatus"}) {
    EXPECT_EQ(request("GET", path, body), 0) << path;
  }
  EXPECT_EQ(request("POST", "/eSCL/ScanJobs", body, settings(75)), 0);
  EXPECT_EQ(body, "");
}

TEST_F(Hostile, EveryBadRequestGetsItsStatusAndTheServerGoesOn) {
  start_daemon();
  start_server({"--client-timeout", "2"});
  std::string body;
  // Bodies past 64 KiB, announced or sent in chunks of unknown length.
  const std::string big(70 * 1024, 'x');
  EXPECT_EQ(request("POST", "/eSCL/ScanJobs", body, big), 413);
  EXPECT_EQ(request("POST", "/eSCL/ScanJobs", body, big, {"-H", "Transfer-Encoding: chunked"}),
            413);
  // Documents that are no ScanSettings, and entities that would expand.
  EXPECT_EQ(request("POST", "/eSCL/ScanJobs", body, "<scan:ScanSettings"), 400);
  EXPECT_EQ(request("POST", "/eSCL/ScanJobs", body, "not xml at all"), 400);
  const std::string laughs =
      "<?xml version=\"1.0\"?><!DOCTYPE s [<!ENTITY a \"lol\"><!ENTITY b "
      "\"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">]>"
      "<scan:ScanSettings xmlns:scan=\"http://schemas.hp.com/imaging/escl/2011/05/03\">"
      "<scan:ColorMode>&c;</scan:ColorMode></scan:ScanSettings>";
  EXPECT_EQ(request("POST", "/eSCL/ScanJobs", body, laughs), 400);
  EXPECT_EQ(body.find("lollol"), std::string::npos) << body;
  const std::string external =
      "<?xml version=\"1.0\"?><!DOCTYPE s [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
      "<scan:ScanSettings xmlns:scan=\"http://schemas.hp.com/imaging/escl/2011/05/03\">"
      "<scan:ColorMode>&x;</scan:ColorMode></scan:ScanSettings>";
  EXPECT_EQ(request("POST", "/eSCL/ScanJobs", body, external), 400);
  EXPECT_EQ(body.find("root:"), std::string::npos) << body;
  // An entity nobody declared is an error too, not text.
  std::string undeclared = settings(75);
  undeclared.replace(undeclared.find("RGB24"), 5, "RGB24&foo;");
  EXPECT_EQ(request("POST", "/eSCL/ScanJobs", body, undeclared), 400);
  // Settings the scanner cannot do.
  EXPECT_EQ(request("POST", "/eSCL/ScanJobs", body, settings(400)), 409);
  // Unknown paths and wrong methods (with the methods the path takes).
  EXPECT_EQ(request("GET", "/eSCL/Nothing", body), 404);
  EXPECT_EQ(
      request("GET", "/eSCL/ScanJobs/00000000-0000-4000-8000-000000000000/NextDocument", body),
      404);
  EXPECT_EQ(request("GET", "/eSCL/ScanJobs/../../etc/passwd", body), 404);
  const ProgramRun wrong =
      curl({"-X", "PUT", "-D", "-", "-o", "/dev/null", base_ + "/eSCL/ScannerCapabilities"});
  EXPECT_NE(wrong.out.find("HTTP/1.1 405"), std::string::npos) << wrong.out;
  EXPECT_NE(wrong.out.find("Allow: GET, HEAD"), std::string::npos) << wrong.out;
  EXPECT_EQ(request("GET", "/eSCL/ScanJobs", body), 405);
  // A request line and a header far longer than any client sends.
  EXPECT_EQ(request("GET", "/eSCL/" + std::string(100 * 1024, 'a'), body), 414);
  EXPECT_EQ(request("GET", "/eSCL/ScannerStatus", body, "",
                    {"-H", "X-Long: " + std::string(100 * 1024, 'b')}),
            431);
  expect_still_answering();
}

TEST_F(Hostile, IdleAndSlowConnectionsAreClosed) {
  start_daemon();
  start_server({"--client-timeout", "2"});
  const std::string host = base_.substr(base_.find("//") + 2);
  const std::string address = host.substr(0, host.rfind(':'));
  const std::string port = host.substr(host.rfind(':') + 1);
  // A connection that says nothing, and one that sends half a request line: the
  // server closes both (cat ends at the end of the connection; timeout would end
  // it with 124 after a minute).
  for (const std::string opening : {"", "GET /eSCL/Scanner"}) {
    const ProgramRun run =
        run_program({"/bin/bash", "-c",
                     "exec 3<>/dev/tcp/" + address + "/" + port + " || exit 1; printf '" + opening +
                         "' >&3; timeout 60 cat <&3 > /dev/null"},
                    {}, dir.path() + "/idle.err", kWaitMs);
    EXPECT_EQ(run.status, 0) << "the connection was not closed: " << opening;
  }
  expect_still_answering();
}

}  // namespace
}  // namespace qrx::test
