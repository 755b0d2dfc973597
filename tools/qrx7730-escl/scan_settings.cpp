// Reading ScanSettings (see scan_settings.h).
#include "scan_settings.h"

#include <pugixml.hpp>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <optional>

namespace qrx::escl {
namespace {

constexpr uint16_t kDefaultResolution = 300;

// The part of a node name after its prefix.
std::string_view local_name(const pugi::xml_node& node) {
  const std::string_view name = node.name();
  const size_t colon = name.rfind(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

pugi::xml_node child(const pugi::xml_node& parent, std::string_view name) {
  for (pugi::xml_node node : parent.children()) {
    if (node.type() == pugi::node_element && local_name(node) == name) return node;
  }
  return {};
}

std::string_view trimmed(std::string_view text) {
  const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && space(text.front())) text.remove_prefix(1);
  while (!text.empty() && space(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view text_of(const pugi::xml_node& node) {
  return trimmed(node.child_value());
}

// A whole number of at most nine digits; nothing else.
std::optional<uint32_t> number(std::string_view text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

SettingsVerdict bad(std::string message) {
  return {400, std::move(message)};
}
SettingsVerdict conflict(std::string message) {
  return {409, std::move(message)};
}

// An element that, when present, must hold a number.
bool read_number(const pugi::xml_node& parent, std::string_view name, std::optional<uint32_t>& out,
                 SettingsVerdict& verdict) {
  const pugi::xml_node node = child(parent, name);
  if (!node) return true;
  out = number(text_of(node));
  if (!out) {
    verdict = bad(std::string(name) + " is not a whole number");
    return false;
  }
  return true;
}

SettingsVerdict read_region(const pugi::xml_node& root, const ScannerModel& model, Region& region) {
  region = {0, 0, model.max_width, model.max_height};
  const pugi::xml_node regions = child(root, "ScanRegions");
  if (!regions) return {};
  const pugi::xml_node first = child(regions, "ScanRegion");
  if (!first) return {};
  const pugi::xml_node units = child(first, "ContentRegionUnits");
  if (units && text_of(units) != "escl:ThreeHundredthsOfInches" &&
      text_of(units) != "ThreeHundredthsOfInches") {
    return conflict("the scan region must be given in escl:ThreeHundredthsOfInches");
  }
  std::optional<uint32_t> x, y, width, height;
  SettingsVerdict verdict;
  if (!read_number(first, "XOffset", x, verdict) || !read_number(first, "YOffset", y, verdict) ||
      !read_number(first, "Width", width, verdict) ||
      !read_number(first, "Height", height, verdict)) {
    return verdict;
  }
  region.x = x.value_or(0);
  region.y = y.value_or(0);
  if (region.x + model.min_extent > model.max_width ||
      region.y + model.min_extent > model.max_height) {
    return conflict("the scan region starts off the glass");
  }
  region.width = std::min(width.value_or(model.max_width - region.x), model.max_width - region.x);
  region.height =
      std::min(height.value_or(model.max_height - region.y), model.max_height - region.y);
  if (region.width < model.min_extent || region.height < model.min_extent) {
    return conflict("the scan region is smaller than the scanner reads");
  }
  return {};
}

}  // namespace

const char* color_mode_name(ColorMode mode) {
  switch (mode) {
    case ColorMode::kRgb24:
      return "RGB24";
    case ColorMode::kGrayscale8:
      return "Grayscale8";
    case ColorMode::kRgb48:
      return "RGB48";
    case ColorMode::kGrayscale16:
      return "Grayscale16";
  }
  return "";
}

const char* mime_type(DocumentFormat format) {
  switch (format) {
    case DocumentFormat::kJpeg:
      return "image/jpeg";
    case DocumentFormat::kPng:
      return "image/png";
    case DocumentFormat::kPdf:
      return "application/pdf";
  }
  return "";
}

int channels_of(ColorMode mode) {
  return mode == ColorMode::kRgb24 || mode == ColorMode::kRgb48 ? 3 : 1;
}

int depth_of(ColorMode mode) {
  return mode == ColorMode::kRgb48 || mode == ColorMode::kGrayscale16 ? 16 : 8;
}

namespace {

// Whether every reference in the text is one XML predefines ("&amp;", "&#65;").
bool predefined_references(std::string_view text) {
  for (size_t at = text.find('&'); at != std::string_view::npos; at = text.find('&', at + 1)) {
    const size_t end = text.find(';', at);
    if (end == std::string_view::npos) return false;
    const std::string_view name = text.substr(at + 1, end - at - 1);
    if (name == "amp" || name == "lt" || name == "gt" || name == "quot" || name == "apos") continue;
    const bool hex = name.size() > 2 && name[1] == 'x';
    if (name.size() < 2 || name[0] != '#' ||
        name.substr(hex ? 2 : 1).find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") !=
            std::string_view::npos) {
      return false;
    }
  }
  return true;
}

struct ReferenceCheck : pugi::xml_tree_walker {
  bool ok = true;
  bool for_each(pugi::xml_node& node) override {
    if (node.type() == pugi::node_pcdata && !predefined_references(node.value())) ok = false;
    for (const pugi::xml_attribute& attribute : node.attributes()) {
      if (!predefined_references(attribute.value())) ok = false;
    }
    return ok;
  }
};

// Whether the document names no entity but the predefined ones: the parser
// would let an undeclared one such as "&foo;" through as text. The document is
// read with references left as written for this (CDATA sections and comments
// hold none).
bool only_predefined_references(std::string_view xml) {
  pugi::xml_document raw;
  if (!raw.load_buffer(xml.data(), xml.size(), pugi::parse_default & ~pugi::parse_escapes)) {
    return true;  // the real reading says what is wrong with it
  }
  ReferenceCheck check;
  raw.traverse(check);
  return check.ok;
}

}  // namespace

SettingsVerdict parse_scan_settings(std::string_view xml, const ScannerModel& model,
                                    ScanSettings& settings) {
  if (!only_predefined_references(xml)) return bad("the document names an undeclared entity");
  pugi::xml_document document;
  // Document type declarations are parsed only to be refused: pugixml expands no
  // entity but the five predefined ones and character references in any case.
  const pugi::xml_parse_result parsed =
      document.load_buffer(xml.data(), xml.size(), pugi::parse_default | pugi::parse_doctype);
  if (!parsed) return bad(std::string("not well-formed XML: ") + parsed.description());
  for (pugi::xml_node node : document.children()) {
    if (node.type() == pugi::node_doctype) return bad("document type declarations are not taken");
  }
  const pugi::xml_node root = document.document_element();
  if (!root || local_name(root) != "ScanSettings") return bad("not a ScanSettings document");

  ScanSettings result;
  const pugi::xml_node intent = child(root, "Intent");
  result.intent = intent ? std::string(text_of(intent)) : "Document";

  const pugi::xml_node source = child(root, "InputSource");
  if (source && text_of(source) != "Platen") {
    return conflict("the scanner has only the platen (no " + std::string(text_of(source)) + ")");
  }

  std::optional<uint32_t> x_res, y_res;
  SettingsVerdict verdict;
  if (!read_number(root, "XResolution", x_res, verdict) ||
      !read_number(root, "YResolution", y_res, verdict)) {
    return verdict;
  }
  if (x_res && y_res && *x_res != *y_res) {
    return conflict("the scanner reads with the same resolution across and down");
  }
  if (x_res || y_res) {
    const uint32_t asked = x_res ? *x_res : *y_res;
    if (std::find(model.resolutions.begin(), model.resolutions.end(), asked) ==
        model.resolutions.end()) {
      return conflict("the scanner does not offer " + std::to_string(asked) + " dpi");
    }
    result.resolution = static_cast<uint16_t>(asked);
  } else if (result.intent == "Preview" && !model.resolutions.empty()) {
    result.resolution = model.resolutions.front();
  } else if (std::find(model.resolutions.begin(), model.resolutions.end(), kDefaultResolution) !=
             model.resolutions.end()) {
    result.resolution = kDefaultResolution;
  } else if (!model.resolutions.empty()) {
    result.resolution = model.resolutions.front();
  } else {
    return conflict("the scanner offers no resolution");
  }

  if (const pugi::xml_node mode = child(root, "ColorMode")) {
    const std::string_view name = text_of(mode);
    if (name == "RGB24") {
      result.mode = ColorMode::kRgb24;
    } else if (name == "Grayscale8") {
      result.mode = ColorMode::kGrayscale8;
    } else if (name == "RGB48") {
      result.mode = ColorMode::kRgb48;
    } else if (name == "Grayscale16") {
      result.mode = ColorMode::kGrayscale16;
    } else {
      return conflict("the scanner does not scan in " + std::string(name));
    }
  }

  // The extended element names the format when a client gives both.
  pugi::xml_node format = child(root, "DocumentFormatExt");
  if (!format) format = child(root, "DocumentFormat");
  if (format) {
    // "image/jpeg; charset=..." style parameters are not part of the type.
    std::string_view type = text_of(format);
    type = trimmed(type.substr(0, type.find(';')));
    if (type == "image/jpeg") {
      result.format = DocumentFormat::kJpeg;
    } else if (type == "image/png") {
      result.format = DocumentFormat::kPng;
    } else if (type == "application/pdf") {
      result.format = DocumentFormat::kPdf;
    } else {
      return conflict("the scanner does not deliver " + std::string(type));
    }
  }

  std::optional<uint32_t> brightness, contrast;
  if (!read_number(root, "Brightness", brightness, verdict) ||
      !read_number(root, "Contrast", contrast, verdict)) {
    return verdict;
  }
  if (brightness.value_or(kToneNormal) > kToneMax || contrast.value_or(kToneNormal) > kToneMax) {
    return conflict("brightness and contrast go from 0 to " + std::to_string(kToneMax));
  }
  result.brightness = static_cast<int>(brightness.value_or(kToneNormal)) - int{kToneNormal};
  result.contrast = static_cast<int>(contrast.value_or(kToneNormal)) - int{kToneNormal};

  const SettingsVerdict region = read_region(root, model, result.region);
  if (region.http_status != 200) return region;
  settings = std::move(result);
  return {};
}

}  // namespace qrx::escl
