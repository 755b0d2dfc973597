// The server's XML documents (see escl_documents.h), built with pugixml so that
// every name and value is escaped as XML requires.
#include "escl_documents.h"

#include <pugixml.hpp>

#include <sstream>

namespace qrx::escl {
namespace {

constexpr const char* kPwgNamespace = "http://www.pwg.org/schemas/2010/12/sm";
constexpr const char* kScanNamespace = "http://schemas.hp.com/imaging/escl/2011/05/03";

pugi::xml_node root(pugi::xml_document& document, const char* name) {
  pugi::xml_node declaration = document.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  declaration.append_attribute("encoding") = "UTF-8";
  pugi::xml_node node = document.append_child(name);
  node.append_attribute("xmlns:pwg") = kPwgNamespace;
  node.append_attribute("xmlns:scan") = kScanNamespace;
  return node;
}

pugi::xml_node add(pugi::xml_node parent, const char* name) {
  return parent.append_child(name);
}

void add(pugi::xml_node parent, const char* name, const std::string& text) {
  parent.append_child(name).text().set(text.c_str());
}

void add(pugi::xml_node parent, const char* name, unsigned long long value) {
  parent.append_child(name).text().set(value);
}

std::string text_of(const pugi::xml_document& document) {
  std::ostringstream out;
  document.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
  return out.str();
}

}  // namespace

std::string capabilities_xml(const ScannerModel& model, const std::string& uuid,
                             const std::string& admin_uri, const std::string& icon_uri) {
  pugi::xml_document document;
  pugi::xml_node caps = root(document, "scan:ScannerCapabilities");
  add(caps, "pwg:Version", kEsclVersion);
  add(caps, "pwg:MakeAndModel", model.make + " " + model.model);
  add(caps, "scan:Manufacturer", model.make);
  add(caps, "scan:UUID", uuid);
  add(caps, "scan:AdminURI", admin_uri);
  add(caps, "scan:IconURI", icon_uri);

  pugi::xml_node input = add(add(caps, "scan:Platen"), "scan:PlatenInputCaps");
  add(input, "scan:MinWidth", model.min_extent);
  add(input, "scan:MaxWidth", model.max_width);
  add(input, "scan:MinHeight", model.min_extent);
  add(input, "scan:MaxHeight", model.max_height);
  // The glass is all the scanner reaches.
  add(input, "scan:MaxPhysicalWidth", model.max_width);
  add(input, "scan:MaxPhysicalHeight", model.max_height);
  add(input, "scan:MaxScanRegions", 1);
  pugi::xml_node profile = add(add(input, "scan:SettingProfiles"), "scan:SettingProfile");
  pugi::xml_node modes = add(profile, "scan:ColorModes");
  for (ColorMode mode :
       {ColorMode::kRgb24, ColorMode::kGrayscale8, ColorMode::kRgb48, ColorMode::kGrayscale16}) {
    add(modes, "scan:ColorMode", color_mode_name(mode));
  }
  pugi::xml_node formats = add(profile, "scan:DocumentFormats");
  for (DocumentFormat format :
       {DocumentFormat::kJpeg, DocumentFormat::kPng, DocumentFormat::kPdf}) {
    add(formats, "pwg:DocumentFormat", mime_type(format));
  }
  for (DocumentFormat format :
       {DocumentFormat::kJpeg, DocumentFormat::kPng, DocumentFormat::kPdf}) {
    add(formats, "scan:DocumentFormatExt", mime_type(format));
  }
  pugi::xml_node contents = add(profile, "scan:ContentTypes");
  for (const char* content : {"Photo", "Text", "TextAndPhoto"}) {
    add(contents, "pwg:ContentType", content);
  }
  pugi::xml_node resolutions =
      add(add(profile, "scan:SupportedResolutions"), "scan:DiscreteResolutions");
  for (uint16_t dpi : model.resolutions) {
    pugi::xml_node one = add(resolutions, "scan:DiscreteResolution");
    add(one, "scan:XResolution", dpi);
    add(one, "scan:YResolution", dpi);
  }
  pugi::xml_node spaces = add(profile, "scan:ColorSpaces");
  add(spaces, "scan:ColorSpace", "RGB");
  pugi::xml_node intents = add(input, "scan:SupportedIntents");
  for (const char* intent : {"Document", "TextAndGraphic", "Photo", "Preview"}) {
    add(intents, "scan:Intent", intent);
  }
  add(input, "scan:MaxOpticalXResolution", model.optical_dpi);
  add(input, "scan:MaxOpticalYResolution", model.optical_dpi);
  add(input, "scan:RiskyLeftMargin", 0);
  add(input, "scan:RiskyRightMargin", 0);
  add(input, "scan:RiskyTopMargin", 0);
  add(input, "scan:RiskyBottomMargin", 0);
  for (const char* name : {"scan:BrightnessSupport", "scan:ContrastSupport"}) {
    pugi::xml_node range = add(caps, name);
    add(range, "scan:Min", 0);
    add(range, "scan:Max", kToneMax);
    add(range, "scan:Normal", kToneNormal);
    add(range, "scan:Step", 1);
  }
  return text_of(document);
}

std::string status_xml(const std::string& state, const std::vector<JobReport>& jobs) {
  pugi::xml_document document;
  pugi::xml_node status = root(document, "scan:ScannerStatus");
  add(status, "pwg:Version", kEsclVersion);
  add(status, "pwg:State", state);
  pugi::xml_node list = add(status, "scan:Jobs");
  for (const JobReport& job : jobs) {
    pugi::xml_node info = add(list, "scan:JobInfo");
    add(info, "pwg:JobUri", "/eSCL/ScanJobs/" + job.id);
    add(info, "pwg:JobUuid", job.id);
    add(info, "scan:Age", job.age);
    add(info, "pwg:ImagesCompleted", job.images_completed);
    add(info, "pwg:ImagesToTransfer", job.images_to_transfer);
    add(info, "pwg:JobState", job.state);
    add(add(info, "pwg:JobStateReasons"), "pwg:JobStateReason", job.reason);
  }
  return text_of(document);
}

std::string buffer_info_xml(const BufferReport& buffer) {
  pugi::xml_document document;
  pugi::xml_node info = root(document, "scan:ScanBufferInfo");
  // The settings as understood.
  const ScanSettings& s = buffer.settings;
  pugi::xml_node settings = add(info, "scan:ScanSettings");
  add(settings, "pwg:Version", kEsclVersion);
  pugi::xml_node region = add(add(settings, "pwg:ScanRegions"), "pwg:ScanRegion");
  add(region, "pwg:ContentRegionUnits", "escl:ThreeHundredthsOfInches");
  add(region, "pwg:XOffset", s.region.x);
  add(region, "pwg:YOffset", s.region.y);
  add(region, "pwg:Width", s.region.width);
  add(region, "pwg:Height", s.region.height);
  add(settings, "pwg:InputSource", "Platen");
  add(settings, "scan:ColorMode", color_mode_name(s.mode));
  add(settings, "scan:XResolution", s.resolution);
  add(settings, "scan:YResolution", s.resolution);
  add(settings, "pwg:DocumentFormat", mime_type(s.format));
  add(info, "scan:ImageWidth", buffer.width);
  add(info, "scan:ImageHeight", buffer.height);
  add(info, "scan:BytesPerLine", buffer.bytes_per_line);
  return text_of(document);
}

std::string image_info_xml(const ImageReport& image) {
  pugi::xml_document document;
  pugi::xml_node info = root(document, "scan:ScanImageInfo");
  add(info, "pwg:JobUri", "/eSCL/ScanJobs/" + image.id);
  add(info, "pwg:JobUuid", image.id);
  add(info, "scan:ActualWidth", image.width);
  add(info, "scan:ActualHeight", image.height);
  add(info, "scan:ActualBytesPerLine", image.bytes_per_line);
  add(info, "pwg:ImagesCompleted", image.images_completed);
  return text_of(document);
}

}  // namespace qrx::escl
