// What clients read before they scan: the capability elements Mopria, Apple and
// Windows clients look for (the icon, the glass's physical size, the content
// types), every colour mode in every format the capabilities pair it with (a
// 16-bit scan into JPEG), and PUT ScanBufferInfo answering what the scan then
// delivers; brightness and contrast, offered from 0 to 200 (100 the image as
// scanned), change the image as asked.
#include <pugixml.hpp>

#include <algorithm>
#include <cmath>

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
  // A grey PNG of the usual area at 75 dpi with extra settings; its samples.
  ReadImage scan_grey(const std::string& extra) {
    std::string xml = settings(75, "Grayscale8", "image/png");
    xml.insert(xml.find("</scan:ScanSettings>"), extra);
    int status = 0;
    const std::string job = post_job(xml, &status);
    EXPECT_EQ(status, 201) << extra;
    const std::string png = dir.path() + "/grey.png";
    int code = 503;
    for (int i = 0; i < 600 && code == 503; ++i) {
      code = std::stoi(curl({"-o", png, "-w", "%{http_code}\n", base_ + job + "/NextDocument"}).out);
    }
    EXPECT_EQ(code, 200);
    return read_png(png);
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

TEST_F(Capabilities, BrightnessAndContrastChangeTheImageAsAsked) {
  start_daemon();
  start_server();
  std::string body;
  ASSERT_EQ(request("GET", "/eSCL/ScannerCapabilities", body), 200);
  EXPECT_NE(body.find("<scan:BrightnessSupport>"), std::string::npos);
  EXPECT_NE(body.find("<scan:ContrastSupport>"), std::string::npos);
  const ReadImage plain = scan_grey("");
  ASSERT_TRUE(plain.ok) << plain.error;
  // Brightness 150: every level 50 % of the scale up, y = min(255, x + 127.5);
  // contrast 150 (+50 %): three times as steep about the middle,
  // y = (x - 127.5) * 3 + 127.5, clipped.
  const ReadImage brighter = scan_grey("<scan:Brightness>150</scan:Brightness>");
  const ReadImage steeper = scan_grey("<scan:Contrast>150</scan:Contrast>");
  ASSERT_TRUE(brighter.ok && steeper.ok);
  ASSERT_EQ(brighter.samples.size(), plain.samples.size());
  ASSERT_EQ(steeper.samples.size(), plain.samples.size());
  double brighter_error = 0, steeper_error = 0;
  for (size_t i = 0; i < plain.samples.size(); ++i) {
    const double x = plain.samples[i];
    brighter_error += std::abs(brighter.samples[i] - std::min(255.0, x + 127.5));
    steeper_error +=
        std::abs(steeper.samples[i] - std::clamp((x - 127.5) * 3 + 127.5, 0.0, 255.0));
  }
  // The scanner's noise differs from scan to scan (three times as much through
  // the steeper curve).
  EXPECT_LT(brighter_error / plain.samples.size(), 3.0);
  EXPECT_LT(steeper_error / plain.samples.size(), 8.0);
  // Past the range: refused.
  int status = 0;
  std::string xml = settings(75);
  xml.insert(xml.find("</scan:ScanSettings>"), "<scan:Brightness>201</scan:Brightness>");
  EXPECT_TRUE(post_job(xml, &status).empty());
  EXPECT_EQ(status, 409);
}

}  // namespace
}  // namespace qrx::test
