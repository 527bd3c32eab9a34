// Building command frames and cutting received bytes into frames.
#include <gtest/gtest.h>

#include <string>

#include "support/peer.hpp"
#include "support/split_check.hpp"
#include "zelvo/core/frame.hpp"

namespace {

using zelvo::Bytes;
using zelvo::Frame;
using ztest::wireFrame;

struct BuildCase {
  int code;
  Bytes payload;
  Bytes frame;
};
void PrintTo(const BuildCase& c, std::ostream* os) { *os << "code " << c.code; }

class BuildFrame : public ::testing::TestWithParam<BuildCase> {};

TEST_P(BuildFrame, LaysOutTheFrame) { EXPECT_EQ(zelvo::buildFrame(GetParam().code, GetParam().payload), GetParam().frame); }

INSTANTIATE_TEST_SUITE_P(
    Examples, BuildFrame,
    ::testing::Values(BuildCase{122, {}, {2, 0, 1, 0x7A, 0x0D, 0x0A}},
                      BuildCase{2054, {1}, {2, 0, 3, 0x08, 0x06, 1, 0x0D, 0x0A}},
                      BuildCase{0, {0x0D, 0x0A}, {2, 0, 3, 0, 0x0D, 0x0A, 0x0D, 0x0A}},
                      BuildCase{255, {9}, {2, 0, 2, 0xFF, 9, 0x0D, 0x0A}},
                      BuildCase{256, {}, {2, 0, 2, 1, 0, 0x0D, 0x0A}},
                      BuildCase{65535, {7}, {2, 0, 3, 0xFF, 0xFF, 7, 0x0D, 0x0A}}));

TEST(BuildFrame, RejectsCodesAndPayloadsTheFrameCannotCarry) {
  EXPECT_THROW(zelvo::buildFrame(-1, {}), zelvo::Error);
  EXPECT_THROW(zelvo::buildFrame(65536, {}), zelvo::Error);
  const Bytes fits(65534), too_long(65535);
  EXPECT_EQ(zelvo::buildFrame(122, fits).size(), 65534U + 6);
  EXPECT_THROW(zelvo::buildFrame(122, too_long), zelvo::Error);
  EXPECT_THROW(zelvo::buildFrame(2054, fits), zelvo::Error);  // two code bytes push it over
}

struct SplitCase {
  const char* name;
  Bytes in;
  std::vector<Frame> frames;
  Bytes rest;  // what stays in the stream
  std::size_t last_index;
};
void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.name; }

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes firstBytes(Bytes b, std::size_t n) {
  b.resize(n);
  return b;
}
const Bytes kHalf = firstBytes(wireFrame(240, {5, 6, 7}), 4);

class SplitFrames : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitFrames, AllAtOnce) {
  const auto& c = GetParam();
  zelvo::FrameSplitter s;
  EXPECT_EQ(s.feed(c.in), c.frames);
  EXPECT_EQ(s.stream(), c.rest);
  EXPECT_EQ(s.lastIndex(), c.last_index);
}

TEST_P(SplitFrames, ByteByByteGivesTheSameFramesAndState) {
  const auto& c = GetParam();
  zelvo::FrameSplitter s;
  std::vector<Frame> got;
  for (zelvo::Byte b : c.in)
    for (auto& f : s.feed(zelvo::ByteView(&b, 1))) got.push_back(std::move(f));
  EXPECT_EQ(got, c.frames);
  EXPECT_EQ(s.stream(), c.rest);
  EXPECT_EQ(s.lastIndex(), c.last_index);
}

TEST_P(SplitFrames, ReferenceAgrees) {
  const auto& c = GetParam();
  Bytes stream = c.in;
  std::size_t last = 0;
  EXPECT_EQ(zelvo::splitReference(stream, last), c.frames);
  EXPECT_EQ(stream, c.rest);
  EXPECT_EQ(last, c.last_index);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitFrames,
    ::testing::Values(
        SplitCase{"two_and_a_half", cat({wireFrame(122, {1, 2}), wireFrame(2054, {9}), kHalf}),
                  {{122, {1, 2}}, {2054, {9}}}, kHalf, 0},
        SplitCase{"one_byte_code", {2, 0, 3, 0x7A, 0x41, 0x42, 0x0D, 0x0A}, {{122, {0x41, 0x42}}}, {}, 0},
        SplitCase{"two_byte_code", {2, 0, 3, 0x08, 0x06, 1, 0x0D, 0x0A}, {{2054, {1}}}, {}, 0},
        SplitCase{"code_byte_48_is_high_byte", {2, 0, 3, 0x30, 0x39, 7, 0x0D, 0x0A}, {{0x3039, {7}}}, {}, 0},
        SplitCase{"code_byte_49_is_whole", {2, 0, 3, 0x31, 0x39, 7, 0x0D, 0x0A}, {{49, {0x39, 7}}}, {}, 0},
        SplitCase{"empty_payload", {2, 0, 1, 0x7A, 0x0D, 0x0A}, {{122, {}}}, {}, 0},
        // A one-byte length with a code byte of 48 or less reads the terminator's CR as the low byte.
        SplitCase{"short_two_byte_code", {2, 0, 1, 0x05, 0x0D, 0x0A}, {{0x050D, {}}}, {}, 0},
        SplitCase{"garbage_terminator_only", {0xAA, 0xBB, 0x0D, 0x0A}, {}, {0xAA, 0xBB, 0x0D, 0x0A}, 3},
        SplitCase{"garbage_then_frame", cat({{0xAA, 0xBB, 0x0D, 0x0A}, wireFrame(122, {1})}), {{122, {1}}}, {}, 0},
        SplitCase{"crlf_inside_payload", wireFrame(2054, {0x0D, 0x0A, 2, 0x0D, 0x0A}),
                  {{2054, {0x0D, 0x0A, 2, 0x0D, 0x0A}}}, {}, 0},
        SplitCase{"wrong_length_is_skipped", {2, 0, 5, 0x7A, 1, 0x0D, 0x0A}, {}, {2, 0, 5, 0x7A, 1, 0x0D, 0x0A}, 6},
        SplitCase{"first_matching_start_wins", {2, 2, 0, 2, 0x7A, 1, 0x0D, 0x0A}, {{122, {1}}}, {}, 0},
        SplitCase{"cr_without_lf_waits", {2, 0, 2, 0x7A, 1, 0x0D}, {}, {2, 0, 2, 0x7A, 1, 0x0D}, 0}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(SplitFrames, AFrameCutAtEveryPointComesOutWhole) {
  const Bytes bytes = cat({{0x0D, 0x0A, 2}, wireFrame(2054, {1, 0x0D, 0x0A, 2, 0x30}), wireFrame(122, {2, 0x0D})});
  const std::vector<Frame> want = {{2054, {1, 0x0D, 0x0A, 2, 0x30}}, {122, {2, 0x0D}}};
  for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
    zelvo::FrameSplitter s;
    auto got = s.feed(zelvo::ByteView(bytes).first(cut));
    for (auto& f : s.feed(zelvo::ByteView(bytes).subspan(cut))) got.push_back(std::move(f));
    EXPECT_EQ(got, want) << "cut at " << cut;
    EXPECT_TRUE(s.stream().empty()) << "cut at " << cut;
    EXPECT_EQ(ztest::compareSplitters(bytes, {cut, bytes.size()}), "");
  }
}

TEST(SplitFrames, LengthFieldIsComparedAsSigned) {
  // 32767 command+payload bytes is the longest frame that can be received; one more reads as negative.
  zelvo::FrameSplitter s;
  EXPECT_EQ(s.feed(wireFrame(122, Bytes(32766, 1))).size(), 1U);
  EXPECT_TRUE(s.feed(wireFrame(122, Bytes(32767, 1))).empty());
}

TEST(SplitFrames, ReplacedStateIsSearchedAsGiven) {
  // A stream handed over with a last index past a terminator: the frame ending there is not seen.
  const Bytes bytes = cat({wireFrame(122, {1}), wireFrame(123, {2})});
  zelvo::FrameSplitter s;
  s.setStream(bytes);
  s.setLastIndex(6);
  EXPECT_EQ(s.split(), (std::vector<Frame>{{123, {2}}}));
  s.setStream({2, 0, 2, 0x7A});
  EXPECT_TRUE(s.split().empty());
  EXPECT_EQ(s.feed(Bytes{9, 0x0D, 0x0A}), (std::vector<Frame>{{122, {9}}}));
}

}  // namespace
