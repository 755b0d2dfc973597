// The parser both programs share: GNU option rules, messages that name the
// argument, strict numbers.
#include "common/command_line.h"

#include <gtest/gtest.h>

#include "argv_helper.h"

namespace qrx::test {
namespace {

const std::vector<cli::Option> kOptions = {
    {"device", 'd', "PATH", "device"},        {"depth", 0, "BITS", "depth"},
    {"resolution", 'r', "DPI", "resolution"}, {"list", 'L', nullptr, "list"},
    {"progress", 'p', nullptr, "progress"},
};

bool parse(Argv args, cli::Arguments& out, std::string& error) {
  return cli::parse(args.argc(), args.argv(), kOptions, out, error);
}

TEST(CommandLine, OptionsAndOperandsInAnyOrderWithEveryValueSpelling) {
  cli::Arguments out;
  std::string error;
  ASSERT_TRUE(
      parse({"info", "-dsim:", "--reso", "300", "-Lp", "--depth=16", "--", "-x"}, out, error))
      << error;
  ASSERT_EQ(out.options.size(), 5u);
  EXPECT_EQ(out.options[0].spelled, "-d");
  EXPECT_EQ(out.options[0].value, "sim:");
  EXPECT_EQ(out.options[1].spelled, "--resolution") << "a unique prefix names the whole option";
  EXPECT_EQ(out.options[1].value, "300");
  EXPECT_STREQ(out.options[2].option->name, "list");
  EXPECT_STREQ(out.options[3].option->name, "progress");
  EXPECT_EQ(out.options[4].value, "16");
  EXPECT_EQ(out.operands, (std::vector<std::string>{"info", "-x"})) << "-- ends the options";
  // A value that looks like an option is still the value.
  ASSERT_TRUE(parse({"--device", "-1"}, out, error));
  EXPECT_EQ(out.options[0].value, "-1");
}

TEST(CommandLine, EveryMistakeNamesTheArgument) {
  struct {
    Argv args;
    const char* message;
  } cases[] = {
      {{"--colour", "red"}, "unknown option '--colour'"},
      {{"--colour=red"}, "unknown option '--colour'"},
      {{"-q"}, "unknown option '-q'"},
      {{"-Lq"}, "unknown option '-q'"},
      {{"--de", "x"}, "ambiguous option '--de' (--device, --depth)"},
      {{"--device"}, "option '--device' needs a value (PATH)"},
      {{"-r"}, "option '-r' needs a value (DPI)"},
      {{"--list=yes"}, "option '--list' takes no value"},
  };
  for (auto& c : cases) {
    cli::Arguments out;
    std::string error;
    EXPECT_FALSE(cli::parse(c.args.argc(), c.args.argv(), kOptions, out, error)) << c.message;
    EXPECT_EQ(error, c.message);
  }
}

TEST(CommandLine, NumbersAreParsedStrictly) {
  uint64_t n = 7;
  EXPECT_TRUE(cli::parse_unsigned("600", 65535, n));
  EXPECT_EQ(n, 600u);
  EXPECT_TRUE(cli::parse_unsigned("65535", 65535, n));
  for (const char* bad :
       {"", "600abc", "60 0", " 600", "+600", "-1", "0x10", "65536", "99999999999999999999999"}) {
    n = 7;
    EXPECT_FALSE(cli::parse_unsigned(bad, 65535, n)) << bad;
    EXPECT_EQ(n, 7u) << "left unchanged: " << bad;
  }
  double mm = 0;
  EXPECT_TRUE(cli::parse_decimal("215.9", mm));
  EXPECT_DOUBLE_EQ(mm, 215.9);
  EXPECT_TRUE(cli::parse_decimal("0", mm));
  for (const char* bad : {"", "-1", "1e3", ".5", "nan", "inf", "1,5", "12mm", "1.2.3"}) {
    EXPECT_FALSE(cli::parse_decimal(bad, mm)) << bad;
  }
}

}  // namespace
}  // namespace qrx::test
