// The eSCL protocol through curl: what the scanner offers, a whole job from
// POST to the image and 404 after it, the image compared with the document on
// the glass, one job at a time, cancel by DELETE, and clients that vanish.
#include <pugixml.hpp>

#include <chrono>
#include <thread>

#include "escl_server.h"

namespace qrx::test {
namespace {

using namespace std::chrono_literals;

// The text of the first element with this local name.
std::string value(const pugi::xml_document& doc, const char* name) {
  const pugi::xpath_node node =
      doc.select_node((std::string("//*[local-name()='") + name + "']").c_str());
  return node ? node.node().child_value() : "";
}
std::vector<std::string> values(const pugi::xml_document& doc, const char* name) {
  std::vector<std::string> out;
  for (const pugi::xpath_node& node :
       doc.select_nodes((std::string("//*[local-name()='") + name + "']").c_str())) {
    out.push_back(node.node().child_value());
  }
  return out;
}

class Protocol : public EsclServerTest {
 protected:
  pugi::xml_document get_xml(const std::string& path) {
    std::string body;
    EXPECT_EQ(request("GET", path, body), 200) << path;
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_string(body.c_str())) << body;
    return doc;
  }
  // Polls the status until the job's state is one of the ends; its state and reason.
  std::pair<std::string, std::string> job_end(const std::string& job) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (std::chrono::steady_clock::now() < deadline) {
      const pugi::xml_document doc = get_xml("/eSCL/ScannerStatus");
      for (const pugi::xpath_node& info : doc.select_nodes("//*[local-name()='JobInfo']")) {
        std::string uri, state, reason;
        for (pugi::xml_node n : info.node().children()) {
          const std::string name = n.name();
          if (name == "pwg:JobUri") uri = n.child_value();
          if (name == "pwg:JobState") state = n.child_value();
          if (name == "pwg:JobStateReasons") reason = n.first_child().child_value();
        }
        if (uri == job && state != "Processing" && state != "Pending") return {state, reason};
      }
      std::this_thread::sleep_for(100ms);
    }
    return {"(still running)", ""};
  }
  // A client on a bare connection that sends GET path and reads `bytes` of the
  // answer, then closes; with 0 it reads nothing and stays.
  std::unique_ptr<ChildProcess> raw_client(const std::string& path, int bytes) {
    const std::string host = base_.substr(base_.find("//") + 2);
    const std::string address = host.substr(0, host.rfind(':'));
    const std::string port = host.substr(host.rfind(':') + 1);
    const std::string script =
        "exec 3<>/dev/tcp/" + address + "/" + port + " || exit 1; printf 'GET " + path +
        " HTTP/1.1\\r\\nHost: " + host + "\\r\\n\\r\\n' >&3; " +
        (bytes > 0 ? "head -c " + std::to_string(bytes) + " <&3 > /dev/null; exec 3<&-"
                   : "sleep 600");
    return std::make_unique<ChildProcess>(std::vector<std::string>{"/bin/bash", "-c", script});
  }
  // The image of a job, fetched with NextDocument into path (asking again on 503).
  int fetch(const std::string& job, const std::string& path) {
    for (;;) {
      const ProgramRun run =
          curl({"-o", path, "-w", "%{http_code}\n", base_ + job + "/NextDocument"});
      const int status = run.out.empty() ? -1 : std::stoi(run.out);
      if (status != 503) return status;
      std::this_thread::sleep_for(500ms);
    }
  }
};

TEST_F(Protocol, OffersWhatTheAbilityRecordSaysAndScansAWholeJob) {
  start_daemon();
  start_server();
  {
    const pugi::xml_document caps = get_xml("/eSCL/ScannerCapabilities");
    EXPECT_EQ(caps.document_element().name(), std::string("scan:ScannerCapabilities"));
    EXPECT_EQ(value(caps, "MakeAndModel"), "QUARN RV-70413K");
    // The glass, 81664 x 112256 units of 1/9600 inch, in 300ths.
    EXPECT_EQ(value(caps, "MaxWidth"), "2552");
    EXPECT_EQ(value(caps, "MaxHeight"), "3508");
    EXPECT_EQ(values(caps, "XResolution"),
              (std::vector<std::string>{"75", "150", "300", "600", "1200", "2400", "4800"}));
    EXPECT_EQ(values(caps, "ColorMode"),
              (std::vector<std::string>{"RGB24", "Grayscale8", "RGB48", "Grayscale16"}));
    EXPECT_EQ(values(caps, "DocumentFormatExt"),
              (std::vector<std::string>{"image/jpeg", "image/png", "application/pdf"}));
    const std::string uuid = value(caps, "UUID");
    EXPECT_EQ(uuid.size(), 36u);
    // The same UUID after a restart.
    stop_server();
    start_server();
    EXPECT_EQ(value(get_xml("/eSCL/ScannerCapabilities"), "UUID"), uuid);
    EXPECT_EQ(value(get_xml("/eSCL/ScannerStatus"), "State"), "Idle");
  }
  int status = 0;
  const std::string job = post_job(settings(300, "RGB24", "image/png"), &status);
  ASSERT_EQ(status, 201);
  ASSERT_EQ(job.rfind("/eSCL/ScanJobs/", 0), 0u) << job;
  const std::string png = dir.path() + "/scan.png";
  ASSERT_EQ(fetch(job, png), 200);
  expect_document(read_png(png), 300, 3, 0.99);
  std::string body;
  EXPECT_EQ(request("GET", job + "/NextDocument", body), 404);
  pugi::xml_document info = get_xml(job + "/ScanImageInfo");
  EXPECT_EQ(value(info, "ActualWidth"), "600");
  EXPECT_EQ(value(info, "ActualHeight"), "450");
  EXPECT_EQ(value(info, "ActualBytesPerLine"), "1800");
  EXPECT_EQ(job_end(job),
            std::make_pair(std::string("Completed"), std::string("JobCompletedSuccessfully")));
  EXPECT_EQ(value(get_xml("/eSCL/ScannerStatus"), "State"), "Idle");

  // Grey JPEG and a PDF of the same area.
  const std::string grey = post_job(settings(150, "Grayscale8", "image/jpeg"), &status);
  ASSERT_EQ(status, 201);
  const std::string jpeg = dir.path() + "/scan.jpg";
  ASSERT_EQ(fetch(grey, jpeg), 200);
  expect_document(read_jpeg(jpeg), 150, 1, 0.98);
  const std::string pdf_job = post_job(settings(75, "RGB24", "application/pdf"), &status);
  ASSERT_EQ(status, 201);
  const std::string pdf = dir.path() + "/scan.pdf";
  ASSERT_EQ(fetch(pdf_job, pdf), 200);
  const std::string pdf_text = read(pdf);
  EXPECT_EQ(pdf_text.rfind("%PDF-1.4", 0), 0u);
  // 1.5 inches at 75 dpi is 112.5 lines: clients reckon 113.
  EXPECT_NE(pdf_text.find("/Width 150 /Height 113"), std::string::npos);
  EXPECT_NE(pdf_text.find("%%EOF"), std::string::npos);
}

TEST_F(Protocol, OneJobAtATimeAndDeleteCancelsAtOnceFreeingTheScanner) {
  start_daemon(20);  // slow enough to be cancelled while the image is sent
  start_server();
  int status = 0;
  // The whole glass at 300 dpi: long enough to be interrupted.
  const std::string job = post_job(settings(300, "RGB24", "image/jpeg", 2552, 3508), &status);
  ASSERT_EQ(status, 201);
  // A second client meanwhile is told the scanner is busy, and sees it so.
  std::string second = post_job(settings(75), &status);
  EXPECT_EQ(status, 503);
  EXPECT_TRUE(second.empty());
  std::string body;
  ASSERT_EQ(request("GET", "/eSCL/ScannerStatus", body), 200);
  EXPECT_NE(body.find("<pwg:State>Processing</pwg:State>"), std::string::npos) << body;

  // The image starts to come (curl asks again while the scanner calibrates);
  // then the client cancels.
  const std::string partial = dir.path() + "/partial.jpg";
  std::unique_ptr<ChildProcess> reader = std::make_unique<ChildProcess>(
      std::vector<std::string>{"/usr/bin/curl", "-s", "--retry", "100", "--retry-delay", "1", "-o",
                               partial, base_ + job + "/NextDocument"});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  while (read(partial).size() < 20000 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(50ms);
  }
  ASSERT_GE(read(partial).size(), 20000u);
  EXPECT_EQ(request("DELETE", job, body), 200);
  // curl sees the document end short (the chunked body is not completed).
  EXPECT_NE(reader->wait(kWaitMs), 0);
  EXPECT_EQ(job_end(job),
            std::make_pair(std::string("Canceled"), std::string("JobCanceledByUser")));
  EXPECT_EQ(request("GET", job + "/NextDocument", body), 404);
  EXPECT_EQ(request("DELETE", "/eSCL/ScanJobs/00000000-0000-4000-8000-000000000000", body), 404);

  // The scanner is free at once: the next job scans.
  const std::string next = post_job(settings(75, "RGB24", "image/png"), &status);
  ASSERT_EQ(status, 201);
  const std::string png = dir.path() + "/next.png";
  ASSERT_EQ(fetch(next, png), 200);
  expect_document(read_png(png), 75, 3, 0.97);
}

TEST_F(Protocol, AJobWhoseClientVanishesIsCancelledAndTheScannerFreed) {
  start_daemon();
  // Short enough to keep the test quick, long enough that the fetch below (a
  // fresh curl every half second while the scanner calibrates) keeps its job
  // alive on a loaded machine.
  start_server({"--job-timeout", "6"});
  int status = 0;
  // A client that posts and never comes back for the image.
  const std::string forgotten = post_job(settings(75), &status);
  ASSERT_EQ(status, 201);
  EXPECT_EQ(job_end(forgotten),
            std::make_pair(std::string("Aborted"), std::string("AbortedBySystem")));
  // A client that goes away in the middle of the image: it reads the first
  // bytes, then closes its connection (as a closed laptop lid would).
  const std::string dropped = post_job(settings(300, "RGB24", "image/jpeg", 2552, 3508), &status);
  ASSERT_EQ(status, 201);
  EXPECT_EQ(raw_client(dropped + "/NextDocument", 20000)->wait(kWaitMs), 0);
  EXPECT_EQ(job_end(dropped),
            std::make_pair(std::string("Aborted"), std::string("AbortedBySystem")));
  // A client that asks for the image, then stops reading with its connection open.
  const std::string stalled = post_job(settings(300, "RGB24", "image/png", 2552, 3508), &status);
  ASSERT_EQ(status, 201);
  std::unique_ptr<ChildProcess> silent = raw_client(stalled + "/NextDocument", 0);
  EXPECT_EQ(job_end(stalled),
            std::make_pair(std::string("Aborted"), std::string("AbortedBySystem")));
  silent.reset();
  // The scanner is free for the next client.
  const std::string next = post_job(settings(75, "Grayscale8", "image/png"), &status);
  ASSERT_EQ(status, 201);
  const std::string png = dir.path() + "/next.png";
  ASSERT_EQ(fetch(next, png), 200);
  expect_document(read_png(png), 75, 1, 0.97);
}

}  // namespace
}  // namespace qrx::test
