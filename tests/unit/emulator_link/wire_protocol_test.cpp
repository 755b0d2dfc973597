// Encoding and validation of the emulator link messages, including bodies that
// are cut short, padded, oversized, inconsistent or random.
#include "emulator/wire_protocol.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <span>
#include <vector>

namespace qrx::emu::wire {
namespace {

Request make(Call call, uint8_t code = 0, uint16_t index = 0, uint32_t length = 0,
             std::vector<uint8_t> data = {}) {
  Request r;
  r.call = call;
  r.request = code;
  r.index = index;
  r.length = length;
  r.data = std::move(data);
  return r;
}

std::vector<Request> sample_requests() {
  return {make(Call::kHello, 0, 0, kVersion),
          make(Call::kControlIn, 0x8E, 0x4122, 2),
          make(Call::kControlOut, 0x83, 0, 2, {0x41, 0x07}),
          make(Call::kControlOut, 0x82, 1, 8, {0, 0, 0, 0x10, 0x00, 0xF0, 0, 0}),
          make(Call::kDescriptor),
          make(Call::kBulkIn, 0, 0, 61440),
          make(Call::kBulkOut, 0, 0, 3, {1, 2, 3}),
          make(Call::kBulkOut),
          make(Call::kPress, 4, 0, 20000)};
}

std::span<const uint8_t> body_of(const std::vector<uint8_t>& frame) {
  return std::span<const uint8_t>(frame).subspan(kFramePrefixSize);
}

uint32_t prefix_of(const std::vector<uint8_t>& frame) {
  uint32_t size = 0;
  EXPECT_TRUE(decode_frame_size(std::span<const uint8_t, kFramePrefixSize>(frame.data(), 4), size));
  return size;
}

TEST(WireProtocol, RequestLayoutIsLittleEndian) {
  const std::vector<uint8_t> expected = {8, 0, 0, 0, 0x02, 0x8E, 0x22, 0x41, 2, 0, 0, 0};
  EXPECT_EQ(encode_request(make(Call::kControlIn, 0x8E, 0x4122, 2)), expected);
  const std::vector<uint8_t> hello = {7, 0, 0, 0, 0x01, 'Q', 'R', 'X', '7', kVersion, 0};
  EXPECT_EQ(encode_request(make(Call::kHello, 0, 0, kVersion)), hello);
  Reply reply{Call::kBulkIn, true, 0x0102, std::vector<uint8_t>(0x0102, 0xAB)};
  const std::vector<uint8_t> frame = encode_reply(reply);
  const std::vector<uint8_t> head = {0x08, 0x01, 0, 0, 0x85, 1, 0x02, 0x01, 0, 0};
  EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.begin() + 10), head);
}

TEST(WireProtocol, EveryRequestSurvivesARoundTrip) {
  for (const Request& sent : sample_requests()) {
    const std::vector<uint8_t> frame = encode_request(sent);
    ASSERT_EQ(prefix_of(frame), frame.size() - kFramePrefixSize);
    Request got;
    ASSERT_TRUE(decode_request(body_of(frame), got)) << int(sent.call);
    EXPECT_EQ(got.call, sent.call);
    EXPECT_EQ(got.data, sent.data);
    EXPECT_EQ(got.length, sent.length);
    if (sent.call == Call::kControlIn || sent.call == Call::kControlOut ||
        sent.call == Call::kPress) {
      EXPECT_EQ(got.request, sent.request);
      EXPECT_EQ(got.index, sent.index);
    }
  }
}

TEST(WireProtocol, RepliesSurviveARoundTripAgainstTheirRequest) {
  const Request control_in = make(Call::kControlIn, 0x8E, 0x0022, 2);
  const Request bulk_in = make(Call::kBulkIn, 0, 0, 100);
  const Request bulk_out = make(Call::kBulkOut, 0, 0, 5, {1, 2, 3, 4, 5});
  const Request descriptor = make(Call::kDescriptor);
  const std::vector<std::pair<Request, Reply>> cases = {
      {control_in, Reply{Call::kControlIn, true, 2, {0x12, 0x55}}},
      {control_in, Reply{Call::kControlIn, false, 0, {}}},
      {bulk_in, Reply{Call::kBulkIn, true, 3, {7, 8, 9}}},
      {bulk_in, Reply{Call::kBulkIn, true, 0, {}}},
      {bulk_out, Reply{Call::kBulkOut, true, 4, {}}},
      {descriptor, Reply{Call::kDescriptor, true, 6, {0x09, 0x12, 1, 0, 0, 1}}},
      {make(Call::kHello, 0, 0, kVersion), Reply{Call::kHello, false, 9, {}}},
      {make(Call::kPress, 2, 0, 200), Reply{Call::kPress, true, 1, {}}},
      {make(Call::kPress, 9, 0, 200), Reply{Call::kPress, false, 0, {}}},
  };
  for (const auto& [asked, sent] : cases) {
    const std::vector<uint8_t> frame = encode_reply(sent);
    ASSERT_EQ(prefix_of(frame), frame.size() - kFramePrefixSize);
    Reply got;
    ASSERT_TRUE(decode_reply(body_of(frame), asked, got)) << int(asked.call);
    EXPECT_EQ(got.ok, sent.ok);
    EXPECT_EQ(got.value, sent.value);
    EXPECT_EQ(got.data, sent.data);
  }
}

TEST(WireProtocol, RequestBodiesCutShortOrPaddedAreRejected) {
  for (const Request& sent : sample_requests()) {
    const std::vector<uint8_t> frame = encode_request(sent);
    const std::span<const uint8_t> body = body_of(frame);
    const bool carries_bytes = sent.call == Call::kControlOut || sent.call == Call::kBulkOut;
    // Requests that carry bytes may be any length past their fields; the shortest
    // legal one is the call and its fields alone.
    const size_t shortest = sent.call == Call::kControlOut ? 4 : (carries_bytes ? 1 : body.size());
    for (size_t cut = 0; cut < shortest; ++cut) {
      Request got;
      EXPECT_FALSE(decode_request(body.first(cut), got)) << int(sent.call) << " cut " << cut;
    }
    if (!carries_bytes) {
      std::vector<uint8_t> padded(body.begin(), body.end());
      padded.push_back(0);
      Request got;
      EXPECT_FALSE(decode_request(padded, got)) << int(sent.call);
    }
  }
}

TEST(WireProtocol, UnknownCallsForeignMagicAndRepliesAsRequestsAreRejected) {
  Request got;
  for (uint8_t code : {0x00, 0x08, 0x7F, 0x81, 0x87, 0xFF}) {
    const std::vector<uint8_t> body = {code, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_FALSE(decode_request(body, got)) << int(code);
  }
  std::vector<uint8_t> hello = encode_request(make(Call::kHello, 0, 0, kVersion));
  hello[5] ^= 0x20;  // 'q' instead of 'Q'
  EXPECT_FALSE(decode_request(body_of(hello), got));
}

TEST(WireProtocol, FrameSizesOutsideTheLimitsAreRefused) {
  const auto check = [](uint32_t size) {
    const std::array<uint8_t, 4> prefix = {
        static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
        static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 24)};
    uint32_t decoded = 0;
    const bool ok = decode_frame_size(prefix, decoded);
    EXPECT_EQ(decoded, size);
    return ok;
  };
  EXPECT_FALSE(check(0));
  EXPECT_TRUE(check(1));
  EXPECT_TRUE(check(kMaxBodySize));
  EXPECT_FALSE(check(kMaxBodySize + 1));
  EXPECT_FALSE(check(0xFFFFFFFF));
  // The largest bulk message fits in one frame.
  EXPECT_LE(
      encode_request(make(Call::kBulkOut, 0, 0, 0, std::vector<uint8_t>(kMaxBulkLength))).size() -
          kFramePrefixSize,
      kMaxBodySize);
  EXPECT_LE(
      encode_reply(Reply{Call::kBulkIn, true, kMaxBulkLength, std::vector<uint8_t>(kMaxBulkLength)})
              .size() -
          kFramePrefixSize,
      kMaxBodySize);
}

TEST(WireProtocol, RepliesThatDoNotFitTheRequestAreRejected) {
  const Request control_in = make(Call::kControlIn, 0x8E, 0x0022, 2);
  const Request bulk_in = make(Call::kBulkIn, 0, 0, 4);
  const Request bulk_out = make(Call::kBulkOut, 0, 0, 3, {1, 2, 3});
  const Request descriptor = make(Call::kDescriptor);
  const Request press = make(Call::kPress, 1, 0, 200);
  const std::vector<std::pair<Request, Reply>> cases = {
      {control_in, Reply{Call::kControlIn, true, 1, {0x12}}},         // short answer
      {control_in, Reply{Call::kControlIn, true, 3, {1, 2, 3}}},      // long answer
      {control_in, Reply{Call::kControlIn, false, 0, {1, 2}}},        // failure with data
      {control_in, Reply{Call::kControlOut, true, 0, {}}},            // answers another call
      {bulk_in, Reply{Call::kBulkIn, true, 5, {1, 2, 3, 4, 5}}},      // more than asked
      {bulk_in, Reply{Call::kBulkIn, true, 3, {1, 2}}},               // count and bytes differ
      {bulk_out, Reply{Call::kBulkOut, true, 4, {}}},                 // took more than sent
      {bulk_out, Reply{Call::kBulkOut, false, 2, {}}},                // failure with a count
      {descriptor, Reply{Call::kDescriptor, true, 4, {1, 2, 3, 4}}},  // short descriptor
      {press, Reply{Call::kPress, true, 2, {}}},                      // seen neither 0 nor 1
      {press, Reply{Call::kPress, true, 1, {1}}},                     // an answer with data
      {press, Reply{Call::kPress, false, 1, {}}},                     // refused, yet seen
  };
  for (const auto& [asked, sent] : cases) {
    const std::vector<uint8_t> frame = encode_reply(sent);
    Reply got;
    EXPECT_FALSE(decode_reply(body_of(frame), asked, got))
        << int(asked.call) << " value " << sent.value;
  }
  std::vector<uint8_t> bad_flag = encode_reply(Reply{Call::kControlIn, true, 2, {1, 2}});
  bad_flag[5] = 2;  // neither success nor failure
  Reply got;
  EXPECT_FALSE(decode_reply(body_of(bad_flag), control_in, got));
  EXPECT_FALSE(decode_reply(std::span<const uint8_t>(), control_in, got));
}

// Random bodies must either fail to parse or parse into a request that encodes
// back to exactly the same bytes: no body is read past its end or half-accepted.
TEST(WireProtocol, RandomBodiesParseCanonicallyOrNotAtAll) {
  std::mt19937 random(7730);
  int accepted = 0;
  for (int round = 0; round < 20000; ++round) {
    std::vector<uint8_t> body(random() % 12);
    for (uint8_t& b : body) b = static_cast<uint8_t>(random());
    if (!body.empty() && round % 2 == 0) body[0] = static_cast<uint8_t>(1 + random() % 7);
    Request got;
    if (!decode_request(body, got)) continue;
    ++accepted;
    const std::vector<uint8_t> again = encode_request(got);
    ASSERT_EQ(std::vector<uint8_t>(again.begin() + kFramePrefixSize, again.end()), body);
  }
  EXPECT_GT(accepted, 100);  // the generator does reach the valid layouts
}

}  // namespace
}  // namespace qrx::emu::wire
