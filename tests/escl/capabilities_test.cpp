// What clients read before they scan: the capability elements Mopria, Apple and
// Windows clients look for (the icon, the glass's physical size, the content
// types), every colour mode in every format the capabilities pair it with (a
// 16-bit scan into JPEG), and PUT ScanBufferInfo answering what the scan then
// delivers.
#include <pugixml.hpp>

#include "escl_server.h"

namespace qrx::test {
namespace {

std::string value(const pugi::xml_document& doc, const char* name) {
  const pugi::xpath_node node =
      doc.select_node((std::string("//*[local-name()='") + name + "']").c_str());
  return node ? node.node().child_value() : "(none)";
}

class Capabilities : public EsclServerTest {
 protected:
  pugi::xml_document xml_of(const std::string& body) {
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_string(body.c_str())) << body;
    return doc;
  }
  // PUT /eSCL/ScanBufferInfo with the settings; the status, the document in doc.
  int buffer_info(const std::string& settings, pugi::xml_document& doc) {
    std::string body;
    const int status = request("PUT", "/eSCL/ScanBufferInfo", body, settings);
    if (status == 200) doc.load_string(body.c_str());
    return status;
  }
};

TEST_F(Capabilities, OffersWhatClientsLookForAndEveryModeInEveryFormat) {
  start_daemon();
  start_server();
  std::string body;
  ASSERT_EQ(request("GET", "/eSCL/ScannerCapabilities", body), 200);
  const pugi::xml_document caps = xml_of(body);
  EXPECT_EQ(value(caps, "MaxPhysicalWidth"), "2552");
  EXPECT_EQ(value(caps, "MaxPhysicalHeight"), "3508");
  EXPECT_EQ(value(caps, "ContentType"), "Photo");
  // The icon the capabilities name is a picture.
  const std::string icon = value(caps, "IconURI");
  ASSERT_EQ(icon, base_ + "/icon.png");
  const std::string icon_file = dir.path() + "/icon.png";
  curl({"-o", icon_file, icon});
  const ReadImage picture = read_png(icon_file);
  ASSERT_TRUE(picture.ok) << picture.error;
  EXPECT_GE(picture.width, 64u);

  // What a 2 x 1.5 inch colour scan at 150 dpi will be: 300 x 225 pixels of
  // 6 bytes as scanned.
  pugi::xml_document buffer;
  ASSERT_EQ(buffer_info(settings(150, "RGB48", "image/jpeg"), buffer), 200);
  EXPECT_EQ(value(buffer, "ImageWidth"), "300");
  EXPECT_EQ(value(buffer, "ImageHeight"), "225");
  EXPECT_EQ(value(buffer, "BytesPerLine"), "1800");
  EXPECT_EQ(value(buffer, "ColorMode"), "RGB48");
  // Settings no scan could take are refused as a job would be.
  EXPECT_EQ(buffer_info(settings(400), buffer), 409);
  EXPECT_EQ(buffer_info("not xml", buffer), 400);

  // The 16-bit scan is delivered as the JPEG asked for (8 bits a sample), and
  // is what ScanBufferInfo said.
  int status = 0;
  const std::string job = post_job(settings(150, "RGB48", "image/jpeg"), &status);
  ASSERT_EQ(status, 201);
  const std::string jpeg = dir.path() + "/scan.jpg";
  int code = 503;
  for (int i = 0; i < 600 && code == 503; ++i) {
    code = std::stoi(curl({"-o", jpeg, "-w", "%{http_code}\n", base_ + job + "/NextDocument"}).out);
  }
  ASSERT_EQ(code, 200);
  expect_document(read_jpeg(jpeg), 150, 3, 0.97);
  ASSERT_EQ(request("GET", job + "/ScanImageInfo", body), 200);
  const pugi::xml_document info = xml_of(body);
  EXPECT_EQ(value(info, "ActualWidth"), "300");
  EXPECT_EQ(value(info, "ActualHeight"), "225");
  EXPECT_EQ(value(info, "ActualBytesPerLine"), "1800");
}

}  // namespace
}  // namespace qrx::test
