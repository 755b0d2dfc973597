// Front-panel buttons: which one a register value means, and that each press is
// reported once.
#include <gtest/gtest.h>

#include "device/push_buttons.h"
#include "support/sim_fixture.h"

namespace qrx::test {
namespace {

TEST(ButtonDecodeTest, LowBitsNameTheButtonAndTheLowestNumberWins) {
  EXPECT_EQ(device::pressed_button(0x3F), 0u);
  EXPECT_EQ(device::pressed_button(0x37), 1u);  // bit 3 low
  EXPECT_EQ(device::pressed_button(0x3E), 2u);  // bit 0 low
  EXPECT_EQ(device::pressed_button(0x3B), 3u);  // bit 2 low
  EXPECT_EQ(device::pressed_button(0x3D), 4u);  // bit 1 low
  EXPECT_EQ(device::pressed_button(0x36), 1u);  // 1 and 2 down: 1
  EXPECT_EQ(device::pressed_button(0x39), 3u);  // 3 and 4 down: 3
  EXPECT_EQ(device::pressed_button(0x30), 0u);  // all four low reads as none
}

using ButtonTest = SimTest;

ButtonEvent poll(uint16_t expected_status = QRX_OK) {
  ButtonEvent event{0xEE, 0xEE};
  EXPECT_EQ(ReadPushButton(nullptr, 0, &event), QRX_TRUE);
  uint16_t status = 0;
  GetScannerStatus(nullptr, &status);
  EXPECT_EQ(status, expected_status);
  return event;
}

TEST_F(ButtonTest, APressIsReportedOnceAndAgainAfterRelease) {
  ASSERT_TRUE(open_scanner());
  ButtonEvent e = poll();
  EXPECT_EQ(e.Pressed, 0);
  EXPECT_EQ(e.Button, 0);
  scanner->press_button(1);
  e = poll();
  EXPECT_EQ(e.Pressed, 0x80);
  EXPECT_EQ(e.Button, 0x01);
  e = poll();
  EXPECT_EQ(e.Pressed, 0) << "still held: no new event";
  scanner->release_button(1);
  e = poll();
  EXPECT_EQ(e.Pressed, 0) << "a release is no event";
  scanner->press_button(1);
  EXPECT_EQ(poll().Button, 0x01);
  scanner->release_button(1);
  scanner->press_button(4);
  e = poll();
  EXPECT_EQ(e.Pressed, 0x80);
  EXPECT_EQ(e.Button, 0x08);
  scanner->press_button(2);
  EXPECT_EQ(poll().Button, 0x02) << "2 wins over 4 and is new";
}

TEST_F(ButtonTest, AnUnreadableRegisterShowsInTheLastStatusAndReportsNoButton) {
  ASSERT_TRUE(open_scanner());
  scanner->press_button(3);
  scanner->fail_request({emu::RequestKind::ControlIn, 0x8E, 0x6D}, 1);
  ButtonEvent e = poll(QRX_E_BUTTON_REGISTER);
  EXPECT_EQ(e.Pressed, 0) << "a failed poll reports no press";
  EXPECT_EQ(e.Button, 0);
  EXPECT_EQ(lib().status_block.busy(), 0u);
  EXPECT_EQ(poll().Button, 0x04) << "the failed poll did not count as seeing button 3";
}

TEST_F(ButtonTest, WithNoScannerOpenAPollReportsNoButtonAndSaysWhy) {
  // No scanner open, as at a process's first call.
  ButtonEvent e{0xA5, 0xA5};
  EXPECT_EQ(ReadPushButton(nullptr, 0, &e), QRX_TRUE);
  EXPECT_EQ(e.Pressed, 0);
  EXPECT_EQ(e.Button, 0);
  uint16_t status = 0;
  GetScannerStatus(nullptr, &status);
  EXPECT_EQ(status, QRX_E_NOT_OPEN);
  // A button held down while the scanner is open, then closed: no press is
  // reported from a closed scanner.
  ASSERT_TRUE(open_scanner());
  scanner->press_button(2);
  EXPECT_EQ(poll().Button, 0x02);
  ASSERT_EQ(TerminateScanner(nullptr), QRX_TRUE);
  scanner->release_button(2);
  scanner->press_button(1);
  e = poll(QRX_E_NOT_OPEN);
  EXPECT_EQ(e.Pressed, 0);
  EXPECT_EQ(e.Button, 0);
}

TEST_F(ButtonTest, InitialButtonDescribesTheButtons) {
  ButtonLayout layout{};
  EXPECT_EQ(InitialButton(nullptr, &layout), QRX_TRUE);
  EXPECT_EQ(layout.Count, 3u);
  EXPECT_EQ(layout.Value1, 7);
  EXPECT_EQ(layout.Value2, 7);
}

}  // namespace
}  // namespace qrx::test
