// InitializeScanner: the first homing and reference edge search, once per status
// block, and what it stores when the mark cannot be found.
#include <gtest/gtest.h>

#include "support/sim_fixture.h"

namespace qrx::test {
namespace {

class InitializeTest : public SimTest {
 protected:
  size_t starts() {
    size_t n = 0;
    for (const auto& e : scanner->trace({emu::RequestKind::ControlOut, 0x83, 0x0F})) n += e.ok;
    return n;
  }
};

TEST_F(InitializeTest, FindsTheReferenceMarkAndSharesTheOffset) {
  ASSERT_TRUE(open_scanner());
  scanner->clear_trace();
  ASSERT_EQ(InitializeScanner(nullptr), QRX_TRUE) << std::hex << last_error();
  // The white level and the moving read take 3141 ticks of each LED: 785 in the
  // exposure registers with the divider 4 of these 600 dpi reads.
  size_t white_reads = 0;
  uint32_t high = 0;
  for (const auto& e : scanner->trace({emu::RequestKind::ControlOut, 0x83, -1})) {
    if (e.data[0] == 0x14) high = e.data[1];
    if (e.data[0] == 0x15 && (high << 8 | e.data[1]) == 785) ++white_reads;
  }
  EXPECT_EQ(white_reads, 2u);
  EXPECT_EQ(last_error(), QRX_OK);
  const uint16_t home = lib().status_block.home_offset();
  EXPECT_EQ(home, scanner->expected_home_offset());
  EXPECT_EQ(lib().status_block.home_offset_aux(), 0);
  EXPECT_EQ(lib().context.reference_offset, home);
  EXPECT_EQ(scanner->carriage_steps(), 0.0) << "the search ends with the carriage home";

  // Once found, later calls (from any process) reuse it without moving.
  scanner->clear_trace();
  lib().last_error = 0x1234;
  ASSERT_EQ(InitializeScanner(nullptr), QRX_TRUE);
  EXPECT_EQ(starts(), 0u);
  EXPECT_EQ(last_error(), 0x1234) << "nothing ran, nothing reported";

  // FindScannerEx again on the path keeps the block with the offset in it.
  ASSERT_TRUE(open_scanner());
  ASSERT_EQ(InitializeScanner(nullptr), QRX_TRUE);
  EXPECT_EQ(starts(), 0u);
  EXPECT_EQ(lib().status_block.home_offset(), home);
}

TEST_F(InitializeTest, PortTypeTwoFindsTheSameOrigin) {
  emu::Options options;
  options.port_type = 2;
  reset_scanner(options);
  ASSERT_TRUE(open_scanner());
  ASSERT_EQ(InitializeScanner(nullptr), QRX_TRUE) << std::hex << last_error();
  EXPECT_EQ(lib().status_block.home_offset(), scanner->expected_home_offset());
}

struct MarkCase {
  const char* name;
  emu::Options::Mark mark;
  uint32_t lamp_percent;
};

TEST_F(InitializeTest, WithoutAUsableMarkNothingIsStoredAndTheNextCallTriesAgain) {
  const MarkCase cases[] = {{"no mark", emu::Options::Mark::kNone, 100},
                            {"mark under both columns", emu::Options::Mark::kWide, 100},
                            {"no contrast", emu::Options::Mark::kStandard, 0}};
  for (const MarkCase& c : cases) {
    emu::Options options;
    options.mark = c.mark;
    options.lamp_percent = c.lamp_percent;
    reset_scanner(options);
    TerminateScanner(nullptr);
    ASSERT_TRUE(open_scanner()) << c.name;
    EXPECT_EQ(InitializeScanner(nullptr), QRX_FALSE) << c.name;
    EXPECT_EQ(last_error(), QRX_E_REFERENCE_MARK) << c.name;
    EXPECT_EQ(lib().status_block.home_offset(), 0) << c.name;
    EXPECT_EQ(lib().status_block.busy(), 0u) << c.name;
  }
  // The mark back in place: the search runs again and succeeds.
  reset_scanner(emu::Options{});
  TerminateScanner(nullptr);
  ASSERT_TRUE(open_scanner());
  EXPECT_EQ(InitializeScanner(nullptr), QRX_TRUE);
  EXPECT_EQ(lib().status_block.home_offset(), scanner->expected_home_offset());
}

// Each search on a fresh scanner and its own device path, so that no stored offset
// skips it.
class ReferenceMarkTest : public InitializeTest {
 protected:
  uint16_t search(const emu::Options& options, uint16_t& home) {
    reset_scanner(options);
    TerminateScanner(nullptr);
    path += "+";
    if (!open_scanner()) return last_error();
    const uint16_t status = InitializeScanner(nullptr) ? uint16_t{QRX_OK} : last_error();
    home = lib().status_block.home_offset();
    return status;
  }
};

TEST_F(ReferenceMarkTest, AGreyMarkIsJudgedAgainstTheWhiteMinusDarkDifference) {
  // The threshold is 60 % of white minus dark (about 53 over a dark level of 11
  // and a white of 100): a mark of 40 % reflectance averages about 50 and is the
  // mark; one of 45 % averages about 55 and is not, though it is below 60 % of
  // the white level itself.
  emu::Options options;
  options.mark_percent = 40;
  uint16_t home = 0;
  EXPECT_EQ(search(options, home), QRX_OK);
  EXPECT_EQ(home, scanner->expected_home_offset());
  options.mark_percent = 45;
  EXPECT_EQ(search(options, home), QRX_E_REFERENCE_MARK);
  EXPECT_EQ(home, 0);
}

TEST_F(ReferenceMarkTest, TheSecondColumnsEdgeMustComeTwentyThreeLinesLater) {
  // A mark under both columns whose part under the second starts lower: 92 units
  // are 23 lines at 600 dpi, 88 units 22.
  emu::Options options;
  options.mark = emu::Options::Mark::kWide;
  options.mark_step_units = 92;
  uint16_t home = 0;
  EXPECT_EQ(search(options, home), QRX_OK);
  EXPECT_EQ(home, scanner->expected_home_offset());
  options.mark_step_units = 88;
  EXPECT_EQ(search(options, home), QRX_E_REFERENCE_MARK);
}

TEST_F(InitializeTest, ADeviceFailureDuringTheSearchPassesItsCodeThrough) {
  ASSERT_TRUE(open_scanner());
  scanner->jam_motor(true);
  EXPECT_EQ(InitializeScanner(nullptr), QRX_FALSE);
  EXPECT_EQ(last_error(), QRX_E_MOTOR_TIMEOUT);
  EXPECT_EQ(lib().status_block.home_offset(), 0);
}

}  // namespace
}  // namespace qrx::test
