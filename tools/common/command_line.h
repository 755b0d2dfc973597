// The command-line parser both programs share: getopt_long under the usual GNU
// rules (options and operands in any order, "--" ends the options, --name=value
// or --name value, -xVALUE or -x VALUE, unique prefixes of long names), with
// messages that name the offending argument, and strict number parsing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qrx::cli {

struct Option {
  const char* name;        // long name, without the dashes
  char letter;             // short form; 0 for none
  const char* value_name;  // what the value is, for the help ("DPI"); nullptr: takes none
  const char* help;        // one line for --help
};

struct Given {
  const Option* option = nullptr;
  std::string spelled;  // "--resolution", or "-d" when the short form was used
  std::string value;    // empty for an option without a value
};

struct Arguments {
  std::vector<Given> options;  // in command-line order, repeats included
  std::vector<std::string> operands;
};

// Parses argv[1] to argv[argc - 1]. False with a message naming the argument when
// an option is unknown or ambiguous, lacks its value or has one it does not take.
// getopt_long may reorder argv (operands after options).
bool parse(int argc, char* argv[], const std::vector<Option>& options, Arguments& arguments,
           std::string& error);

// The option list for --help: "  -d, --device=PATH   what it is", aligned.
std::string option_help(const std::vector<Option>& options);

// Decimal digits only, at most max: no sign, no spaces, no suffix, no base prefix.
bool parse_unsigned(std::string_view text, uint64_t max, uint64_t& value);
// Digits with an optional fraction ("215.9"): no sign, exponent, spaces or suffix.
bool parse_decimal(std::string_view text, double& value);

// "--resolution wants EXPECTED, not '600abc'".
std::string bad_value(const Given& given, std::string_view expected);

}  // namespace qrx::cli
