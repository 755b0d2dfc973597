// The status table holds exactly the codes of the public header, read here from
// the header's text on its own terms, and words them.
#include "status_text.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "qrx7730.h"

namespace qrx::test {
namespace {

// Every "QRX_... = 0xHHHH" of enum QRX_Status in the header.
std::map<std::string, uint16_t> header_codes() {
  std::ifstream file(QRX_PUBLIC_HEADER);
  std::stringstream text;
  text << file.rdbuf();
  const std::string header = text.str();
  const size_t begin = header.find("enum QRX_Status {");
  const size_t end = header.find("};", begin);
  EXPECT_NE(begin, std::string::npos);
  const std::string body = header.substr(begin, end - begin);
  std::map<std::string, uint16_t> codes;
  const std::regex enumerator(R"((QRX_[A-Z0-9_]+)\s*=\s*(0x[0-9A-Fa-f]+))");
  for (std::sregex_iterator it(body.begin(), body.end(), enumerator), last; it != last; ++it) {
    codes[(*it)[1]] = static_cast<uint16_t>(std::stoul((*it)[2], nullptr, 16));
  }
  return codes;
}

TEST(StatusText, TheTableHoldsEveryCodeOfTheHeader) {
  const std::map<std::string, uint16_t> expected = header_codes();
  ASSERT_GT(expected.size(), 100u);
  std::map<std::string, uint16_t> table;
  for (const auto& entry : qrxscan::status_table()) table[entry.name] = entry.code;
  EXPECT_EQ(table, expected);
}

TEST(StatusText, NameMeaningAndCode) {
  EXPECT_EQ(qrxscan::describe_status(QRX_E_UNSUPPORTED),
            "QRX_E_UNSUPPORTED (0x9706): this build of the library cannot do what was asked");
  // A code without a comment of its own is described by its family.
  EXPECT_EQ(qrxscan::describe_status(QRX_E_SHADING_UPLOAD_G),
            "QRX_E_SHADING_UPLOAD_G (0x9B38): a device operation failed");
  EXPECT_EQ(qrxscan::describe_status(0xA405),
            "QRX_LAMP_WARMING_UP (0xA405): the lamp is still warming up (attempt 5)");
  EXPECT_EQ(qrxscan::describe_status(0x1234), "status 0x1234 (a code this program does not know)");
}

}  // namespace
}  // namespace qrx::test
