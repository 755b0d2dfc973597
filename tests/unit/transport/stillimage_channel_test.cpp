// The still-image driver backend: request blocks and I/O control codes as the
// driver expects them, checked against a fake driver file.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "transport/backends/stillimage_channel.h"

namespace qrx::test {
namespace {

struct Recorded {
  uint32_t code = 0;
  std::vector<uint8_t> input;
  uint32_t output_size = 0;
};

class FakeDriverFile final : public platform::DriverFile {
 public:
  explicit FakeDriverFile(std::vector<Recorded>& log) : log_(log) {}
  bool io_control(uint32_t code, const void* input, uint32_t input_size, void* output,
                  uint32_t output_size) override {
    const auto* bytes = static_cast<const uint8_t*>(input);
    log_.push_back({code, std::vector<uint8_t>(bytes, bytes + input_size), output_size});
    if (code == transport::kIoctlGetDeviceDescriptor && output_size == 8) {
      const uint16_t fields[4] = {0x1209, 0x0001, 0x0102, 0x0409};
      std::memcpy(output, fields, 8);
    } else if (output != nullptr && output_size > 0) {
      std::memset(output, 0x5A, output_size);
    }
    return true;
  }
  bool read(void*, uint32_t size, uint32_t& transferred) override {
    transferred = size / 2;
    return true;
  }
  bool write(const void*, uint32_t size, uint32_t& transferred) override {
    transferred = size;
    return true;
  }

 private:
  std::vector<Recorded>& log_;
};

TEST(StillImageChannelTest, RequestsTravelAsTheDriversRequestBlock) {
  std::vector<Recorded> log;
  auto channel = transport::make_stillimage_channel(std::make_unique<FakeDriverFile>(log));
  ASSERT_TRUE(channel);

  uint8_t answer[2] = {0, 0};
  ASSERT_TRUE(channel->control_read(0x8E, 0x4122, answer, 2));
  const uint8_t data[2] = {0x41, 0x07};
  ASSERT_TRUE(channel->control_write(0x83, 0, data, 2));
  transport::DeviceDescriptor descriptor;
  ASSERT_TRUE(channel->device_descriptor(descriptor));

  ASSERT_EQ(log.size(), 3u);
  // Read request: 24-byte block, request code, length, null data pointer, index.
  EXPECT_EQ(log[0].code, 0x8000200Cu);
  ASSERT_EQ(log[0].input.size(), 24u);
  transport::ControlBlock block{};
  std::memcpy(&block, log[0].input.data(), sizeof block);
  EXPECT_EQ(block.offset, 0x8Eu);
  EXPECT_EQ(block.length, 2u);
  EXPECT_EQ(block.data, nullptr);
  EXPECT_EQ(block.index, 0x4122u);
  EXPECT_EQ(log[0].output_size, 2u);
  EXPECT_EQ(answer[0], 0x5A);
  // Write request: the block points at the caller's bytes, no output.
  EXPECT_EQ(log[1].code, 0x80002010u);
  std::memcpy(&block, log[1].input.data(), sizeof block);
  EXPECT_EQ(block.offset, 0x83u);
  EXPECT_EQ(block.data, data);
  EXPECT_EQ(log[1].output_size, 0u);
  // Descriptor: no input, eight bytes out.
  EXPECT_EQ(log[2].code, 0x80002018u);
  EXPECT_TRUE(log[2].input.empty());
  EXPECT_EQ(descriptor.vendor_id, 0x1209);
  EXPECT_EQ(descriptor.release, 0x0102);

  uint8_t buffer[100];
  uint32_t transferred = 0;
  ASSERT_TRUE(channel->bulk_read(buffer, 100, transferred));
  EXPECT_EQ(transferred, 50u) << "short driver reads are passed up as they are";
}

}  // namespace
}  // namespace qrx::test
