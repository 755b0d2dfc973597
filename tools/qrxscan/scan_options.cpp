// The qrxscan command line (see scan_options.h).
#include "scan_options.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <set>
#include <string_view>

#include "common/command_line.h"

namespace qrx::qrxscan {
namespace {

// The smallest window the scanner takes, in 1/9600 inch (a little over 1/3 mm).
constexpr uint32_t kMinimumExtent = 128;

const std::vector<cli::Option>& options() {
  static const std::vector<cli::Option> table = {
      {"device", 'd', "PATH", "scanner to use (default sim:, the built-in emulated scanner)"},
      {"list-devices", 'L', nullptr, "list the scanners qrxscan can reach, then exit"},
      {"resolution", 'r', "DPI", "75, 150, 300, 600, 1200, 2400 or 4800 (default 300)"},
      {"mode", 0, "Color|Gray", "colour or grey scan (default Color)"},
      {"depth", 0, "8|16", "bits per sample (default 8)"},
      {"left", 'l', "MM", "left edge of the scan area, from the scan origin (default 0)"},
      {"top", 't', "MM", "top edge of the scan area (default 0)"},
      {"width", 'x', "MM", "width of the scan area (default: to the right edge of the glass)"},
      {"height", 'y', "MM", "height of the scan area (default: to the far edge of the glass)"},
      {"area", 0, "L,T,W,H", "the four above at once, in millimetres"},
      {"format", 0, "FORMAT", "png, tiff, jpeg or pnm (default: from the file name, else pnm)"},
      {"output-file", 'o', "FILE", "write the image to FILE (default: standard output)"},
      {"progress", 'p', nullptr, "show the progress (on by default on a terminal)"},
      {"no-progress", 0, nullptr, "do not show the progress"},
      {"calibrate", 0, nullptr, "calibrate for the scan's resolution before scanning"},
      {"wait-for-button", 0, nullptr, "scan when a button on the scanner is pressed"},
      {"test", 'T', nullptr, "run the scanner's self-tests, then exit"},
      {"help", 'h', nullptr, "show this help and exit"},
      {"version", 'V', nullptr, "show the version and exit"},
  };
  return table;
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool millimetres(const cli::Given& given, double& value, std::string& error) {
  if (!cli::parse_decimal(given.value, value)) {
    error = cli::bad_value(given, "a length in millimetres such as 210 or 215.9");
    return false;
  }
  return true;
}

// Applies one option to request; false with a message on a bad value.
bool apply(const cli::Given& given, ScanRequest& request, std::optional<ImageFormat>& format,
           std::string& error) {
  const std::string_view name = given.option->name;
  const std::string& value = given.value;
  if (name == "device") {
    if (value.empty()) {
      error = cli::bad_value(given, "a device path such as sim: or sim:/run/qrx.sock");
      return false;
    }
    request.devices.push_back(value);
    request.device = value;
  } else if (name == "list-devices") {
    request.action = Action::kListDevices;
  } else if (name == "test") {
    request.action = Action::kSelfTest;
  } else if (name == "resolution") {
    uint64_t dpi = 0;
    if (!cli::parse_unsigned(value, 65535, dpi) || dpi == 0) {
      error = cli::bad_value(given, "a resolution in dots per inch such as 300");
      return false;
    }
    request.resolution = static_cast<uint16_t>(dpi);
  } else if (name == "mode") {
    const std::string mode = lower(value);
    if (mode == "color" || mode == "colour") {
      request.mode = ColourMode::kColor;
    } else if (mode == "gray" || mode == "grey") {
      request.mode = ColourMode::kGray;
    } else {
      error = cli::bad_value(given, "Color or Gray");
      return false;
    }
  } else if (name == "depth") {
    if (value != "8" && value != "16") {
      error = cli::bad_value(given, "8 or 16");
      return false;
    }
    request.depth = value == "8" ? 8 : 16;
  } else if (name == "left") {
    return millimetres(given, request.left_mm, error);
  } else if (name == "top") {
    return millimetres(given, request.top_mm, error);
  } else if (name == "width" || name == "height") {
    double mm = 0;
    if (!millimetres(given, mm, error)) return false;
    if (mm <= 0) {
      error = cli::bad_value(given, "a length above 0 millimetres");
      return false;
    }
    (name == "width" ? request.width_mm : request.height_mm) = mm;
  } else if (name == "area") {
    double mm[4];
    std::string_view rest = value;
    for (int i = 0; i < 4; ++i) {
      const size_t comma = rest.find(',');
      const std::string_view part = rest.substr(0, comma);
      if ((comma == std::string_view::npos) != (i == 3) || !cli::parse_decimal(part, mm[i]) ||
          (i >= 2 && mm[i] <= 0)) {
        error = cli::bad_value(given, "left,top,width,height in millimetres such as 0,0,210,297");
        return false;
      }
      rest.remove_prefix(comma == std::string_view::npos ? rest.size() : comma + 1);
    }
    request.left_mm = mm[0];
    request.top_mm = mm[1];
    request.width_mm = mm[2];
    request.height_mm = mm[3];
  } else if (name == "format") {
    format = format_from_name(value);
    if (!format) {
      error = cli::bad_value(given, "png, tiff, jpeg or pnm");
      return false;
    }
  } else if (name == "output-file") {
    if (value.empty()) {
      error = cli::bad_value(given, "a file name");
      return false;
    }
    request.output = value;
  } else if (name == "progress") {
    request.progress = ProgressChoice::kOn;
  } else if (name == "no-progress") {
    request.progress = ProgressChoice::kOff;
  } else if (name == "calibrate") {
    request.calibrate_first = true;
  } else if (name == "wait-for-button") {
    request.wait_for_button = true;
  }
  return true;
}

// The command operands: none or "scan", "info", "calibrate [DPI]".
bool apply_command(const std::vector<std::string>& operands, ScanRequest& request,
                   std::string& error) {
  if (operands.empty()) return true;
  const std::string& command = operands[0];
  size_t used = 1;
  if (command == "scan") {
    request.action = Action::kScan;
  } else if (command == "info") {
    request.action = Action::kInfo;
  } else if (command == "calibrate") {
    request.action = Action::kCalibrate;
    if (operands.size() > 1) {
      uint64_t dpi = 0;
      if (!cli::parse_unsigned(operands[1], 65535, dpi) || dpi == 0) {
        error =
            "calibrate wants a resolution in dots per inch such as 600, not '" + operands[1] + "'";
        return false;
      }
      request.calibrate_dpi = static_cast<uint16_t>(dpi);
      used = 2;
    }
  } else {
    error = "unknown command '" + command + "' (scan, info or calibrate)";
    return false;
  }
  if (operands.size() > used) {
    error = "unexpected argument '" + operands[used] + "'";
    return false;
  }
  return true;
}

}  // namespace

bool parse_scan_request(int argc, char** argv, ScanRequest& request, std::string& error) {
  cli::Arguments arguments;
  if (!cli::parse(argc, argv, options(), arguments, error)) return false;
  ScanRequest parsed;
  for (const cli::Given& given : arguments.options) {
    const std::string_view name = given.option->name;
    if (name == "help") parsed.action = Action::kHelp;
    if (name == "version" && parsed.action != Action::kHelp) parsed.action = Action::kVersion;
  }
  if (parsed.action == Action::kHelp || parsed.action == Action::kVersion) {
    request = std::move(parsed);
    return true;
  }

  std::optional<ImageFormat> format;
  std::set<std::string_view> seen;
  bool edges_given = false, area_given = false;
  for (const cli::Given& given : arguments.options) {
    const std::string_view name = given.option->name;
    if (name != "device" && !seen.insert(name).second) {
      error = given.spelled + " given twice";
      return false;
    }
    if (name == "left" || name == "top" || name == "width" || name == "height") edges_given = true;
    if (name == "area") area_given = true;
    if (!apply(given, parsed, format, error)) return false;
  }
  if (edges_given && area_given) {
    error = "--area and -l/-t/-x/-y both give the scan area: use one or the other";
    return false;
  }
  if (parsed.action == Action::kScan && !apply_command(arguments.operands, parsed, error)) {
    return false;
  }
  if (parsed.action != Action::kScan && parsed.action != Action::kInfo &&
      parsed.action != Action::kCalibrate && !arguments.operands.empty()) {
    error = "unexpected argument '" + arguments.operands.front() + "'";
    return false;
  }
  if (parsed.devices.size() > 1 && parsed.action != Action::kListDevices) {
    error = "--device given twice (only -L takes several)";
    return false;
  }

  // The image format: as given, else from the file name, else PNM (as scanimage).
  if (format) {
    parsed.format = *format;
  } else if (!parsed.output.empty()) {
    const std::optional<ImageFormat> named = format_from_file_name(parsed.output);
    if (!named) {
      error = "cannot tell the image format from the name '" + parsed.output +
              "': give --format png, tiff, jpeg or pnm";
      return false;
    }
    parsed.format = *named;
  }
  if (parsed.action == Action::kScan) {
    if (!format_available(parsed.format)) {
      error =
          std::string("this build of qrxscan writes PNM only, not ") + format_name(parsed.format);
      return false;
    }
    if (parsed.depth == 16 && !format_holds_16_bits(parsed.format)) {
      error = "--depth 16 needs PNG, TIFF or PNM: JPEG holds 8 bits per sample";
      return false;
    }
    if (parsed.output.empty() && format_needs_seekable_file(parsed.format)) {
      error = std::string(format_name(parsed.format)) + " output needs a file: give -o FILE";
      return false;
    }
  }
  request = std::move(parsed);
  return true;
}

std::string usage_line() {
  return "usage: qrxscan [-d DEVICE] [--resolution DPI] [--mode Color|Gray] [--depth 8|16]\n"
         "               [-l MM] [-t MM] [-x MM] [-y MM] [--format FORMAT] [-o FILE] [scan]\n"
         "       qrxscan -L | -T | [-d DEVICE] info | [-d DEVICE] calibrate [DPI]\n";
}

std::string help_text() {
  return usage_line() +
         "Scans with a QRX7730 flatbed scanner through the qrx7730 library.\n\n"
         "Commands:\n"
         "  scan                      scan the area into an image (the default)\n"
         "  info                      open the scanner and show what it is and can do\n"
         "  calibrate [DPI]           find the scan origin and calibrate at DPI (default 600)\n\n"
         "Options:\n" +
         cli::option_help(options()) +
         "\nExamples:\n"
         "  qrxscan --resolution 300 -o scan.png               the whole glass in colour\n"
         "  qrxscan --mode Gray --depth 16 -x 100 -y 50 -o part.tiff\n"
         "  qrxscan -d sim:/run/qrx.sock -L                     list, with a daemon's scanner\n\n"
         "Exit status: 0 done, 1 the scanner or the library failed, 2 a mistake in the\n"
         "arguments, 130 interrupted.\n";
}

bool window_on_glass(const ScanRequest& request, const Abilities& abilities, Window& window,
                     std::string& error) {
  if (!abilities.offers(request.resolution)) {
    error =
        "--resolution " + std::to_string(request.resolution) + " is not offered by the scanner (";
    for (size_t i = 0; i < abilities.resolutions.size(); ++i) {
      error += (i == 0 ? "" : ", ") + std::to_string(abilities.resolutions[i]);
    }
    error += ")";
    return false;
  }
  const double per_mm = abilities.area_unit / 25.4;
  const auto units = [&](double mm) { return std::llround(mm * per_mm); };
  const long long glass_width = abilities.glass_width, glass_length = abilities.glass_length;
  const long long x = units(request.left_mm), y = units(request.top_mm);
  const long long width = request.width_mm ? units(*request.width_mm) : glass_width - x;
  const long long length = request.height_mm ? units(*request.height_mm) : glass_length - y;
  char text[160];
  if (x + kMinimumExtent > glass_width || x + width > glass_width) {
    std::snprintf(text, sizeof text,
                  "-l %.1f and -x %.1f mm reach past the right edge of the glass (%.1f mm wide)",
                  request.left_mm, width / per_mm, abilities.glass_width_mm());
    error = text;
    return false;
  }
  if (y + kMinimumExtent > glass_length || y + length > glass_length) {
    std::snprintf(text, sizeof text,
                  "-t %.1f and -y %.1f mm reach past the far edge of the glass (%.1f mm long)",
                  request.top_mm, length / per_mm, abilities.glass_length_mm());
    error = text;
    return false;
  }
  if (width < kMinimumExtent || length < kMinimumExtent) {
    std::snprintf(text, sizeof text,
                  "the scan area is %.2f x %.2f mm; the scanner takes at least %.2f mm",
                  width / per_mm, length / per_mm, kMinimumExtent / per_mm);
    error = text;
    return false;
  }
  window = {static_cast<uint32_t>(x), static_cast<uint32_t>(y), static_cast<uint32_t>(width),
            static_cast<uint32_t>(length)};
  return true;
}

}  // namespace qrx::qrxscan
