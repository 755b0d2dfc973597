// The server's parts that need no network: ScanSettings as clients write them
// and as attackers do, the request parser, the allow-list, the PDF the encoder
// streams, and the pipe that notices a client that stopped reading.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "allow_list.h"
#include "byte_pipe.h"
#include "document_encoder.h"
#include "escl_documents.h"
#include "request_guard.h"
#include "routes.h"
#include "scan_settings.h"
#include "scanner_uuid.h"
#include "tone.h"
#include "tools/image_reading.h"

namespace qrx::escl {
namespace {

// The scanner as its ability record describes it: 75 to 4800 dpi, a glass of
// 81664 x 112256 units of 1/9600 inch = 2552 x 3508 300ths.
ScannerModel model() {
  ScannerModel m;
  m.make = "QUARN";
  m.model = "RV-70413K";
  m.resolutions = {75, 150, 300, 600, 1200, 2400, 4800};
  m.optical_dpi = 2400;
  m.max_width = 2552;
  m.max_height = 3508;
  m.min_extent = 4;
  return m;
}

std::string settings_xml(const std::string& inside, const std::string& prefix = "scan",
                         const std::string& pwg = "pwg") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + prefix +
         ":ScanSettings xmlns:" + prefix +
         "=\"http://schemas.hp.com/imaging/escl/2011/05/03\" xmlns:" + pwg +
         "=\"http://www.pwg.org/schemas/2010/12/sm\">" + inside + "</" + prefix + ":ScanSettings>";
}

TEST(ScanSettingsTest, ReadsWhatClientsSendWhateverTheirPrefixes) {
  // As sane-airscan writes it, and as a client with other prefixes and the
  // extended format element does.
  const std::string region =
      "<pwg:ScanRegions><pwg:ScanRegion><pwg:ContentRegionUnits>escl:ThreeHundredthsOfInches"
      "</pwg:ContentRegionUnits><pwg:XOffset>300</pwg:XOffset><pwg:YOffset>150</pwg:YOffset>"
      "<pwg:Width>600</pwg:Width><pwg:Height>450</pwg:Height></pwg:ScanRegion></pwg:ScanRegions>";
  ScanSettings s;
  SettingsVerdict v = parse_scan_settings(
      settings_xml("<pwg:Version>2.0</pwg:Version>" + region +
                   "<pwg:InputSource>Platen</pwg:InputSource><scan:ColorMode>Grayscale8"
                   "</scan:ColorMode><pwg:DocumentFormat>image/png</pwg:DocumentFormat>"
                   "<scan:XResolution>600</scan:XResolution><scan:YResolution>600"
                   "</scan:YResolution>"),
      model(), s);
  ASSERT_EQ(v.http_status, 200) << v.message;
  EXPECT_EQ(s.resolution, 600);
  EXPECT_EQ(s.mode, ColorMode::kGrayscale8);
  EXPECT_EQ(s.format, DocumentFormat::kPng);
  EXPECT_EQ(s.region.x, 300u);
  EXPECT_EQ(s.region.y, 150u);
  EXPECT_EQ(s.region.width, 600u);
  EXPECT_EQ(s.region.height, 450u);

  std::string other = settings_xml(
      "<e:ColorMode>RGB48</e:ColorMode><p:DocumentFormat>image/jpeg</p:DocumentFormat>"
      "<e:DocumentFormatExt>image/png</e:DocumentFormatExt><e:Intent>Photo</e:Intent>",
      "e", "p");
  v = parse_scan_settings(other, model(), s);
  ASSERT_EQ(v.http_status, 200) << v.message;
  EXPECT_EQ(s.mode, ColorMode::kRgb48);
  EXPECT_EQ(s.format, DocumentFormat::kPng);  // the extended element wins
  EXPECT_EQ(s.resolution, 300);               // none given
  EXPECT_EQ(s.intent, "Photo");
  EXPECT_EQ(s.region.width, 2552u);  // the whole glass
  EXPECT_EQ(s.region.height, 3508u);

  // 16-bit modes into JPEG and PDF are taken (the document holds 8 bits).
  v = parse_scan_settings(
      settings_xml("<scan:ColorMode>Grayscale16</scan:ColorMode>"
                   "<pwg:DocumentFormat>application/pdf</pwg:DocumentFormat>"),
      model(), s);
  ASSERT_EQ(v.http_status, 200) << v.message;
  EXPECT_EQ(s.mode, ColorMode::kGrayscale16);
  EXPECT_EQ(s.format, DocumentFormat::kPdf);

  // A preview without a resolution is scanned at the lowest.
  v = parse_scan_settings(settings_xml("<scan:Intent>Preview</scan:Intent>"), model(), s);
  ASSERT_EQ(v.http_status, 200);
  EXPECT_EQ(s.resolution, 75);
  // A region reaching past the glass (A4 rounded up) is cut at its edge.
  v = parse_scan_settings(
      settings_xml("<pwg:ScanRegions><pwg:ScanRegion><pwg:XOffset>100</pwg:XOffset>"
                   "<pwg:Width>2500</pwg:Width><pwg:Height>3600</pwg:Height></pwg:ScanRegion>"
                   "</pwg:ScanRegions>"),
      model(), s);
  ASSERT_EQ(v.http_status, 200) << v.message;
  EXPECT_EQ(s.region.width, 2452u);
  EXPECT_EQ(s.region.height, 3508u);
}

TEST(ScanSettingsTest, RefusesWhatTheScannerCannotDoWith409) {
  const char* cases[] = {
      "<scan:XResolution>400</scan:XResolution><scan:YResolution>400</scan:YResolution>",
      "<scan:XResolution>300</scan:XResolution><scan:YResolution>600</scan:YResolution>",
      "<scan:ColorMode>BlackAndWhite1</scan:ColorMode>",
      "<pwg:DocumentFormat>image/tiff</pwg:DocumentFormat>",
      "<pwg:InputSource>Feeder</pwg:InputSource>",
      "<pwg:ScanRegions><pwg:ScanRegion><pwg:XOffset>2550</pwg:XOffset></pwg:ScanRegion>"
      "</pwg:ScanRegions>",
      "<pwg:ScanRegions><pwg:ScanRegion><pwg:Width>3</pwg:Width></pwg:ScanRegion>"
      "</pwg:ScanRegions>",
      "<pwg:ScanRegions><pwg:ScanRegion><pwg:ContentRegionUnits>escl:Millimeters"
      "</pwg:ContentRegionUnits></pwg:ScanRegion></pwg:ScanRegions>",
  };
  for (const char* inside : cases) {
    ScanSettings s;
    EXPECT_EQ(parse_scan_settings(settings_xml(inside), model(), s).http_status, 409) << inside;
  }
}

TEST(ScanSettingsTest, RefusesMalformedDocumentsAndEntitiesWith400) {
  const std::string cases[] = {
      "",
      "<scan:ScanSettings",
      "<a><b></a></b>",
      "<scan:ScanJob xmlns:scan=\"x\"/>",
      settings_xml("<scan:XResolution>3x0</scan:XResolution>"),
      settings_xml("<scan:XResolution>-300</scan:XResolution>"),
      settings_xml("<scan:XResolution>99999999999999999999</scan:XResolution>"),
      // An entity that would grow a billion-fold, and one that would read a file.
      "<?xml version=\"1.0\"?><!DOCTYPE s [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b "
      "\"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">]>"
      "<scan:ScanSettings xmlns:scan=\"x\"><scan:Intent>&c;</scan:Intent></scan:ScanSettings>",
      "<?xml version=\"1.0\"?><!DOCTYPE s [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
      "<scan:ScanSettings xmlns:scan=\"x\"><scan:Intent>&x;</scan:Intent></scan:ScanSettings>",
      // Entities nobody declared, in text and in an attribute, and a bare ampersand.
      settings_xml("<scan:Intent>Photo&foo;</scan:Intent>"),
      settings_xml("<scan:Intent a=\"&bar;\">Photo</scan:Intent>"),
      settings_xml("<scan:Intent>&#;</scan:Intent>"),
      settings_xml("<scan:Intent>a & b</scan:Intent>"),
  };
  for (const std::string& xml : cases) {
    ScanSettings s;
    s.intent = "untouched";
    EXPECT_EQ(parse_scan_settings(xml, model(), s).http_status, 400) << xml;
    EXPECT_EQ(s.intent, "untouched");
  }
  // The references XML itself defines are read as what they stand for.
  ScanSettings s;
  const SettingsVerdict v = parse_scan_settings(
      settings_xml("<scan:Intent note=\"&lt;&amp;&gt;\">Ph&#111;&#x74;o</scan:Intent>"
                   "<!-- a & b --><scan:ColorMode><![CDATA[RGB24]]></scan:ColorMode>"),
      model(), s);
  EXPECT_EQ(v.http_status, 200) << v.message;
  EXPECT_EQ(s.intent, "Photo");
}

TEST(RoutesTest, NamesEndpointsJobsAndTheMethodsEachTakes) {
  const std::string job = "0123abcd-0000-4000-8000-00000000beef";
  struct Case {
    const char* method;
    std::string path;
    Endpoint endpoint;
    bool allowed;
  } cases[] = {
      {"GET", "/", Endpoint::kWebPage, true},
      {"GET", "/eSCL/ScannerCapabilities", Endpoint::kCapabilities, true},
      {"HEAD", "/eSCL/ScannerStatus", Endpoint::kStatus, true},
      {"POST", "/eSCL/ScanJobs", Endpoint::kScanJobs, true},
      {"GET", "/eSCL/ScanJobs", Endpoint::kScanJobs, false},
      {"PUT", "/eSCL/ScanBufferInfo", Endpoint::kScanBufferInfo, true},
      {"GET", "/eSCL/ScanBufferInfo", Endpoint::kScanBufferInfo, false},
      {"DELETE", "/eSCL/ScanJobs/" + job, Endpoint::kJob, true},
      {"PUT", "/eSCL/ScanJobs/" + job, Endpoint::kJob, false},
      {"GET", "/eSCL/ScanJobs/" + job + "/NextDocument", Endpoint::kNextDocument, true},
      {"HEAD", "/eSCL/ScanJobs/" + job + "/NextDocument", Endpoint::kNextDocument, false},
      {"GET", "/eSCL/ScanJobs/" + job + "/ScanImageInfo", Endpoint::kScanImageInfo, true},
      {"POST", "/eSCL/ScannerCapabilities", Endpoint::kCapabilities, false},
      {"GET", "/eSCL/ScanJobs/" + job + "/Other", Endpoint::kNotFound, false},
      {"GET", "/eSCL/ScanJobs/../etc/passwd", Endpoint::kNotFound, false},
      {"GET", "/eSCL/ScanJobs/0123ABCD-0000-4000-8000-00000000BEEF", Endpoint::kNotFound, false},
      {"GET", "/eSCL/ScanJobsX", Endpoint::kNotFound, false},
      {"GET", "/eSCL/ScanJobs/", Endpoint::kNotFound, false},
      {"GET", "/escl/scannercapabilities", Endpoint::kNotFound, false},
      {"GET", "", Endpoint::kNotFound, false},
  };
  for (const Case& c : cases) {
    const Route route = route_request(c.method, c.path);
    EXPECT_EQ(route.endpoint, c.endpoint) << c.method << " " << c.path;
    EXPECT_EQ(route.method_allowed, c.allowed) << c.method << " " << c.path;
    if (c.endpoint == Endpoint::kNextDocument) {
      EXPECT_EQ(route.job, job);
    }
  }
  EXPECT_TRUE(is_plain_host("192.0.2.7:8280"));
  EXPECT_TRUE(is_plain_host("[::1]:8280"));
  EXPECT_TRUE(is_plain_host("scanner.local"));
  EXPECT_FALSE(is_plain_host("evil.example/\r\nSet-Cookie: x"));
  EXPECT_FALSE(is_plain_host("a@b"));
  EXPECT_FALSE(is_plain_host(std::string(300, 'a')));
}

sockaddr_storage address(const char* text) {
  sockaddr_storage storage{};
  auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
  if (inet_pton(AF_INET, text, &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
  } else if (inet_pton(AF_INET6, text, &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
  }
  return storage;
}

TEST(ScannerUuidTest, IsANameBasedUuidOfTheMachineAndTheDevice) {
  // RFC 4122's DNS name space and the name Python's documentation works through:
  // uuid.uuid5(uuid.NAMESPACE_DNS, "python.org").
  const UuidBytes dns = {0x6b, 0xa7, 0xb8, 0x10, 0x9d, 0xad, 0x11, 0xd1,
                         0x80, 0xb4, 0x00, 0xc0, 0x4f, 0xd4, 0x30, 0xc8};
  EXPECT_EQ(name_based_uuid(dns, "python.org"), "886313e1-3b8a-5372-9b90-0c9aee199e5d");
  const std::string here = scanner_uuid("3d1219c7c4c5404aaa1f6d2a48adfda4", "usb:");
  EXPECT_EQ(here, scanner_uuid("3d1219c7c4c5404aaa1f6d2a48adfda4", "usb:"));
  EXPECT_NE(here, scanner_uuid("0f7c6ad5e9a34d0bb1d2a6e8c0d3f215", "usb:"));
  EXPECT_NE(here, scanner_uuid("3d1219c7c4c5404aaa1f6d2a48adfda4", "usb:001:004"));
  ASSERT_EQ(here.size(), 36u);
  EXPECT_EQ(here[14], '5');                                          // version 5
  EXPECT_NE(std::string("89ab").find(here[19]), std::string::npos);  // the RFC 4122 variant
  EXPECT_FALSE(machine_id().empty());
}

TEST(RequestGuardTest, NamesTheHostsAndOriginsOfThisServer) {
  EXPECT_EQ(host_of("Scanner.Example.LAN.:8280"), "scanner.example.lan");
  EXPECT_EQ(host_of("[fe80::1%25eth0]:8280"), "fe80::1");
  EXPECT_EQ(host_of("[::1]"), "::1");
  EXPECT_EQ(host_of("::1"), "");  // brackets are required
  EXPECT_EQ(host_of("evil.example/x"), "");
  EXPECT_EQ(host_of("[::1]x"), "");
  HostNames names;
  names.add("scanner.example.lan.");
  for (const char* host : {"localhost:8280", "LOCALHOST", "127.0.0.1:8280", "127.3.4.5", "[::1]:80",
                           "SCANNER.example.lan:8280"}) {
    EXPECT_TRUE(names.allows(host)) << host;
  }
  for (const char* host : {"evil.example:8280", "localhost.evil.example", "192.0.2.7",
                           "[2001:db8::1]", "", "scanner.example.lan.evil.example"}) {
    EXPECT_FALSE(names.allows(host)) << host;
  }
  EXPECT_TRUE(same_origin("http://127.0.0.1:8280", "127.0.0.1:8280", false));
  EXPECT_TRUE(same_origin("HTTPS://Box.local:8443", "box.local:8443", true));
  EXPECT_FALSE(same_origin("http://box.local:8443", "box.local:8443", true));
  EXPECT_FALSE(same_origin("http://evil.example", "127.0.0.1:8280", false));
  EXPECT_FALSE(same_origin("null", "127.0.0.1:8280", false));
  EXPECT_FALSE(same_origin("http://127.0.0.1:8281", "127.0.0.1:8280", false));
  EXPECT_TRUE(changes_state("POST"));
  EXPECT_TRUE(changes_state("DELETE"));
  EXPECT_FALSE(changes_state("GET"));
}

TEST(AllowListTest, MatchesNetworksOfBothFamiliesAndRefusesTheRest) {
  AllowList list;
  std::string error;
  ASSERT_TRUE(list.add("192.168.10.0/23", error)) << error;
  ASSERT_TRUE(list.add("2001:db8:1::/48", error)) << error;
  ASSERT_TRUE(list.add("198.51.100.7", error)) << error;
  const auto allows = [&](const char* text) {
    const sockaddr_storage a = address(text);
    return list.allows(reinterpret_cast<const sockaddr*>(&a));
  };
  EXPECT_TRUE(allows("192.168.10.1"));
  EXPECT_TRUE(allows("192.168.11.254"));
  EXPECT_FALSE(allows("192.168.12.1"));
  EXPECT_TRUE(allows("::ffff:192.168.11.3"));  // IPv4 on an IPv6 socket
  EXPECT_TRUE(allows("2001:db8:1:ffff::1"));
  EXPECT_FALSE(allows("2001:db8:2::1"));
  EXPECT_TRUE(allows("198.51.100.7"));
  EXPECT_FALSE(allows("198.51.100.8"));
  EXPECT_FALSE(allows("127.0.0.1"));
  for (const char* wrong :
       {"192.168.1.0/33", "192.168.1.0/", "host.example", "::1/129", "10.0.0.0/8x", ""}) {
    EXPECT_FALSE(list.add(wrong, error)) << wrong;
  }
  AllowList house;
  house.add_local_networks();
  const auto house_allows = [&](const char* text) {
    const sockaddr_storage a = address(text);
    return house.allows(reinterpret_cast<const sockaddr*>(&a));
  };
  for (const char* inside : {"127.0.0.1", "127.1.2.3", "10.9.8.7", "172.31.0.1", "192.168.0.9",
                             "169.254.1.1", "::1", "fd12::1", "fe80::1"}) {
    EXPECT_TRUE(house_allows(inside)) << inside;
  }
  for (const char* outside : {"8.8.8.8", "172.32.0.1", "2001:db8::1", "::ffff:8.8.4.4"}) {
    EXPECT_FALSE(house_allows(outside)) << outside;
  }
}

// The bytes of a PDF the encoder wrote for a small grey ramp.
std::string encoded_pdf(uint32_t width, uint32_t height, int channels) {
  std::string out;
  DocumentEncoder encoder(DocumentFormat::kPdf, [&](const uint8_t* data, size_t size) {
    out.append(reinterpret_cast<const char*>(data), size);
    return true;
  });
  qrxscan::ImageSpec spec;
  spec.width = width;
  spec.height = height;
  spec.channels = channels;
  spec.depth = 8;
  spec.dpi = 150;
  std::string error;
  EXPECT_TRUE(encoder.begin(spec, error)) << error;
  std::vector<uint8_t> line(width * channels);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width * channels; ++x) line[x] = static_cast<uint8_t>(x + y);
    EXPECT_TRUE(encoder.write_line(line.data(), error)) << error;
  }
  EXPECT_TRUE(encoder.finish(error)) << error;
  EXPECT_EQ(encoder.bytes_out(), out.size());
  return out;
}

TEST(DocumentEncoderTest, WritesAPdfWhoseTableAndLengthsPointRight) {
  const std::string pdf = encoded_pdf(300, 200, 3);
  ASSERT_EQ(pdf.rfind("%PDF-1.4\n", 0), 0u);
  // startxref names the table's offset; each entry an object's.
  const size_t startxref = pdf.rfind("startxref\n");
  ASSERT_NE(startxref, std::string::npos);
  const size_t table = std::stoul(pdf.substr(startxref + 10));
  ASSERT_EQ(pdf.compare(table, 5, "xref\n"), 0);
  ASSERT_EQ(pdf.compare(table + 5, 4, "0 7\n"), 0);
  for (int object = 1; object <= 6; ++object) {
    const size_t entry = table + 9 + 20 * object;
    const size_t offset = std::stoul(pdf.substr(entry, 10));
    const std::string head = std::to_string(object) + " 0 obj\n";
    EXPECT_EQ(pdf.compare(offset, head.size(), head), 0) << "object " << object;
  }
  // The image stream is a JPEG of the page's size, as long as object 6 says.
  const size_t stream = pdf.find("stream\n", pdf.find("4 0 obj")) + 7;
  const size_t end = pdf.find("\nendstream", stream);
  const size_t length_at = pdf.find("6 0 obj\n") + 8;
  EXPECT_EQ(std::stoul(pdf.substr(length_at)), end - stream);
  const std::string jpeg_path = ::testing::TempDir() + "/escl_pdf_image.jpg";
  std::FILE* file = std::fopen(jpeg_path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fwrite(pdf.data() + stream, 1, end - stream, file);
  std::fclose(file);
  const test::ReadImage image = test::read_jpeg(jpeg_path);
  ASSERT_TRUE(image.ok) << image.error;
  EXPECT_EQ(image.width, 300u);
  EXPECT_EQ(image.height, 200u);
  EXPECT_EQ(image.channels, 3);
  // 300 x 200 pixels at 150 dpi: a page of 144 x 96 points.
  EXPECT_NE(pdf.find("/MediaBox [0 0 144.000 96.000]"), std::string::npos);
  EXPECT_NE(encoded_pdf(40, 30, 1).find("/ColorSpace /DeviceGray"), std::string::npos);
}

TEST(BytePipeTest, AWriterMeetsAReaderThatStoppedAndAReaderMeetsTheEnd) {
  BytePipe pipe(1000);
  const std::vector<uint8_t> data(600, 7);
  ASSERT_TRUE(pipe.write(data.data(), data.size(), std::chrono::milliseconds(50)));
  // Full: nobody reads for the stall time.
  EXPECT_FALSE(pipe.write(data.data(), data.size(), std::chrono::milliseconds(50)));

  BytePipe flowing(1000);
  std::thread reader([&] {
    std::vector<uint8_t> out(256);
    size_t got = 0, total = 0;
    for (;;) {
      const BytePipe::Read r = flowing.read(out.data(), out.size(), got, std::chrono::seconds(5));
      if (r != BytePipe::Read::kData) {
        EXPECT_EQ(r, BytePipe::Read::kEnd);
        break;
      }
      total += got;
    }
    EXPECT_EQ(total, 6000u);
  });
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(flowing.write(data.data(), data.size(), std::chrono::seconds(5)));
  }
  flowing.close();
  reader.join();

  BytePipe abandoned(100000);
  ASSERT_TRUE(abandoned.write(data.data(), data.size(), std::chrono::seconds(1)));
  abandoned.abandon();
  EXPECT_FALSE(abandoned.write(data.data(), data.size(), std::chrono::seconds(1)));
  size_t got = 0;
  uint8_t out[16];
  EXPECT_EQ(abandoned.read(out, sizeof out, got, std::chrono::milliseconds(10)),
            BytePipe::Read::kFailed);
}

}  // namespace
}  // namespace qrx::escl

namespace qrx::escl {
namespace {

TEST(ToneTest, BrightnessAndContrastMoveSixteenAndEightBitSamples) {
  // Brightness +20 %: every level up by a fifth of the scale, 13107 at 16 bits
  // and 51 at 8. 16-bit 1000 becomes 14107 (0x371B), stored little-endian;
  // 65000 is clipped at 65535. 8-bit 100 becomes 151; 220 is clipped at 255.
  const std::vector<uint16_t> brighter = tone_curve(20, 0);
  std::vector<uint8_t> wide = {0xE8, 0x03, 0xE8, 0xFD};
  apply_tone(brighter, 16, wide);
  EXPECT_EQ(wide, (std::vector<uint8_t>{0x1B, 0x37, 0xFF, 0xFF}));
  std::vector<uint8_t> narrow = {100, 220};
  apply_tone(brighter, 8, narrow);
  EXPECT_EQ(narrow, (std::vector<uint8_t>{151, 255}));
  // Contrast +50 %: three times as steep about the middle: 8-bit 120 becomes
  // (120 - 127.5) * 3 + 127.5 = 105; 10 becomes 0.
  std::vector<uint8_t> steeper = {120, 10};
  apply_tone(tone_curve(0, 50), 8, steeper);
  EXPECT_EQ(steeper, (std::vector<uint8_t>{105, 0}));
}

}  // namespace
}  // namespace qrx::escl
