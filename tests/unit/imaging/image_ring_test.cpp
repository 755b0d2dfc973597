// The image ring: refusal without partial stores, writes and reads split across
// the end of the storage, and one producer and one consumer on two threads
// moving a long byte sequence through a small ring without loss or reordering.
#include <gtest/gtest.h>

#include <numeric>
#include <thread>
#include <vector>

#include "imaging/image_ring.h"

namespace qrx::imaging {
namespace {

TEST(ImageRingTest, RefusesWhatDoesNotFitAndSplitsAcrossTheEnd) {
  ImageRing ring;
  ASSERT_TRUE(ring.create(10));
  EXPECT_EQ(ring.free_space(), 10u);

  const std::vector<uint8_t> first = {1, 2, 3, 4, 5, 6, 7};
  ASSERT_TRUE(ring.write(first.data(), 7));
  // 3 bytes free: a write of 4 stores nothing at all.
  const std::vector<uint8_t> four = {8, 9, 10, 11};
  EXPECT_FALSE(ring.write(four.data(), 4));
  EXPECT_EQ(ring.used(), 7u);

  std::vector<uint8_t> out(6);
  ASSERT_TRUE(ring.read(out.data(), 6));
  EXPECT_EQ(out, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
  // Write position 7, capacity 10: 3 bytes to the end, 2 more from offset 0.
  const std::vector<uint8_t> crossing = {20, 21, 22, 23, 24};
  ASSERT_TRUE(ring.write(crossing.data(), 5));
  EXPECT_EQ(ring.used(), 6u);
  // Asking one byte more than held takes nothing.
  std::vector<uint8_t> all(7, 0xEE);
  EXPECT_FALSE(ring.read(all.data(), 7));
  EXPECT_EQ(all[0], 0xEE);
  // The read crosses the end the same way: 7, then the five in order.
  ASSERT_TRUE(ring.read(all.data(), 6));
  EXPECT_EQ(std::vector<uint8_t>(all.begin(), all.begin() + 6),
            (std::vector<uint8_t>{7, 20, 21, 22, 23, 24}));
  EXPECT_EQ(ring.used(), 0u);
  EXPECT_EQ(ring.free_space(), 10u);

  ring.destroy();
  EXPECT_EQ(ring.capacity(), 0u);
  EXPECT_FALSE(ring.write(first.data(), 1));
}

TEST(ImageRingTest, PeekShowsTheOldestBytesWhereTheyLieOrJoinedAndDiscardDropsThem) {
  ImageRing ring;
  ASSERT_TRUE(ring.create(8));
  const std::vector<uint8_t> first = {1, 2, 3, 4, 5, 6};
  ASSERT_TRUE(ring.write(first.data(), 6));
  ASSERT_TRUE(ring.discard(5));
  const std::vector<uint8_t> crossing = {7, 8, 9, 10, 11};
  ASSERT_TRUE(ring.write(crossing.data(), 5));  // 2 bytes to the end, 3 from offset 0

  std::vector<uint8_t> scratch(6, 0);
  const uint8_t* joined = ring.peek(6, scratch.data());
  ASSERT_EQ(joined, scratch.data()) << "bytes crossing the end are joined in scratch";
  EXPECT_EQ(scratch, (std::vector<uint8_t>{6, 7, 8, 9, 10, 11}));
  const uint8_t* in_place = ring.peek(2, scratch.data() + 4);
  ASSERT_NE(in_place, scratch.data() + 4);
  EXPECT_EQ(in_place[0], 6);
  EXPECT_EQ(in_place[1], 7);
  EXPECT_EQ(ring.peek(7, scratch.data()), nullptr);
  EXPECT_EQ(ring.used(), 6u) << "peeking takes nothing";

  EXPECT_FALSE(ring.discard(7));
  ASSERT_TRUE(ring.discard(3));
  std::vector<uint8_t> rest(3);
  ASSERT_TRUE(ring.read(rest.data(), 3));
  EXPECT_EQ(rest, (std::vector<uint8_t>{9, 10, 11}));
}

TEST(ImageRingTest, OneProducerAndOneConsumerLoseNothing) {
  ImageRing ring;
  ASSERT_TRUE(ring.create(4099));  // odd size: the split points wander
  constexpr uint32_t kTotal = 3'000'000;
  std::thread producer([&] {
    std::vector<uint8_t> chunk(1500);
    uint32_t sent = 0;
    while (sent < kTotal) {
      const uint32_t n = std::min<uint32_t>(
          {static_cast<uint32_t>(chunk.size()), kTotal - sent, ring.free_space()});
      if (n == 0) {
        std::this_thread::yield();
        continue;
      }
      for (uint32_t i = 0; i < n; ++i) chunk[i] = static_cast<uint8_t>((sent + i) * 7 + 3);
      ASSERT_TRUE(ring.write(chunk.data(), n));  // only the consumer frees room meanwhile
      sent += n;
    }
  });
  std::vector<uint8_t> line(977);
  uint32_t received = 0;
  uint32_t mismatches = 0;
  while (received < kTotal) {
    const uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(line.size()), kTotal - received);
    if (!ring.read(line.data(), n)) {
      std::this_thread::yield();
      continue;
    }
    for (uint32_t i = 0; i < n; ++i) {
      if (line[i] != static_cast<uint8_t>((received + i) * 7 + 3)) ++mismatches;
    }
    received += n;
  }
  producer.join();
  EXPECT_EQ(mismatches, 0u);
  EXPECT_EQ(ring.used(), 0u);
}

}  // namespace
}  // namespace qrx::imaging
