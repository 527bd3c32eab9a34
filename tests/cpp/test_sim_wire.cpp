// The emulator's request parser and reply framing.
#include <gtest/gtest.h>

#include <random>

#include "test_sim_client.hpp"
#include "zelvo/sim/wire.hpp"

namespace {

using simtest::Bytes;
using simtest::frame;
using zelvo::sim::encodeFrame;
using zelvo::sim::RequestParser;

struct Parsed {
  int code;
  Bytes payload;
  friend bool operator==(const Parsed&, const Parsed&) = default;
};

std::vector<Parsed> drain(RequestParser& p) {
  std::vector<Parsed> out;
  while (auto r = p.next()) out.push_back({r->code, r->payload});
  return out;
}

// Feeds the bytes in pieces of `chunk` bytes, collecting requests after each piece.
std::vector<Parsed> parseInChunks(const Bytes& bytes, std::size_t chunk) {
  RequestParser p;
  std::vector<Parsed> out;
  for (std::size_t at = 0; at < bytes.size(); at += chunk) {
    const std::size_t n = std::min(chunk, bytes.size() - at);
    p.feed(zelvo::ByteView(bytes).subspan(at, n));
    for (auto& r : drain(p)) out.push_back(r);
  }
  return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

struct StreamCase {
  const char* name;
  Bytes stream;
  std::vector<Parsed> expected;
};

class ParserStream : public ::testing::TestWithParam<StreamCase> {};

// Every case must come out the same however the bytes are cut into reads.
TEST_P(ParserStream, SameRequestsForEveryChunking) {
  const auto& c = GetParam();
  for (std::size_t chunk : {std::size_t(1), std::size_t(2), std::size_t(3), std::size_t(7), c.stream.size()})
    EXPECT_EQ(parseInChunks(c.stream, chunk), c.expected) << "chunk size " << chunk;
}

INSTANTIATE_TEST_SUITE_P(
    Sim, ParserStream,
    ::testing::Values(
        StreamCase{"one_byte_code", frame(122, {}), {{122, {}}}},
        StreamCase{"two_byte_code", frame(2055, {6, 1}), {{2055, {6, 1}}}},
        StreamCase{"back_to_back", concat({frame(240, {0}), frame(2056, {}), frame(247, {9})}),
                   {{240, {0}}, {2056, {}}, {247, {9}}}},
        StreamCase{"garbage_with_terminator_first", concat({{0xAA, 0xBB, 0x0D, 0x0A}, frame(122, {})}), {{122, {}}}},
        StreamCase{"payload_holds_terminator", frame(2057, {'a', 0x0D, 0x0A, 'b'}), {{2057, {'a', 0x0D, 0x0A, 'b'}}}},
        // A stray start byte whose length points past the real frame must not hide it.
        StreamCase{"stray_start_byte", concat({{0x02, 0x01, 0x00}, frame(241, {0, 0, 0, 0, 0, 0})}),
                   {{241, {0, 0, 0, 0, 0, 0}}}},
        StreamCase{"start_byte_in_payload", frame(248, {1, 0x02, 0x00, 0x05}), {{248, {1, 0x02, 0x00, 0x05}}}},
        // First code byte 48 is the high half of a two-byte code; 49 is a whole code.
        StreamCase{"lead_48_is_wide", Bytes{0x02, 0x00, 0x02, 0x30, 0x39, 0x0D, 0x0A}, {{0x3039, {}}}},
        StreamCase{"lead_49_is_narrow", Bytes{0x02, 0x00, 0x02, 0x31, 0x39, 0x0D, 0x0A}, {{49, {0x39}}}},
        StreamCase{"lone_small_code", Bytes{0x02, 0x00, 0x01, 0x21, 0x0D, 0x0A}, {{0x21, {}}}},
        StreamCase{"zero_length_ignored", concat({{0x02, 0x00, 0x00, 0x0D, 0x0A}, frame(126, {})}), {{126, {}}}},
        StreamCase{"incomplete_tail", concat({frame(250, {250}), {0x02, 0x00, 0x05, 0xF0}}), {{250, {250}}}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(SimWire, EncodesOneAndTwoByteCodes) {
  EXPECT_EQ(encodeFrame(122, Bytes{}), (Bytes{0x02, 0x00, 0x01, 0x7A, 0x0D, 0x0A}));
  EXPECT_EQ(encodeFrame(2054, Bytes{8, 1}), (Bytes{0x02, 0x00, 0x04, 0x08, 0x06, 8, 1, 0x0D, 0x0A}));
  EXPECT_EQ(encodeFrame(255, Bytes(300, 7)).size(), 306u);
  EXPECT_THROW(encodeFrame(70000, Bytes{}), std::invalid_argument);
  EXPECT_THROW(encodeFrame(1, Bytes(0x8000, 0)), std::length_error);
}

// Random frames between random garbage (never a CR, so no false terminator), fed in random
// pieces: every frame comes out, in order.
TEST(SimWire, RecoversEveryFrameFromNoisyStream) {
  std::mt19937 rng(1234);
  auto byte = [&] { return std::uint8_t(rng() & 0xFF); };
  Bytes stream;
  std::vector<Parsed> expected;
  for (int i = 0; i < 300; ++i) {
    for (int g = int(rng() % 6); g > 0; --g) {
      std::uint8_t b = byte();
      stream.push_back(b == 0x0D ? 0x0E : b);
    }
    const int code = rng() % 2 ? int(49 + rng() % 200) : int(256 + rng() % 9000);
    Bytes payload(rng() % 70);
    for (auto& b : payload) b = byte();
    const Bytes f = frame(code, payload);
    stream.insert(stream.end(), f.begin(), f.end());
    expected.push_back({code, payload});
  }
  RequestParser p;
  std::vector<Parsed> got;
  for (std::size_t at = 0; at < stream.size();) {
    const std::size_t n = std::min<std::size_t>(1 + rng() % 40, stream.size() - at);
    p.feed(zelvo::ByteView(stream).subspan(at, n));
    at += n;
    for (auto& r : drain(p)) got.push_back(r);
  }
  EXPECT_EQ(got, expected);
}

// A flood without any frame must not grow the buffer without bound, and a frame after it is found.
TEST(SimWire, GarbageFloodStaysBoundedAndResyncs) {
  RequestParser p;
  const Bytes junk = {0x02, 0x7F, 0xF1, 0x11, 0x0D, 0x0A, 0x55, 0x02, 0x40};
  for (int i = 0; i < 60000; ++i) {
    p.feed(junk);
    ASSERT_FALSE(p.next().has_value());
  }
  EXPECT_LT(p.buffered(), 3u * 0x8000);
  p.feed(frame(122, {}));
  const auto r = p.next();
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->code, 122);
}

}  // namespace
