// The shared command-line parser (see command_line.h).
#include "common/command_line.h"

#include <getopt.h>

#include <charconv>
#include <cmath>

namespace qrx::cli {
namespace {

// getopt_long reports a long option by this value plus its index.
constexpr int kLongBase = 0x1000;

std::string long_form(const Option& option) {
  return std::string("--") + option.name;
}

// The option written in argument (a long option, with or without "=value").
std::string written_name(const char* argument) {
  std::string_view text = argument;
  const size_t equals = text.find('=');
  return std::string(text.substr(0, equals));
}

// Message for an option getopt_long did not accept ('?').
std::string refused(const char* argument, int optopt_value, const std::vector<Option>& options) {
  if (optopt_value >= kLongBase) {
    return "option '" + long_form(options[optopt_value - kLongBase]) + "' takes no value";
  }
  if (optopt_value != 0) return std::string("unknown option '-") + char(optopt_value) + "'";
  const std::string written = written_name(argument);
  if (written.rfind("--", 0) != 0) return "unknown option '" + written + "'";
  const std::string_view prefix = std::string_view(written).substr(2);
  std::string candidates;
  int matches = 0;
  for (const Option& option : options) {
    if (std::string_view(option.name).substr(0, prefix.size()) == prefix) {
      candidates += (matches++ == 0 ? "" : ", ") + long_form(option);
    }
  }
  if (matches > 1) return "ambiguous option '" + written + "' (" + candidates + ")";
  return "unknown option '" + written + "'";
}

}  // namespace

bool parse(int argc, char* argv[], const std::vector<Option>& options, Arguments& arguments,
           std::string& error) {
  std::string letters = ":";  // ':' first: a missing value is reported as ':'
  std::vector<option> table;
  for (size_t i = 0; i < options.size(); ++i) {
    const bool takes_value = options[i].value_name != nullptr;
    table.push_back({options[i].name, takes_value ? required_argument : no_argument, nullptr,
                     kLongBase + static_cast<int>(i)});
    if (options[i].letter != 0) {
      letters += options[i].letter;
      if (takes_value) letters += ':';
    }
  }
  table.push_back({nullptr, 0, nullptr, 0});

  Arguments parsed;
  optind = 0;  // start afresh, also when called again
  opterr = 0;  // the messages are ours
  for (;;) {
    const int got = getopt_long(argc, argv, letters.c_str(), table.data(), nullptr);
    if (got == -1) break;
    const char* argument = argv[optind - 1 < argc ? optind - 1 : argc - 1];
    if (got == '?') {
      error = refused(argument, optopt, options);
      return false;
    }
    if (got == ':') {
      const Option* option = nullptr;
      std::string spelled;
      if (optopt >= kLongBase) {
        option = &options[optopt - kLongBase];
        spelled = long_form(*option);
      } else {
        for (const Option& candidate : options) {
          if (candidate.letter == optopt) option = &candidate;
        }
        spelled = std::string("-") + char(optopt);
      }
      error = "option '" + spelled + "' needs a value";
      if (option != nullptr) error += std::string(" (") + option->value_name + ")";
      return false;
    }
    Given given;
    if (got >= kLongBase) {
      given.option = &options[got - kLongBase];
      given.spelled = long_form(*given.option);
    } else {
      for (const Option& candidate : options) {
        if (candidate.letter == got) given.option = &candidate;
      }
      given.spelled = std::string("-") + char(got);
    }
    if (given.option == nullptr) {
      error = std::string("unknown option '-") + char(got) + "'";
      return false;
    }
    if (given.option->value_name != nullptr && optarg != nullptr) given.value = optarg;
    parsed.options.push_back(std::move(given));
  }
  for (int i = optind; i < argc; ++i) parsed.operands.emplace_back(argv[i]);
  arguments = std::move(parsed);
  return true;
}

std::string option_help(const std::vector<Option>& options) {
  constexpr size_t kHelpColumn = 28;
  std::string text;
  for (const Option& option : options) {
    std::string left = "  ";
    left += option.letter != 0 ? std::string("-") + option.letter + ", " : std::string("    ");
    left += long_form(option);
    if (option.value_name != nullptr) left += std::string("=") + option.value_name;
    if (left.size() + 2 > kHelpColumn) {
      text += left + "\n" + std::string(kHelpColumn, ' ');
    } else {
      text += left + std::string(kHelpColumn - left.size(), ' ');
    }
    text += std::string(option.help) + "\n";
  }
  return text;
}

bool parse_unsigned(std::string_view text, uint64_t max, uint64_t& value) {
  if (text.empty() || text.front() < '0' || text.front() > '9') return false;
  uint64_t parsed = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (ec != std::errc() || end != text.data() + text.size() || parsed > max) return false;
  value = parsed;
  return true;
}

bool parse_decimal(std::string_view text, double& value) {
  if (text.empty() || text.front() < '0' || text.front() > '9') return false;
  double parsed = 0;
  const auto [end, ec] =
      std::from_chars(text.data(), text.data() + text.size(), parsed, std::chars_format::fixed);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(parsed)) {
    return false;
  }
  value = parsed;
  return true;
}

std::string bad_value(const Given& given, std::string_view expected) {
  return given.spelled + " wants " + std::string(expected) + ", not '" + given.value + "'";
}

}  // namespace qrx::cli
