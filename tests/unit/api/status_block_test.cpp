// The status block: naming from the device path, creation values, field ids and
// the shared copies.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "api/status_block.h"
#include "platform/shared_block.h"
#include "support/api_fixture.h"

namespace qrx::test {
namespace {

using api::StatusBlock;

TEST(StatusBlockNameTest, BackslashesGoAndCapitalsAreLowered) {
  EXPECT_EQ(StatusBlock::lowered_path("\\\\.\\UsbScan0"), ".usbscan0");
  EXPECT_EQ(StatusBlock::lowered_path("sim:/Tmp/ÄB"), "sim:/tmp/\xC3\x84" "b")
      << "only A to Z are lowered; other bytes stay";
}

TEST(StatusBlockTest, BeforeOpeningReadsLeaveTheDestinationAndWritesDoNothing) {
  StatusBlock block;
  uint16_t value = 0xBEEF;
  EXPECT_EQ(block.read_field(2, &value, 2), 0u);
  EXPECT_EQ(value, 0xBEEF);
  EXPECT_EQ(block.write_field(2, &value, 2), 0u);
  EXPECT_NE(block.try_take_busy(), 0u) << "no block: nobody is kept waiting";
  EXPECT_EQ(block.read_field(6, &value, 2), 50u);
}

TEST(StatusBlockTest, AFreshBlockHoldsTheCreationValuesAndASecondOpenSeesLaterValues) {
  const std::string path = "test:Creation-" + std::to_string(getpid());
  StatusBlock first;
  EXPECT_EQ(first.open(path.c_str()), 0u);
  uint16_t home = 7, aux = 7;
  uint32_t busy = 7;
  uint8_t position = 7, lamp = 7;
  first.read_field(2, &home, 2);
  first.read_field(1, &aux, 2);
  first.read_field(3, &busy, 4);
  first.read_field(4, &position, 1);
  first.read_field(5, &lamp, 1);
  EXPECT_EQ(home, 0);
  EXPECT_EQ(aux, 0);
  EXPECT_EQ(busy, 0u);
  EXPECT_EQ(position, 3);
  EXPECT_EQ(lamp, 1);

  const uint16_t stored = 363;
  first.write_field(2, &stored, 2);
  StatusBlock second;
  EXPECT_EQ(second.open(path.c_str()), 183u) << "the block existed";
  EXPECT_EQ(second.home_offset(), 363);
  EXPECT_EQ(second.lamp_state(), 1) << "not reset to the creation values";
}

TEST(StatusBlockTest, OpeningThePathAgainKeepsTheBlockAndItsValues) {
  const std::string path = "test:Reopen-" + std::to_string(getpid());
  StatusBlock block;
  ASSERT_EQ(block.open(path.c_str()), 0u);
  const uint16_t home = 363;
  block.write_field(2, &home, 2);
  block.set_lamp_state(12);
  EXPECT_EQ(block.open(path.c_str()), 183u) << "this process alone holds it, and keeps it";
  EXPECT_EQ(block.home_offset(), 363);
  EXPECT_EQ(block.lamp_state(), 12);
  const std::string other = path + "-other";
  EXPECT_EQ(block.open(other.c_str()), 0u) << "another path: a block of its own";
  EXPECT_EQ(block.home_offset(), 0);
}

TEST(StatusBlockTest, FieldIdsAndTheirSharedCopies) {
  const std::string path = "test:Copies-" + std::to_string(getpid());
  // The library's section is written by every process of the machine: the copies
  // go to an area of this test.
  uint8_t section[16] = {};
  StatusBlock block(section);
  block.open(path.c_str());

  const uint16_t home = 0x0203, aux = 0x0405;
  const uint8_t position = 2, lamp = 12;
  block.write_field(2, &home, 2);
  block.write_field(1, &aux, 2);
  block.write_field(4, &position, 1);
  block.write_field(5, &lamp, 1);
  EXPECT_EQ(section[0], 12);
  EXPECT_EQ(section[1], 2);
  uint16_t copy16 = 0;
  std::memcpy(&copy16, section + 4, 2);
  EXPECT_EQ(copy16, 0x0405);
  std::memcpy(&copy16, section + 8, 2);
  EXPECT_EQ(copy16, 0x0203);

  // A field is never written past its width.
  const uint32_t wide = 0xFFFFFFFF;
  block.write_field(4, &wide, 4);
  EXPECT_EQ(block.lamp_state(), 12) << "field 4 is one byte; field 5 next to it is untouched";

  const StatusBlock::BusyTicket ticket = block.try_take_busy();
  ASSERT_NE(ticket, 0u);
  uint32_t busy_copy = 0;
  std::memcpy(&busy_copy, section + 12, 4);
  EXPECT_EQ(busy_copy, 1u);
  EXPECT_EQ(block.try_take_busy(), 0u) << "held by a live caller";
  block.release_busy(ticket);
  EXPECT_EQ(block.busy(), 0u);
  const StatusBlock::BusyTicket next = block.try_take_busy();
  ASSERT_NE(next, 0u);
  block.release_busy(ticket);
  EXPECT_EQ(block.busy(), 1u) << "an ended hold cannot release the next one";
  const uint32_t zero = 0;
  EXPECT_EQ(block.write_field(3, &zero, 4), 50u) << "Busy is given back by its hold alone";
  EXPECT_EQ(block.busy(), 1u);
  block.release_busy(next);
  EXPECT_EQ(block.busy(), 0u);

  uint32_t out = 0x55;
  EXPECT_EQ(block.read_field(6, &out, 4), 50u);
  EXPECT_EQ(block.write_field(0, &out, 4), 50u);
  EXPECT_EQ(out, 0x55u);
  EXPECT_EQ(block.busy(), 0u) << "a bad id does not leave the lock taken";
}

TEST(StatusBlockTest, AnyDevicePathGivesASafeName) {
  const std::string path = "sim:/../../ETC/evil\\name\n" + std::to_string(getpid());
  StatusBlock block;
  block.open(path.c_str());
  ASSERT_TRUE(block.is_open());
  const std::string name = block.block_name();
  EXPECT_EQ(name.find('/', 1), std::string::npos);
  EXPECT_NE(name.find("sim%3a%2f..%2f..%2fetc%2fevilname%0a"), std::string::npos) << name;
}

TEST(StatusBlockTest, ANullPathIsReportedAndOpensNothing) {
  StatusBlock block;
  EXPECT_EQ(block.open(nullptr), 87u);
  EXPECT_FALSE(block.is_open());
}

}  // namespace
}  // namespace qrx::test
