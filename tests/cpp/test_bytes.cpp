// Big-endian packing, device texts, bit helpers and payload checks.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "zelvo/core/bytes.hpp"

namespace {

using zelvo::Bytes;
using zelvo::Err;

template <class T>
class BigEndian : public ::testing::Test {};
using Widths = ::testing::Types<std::int8_t, std::uint8_t, std::int16_t, std::uint16_t, std::int32_t, std::uint32_t,
                                std::int64_t, std::uint64_t>;
TYPED_TEST_SUITE(BigEndian, Widths);

TYPED_TEST(BigEndian, RoundTripsAndPutsTheHighByteFirst) {
  using T = TypeParam;
  using L = std::numeric_limits<T>;
  for (T v : {L::min(), L::max(), T(0), T(1), T(-1), T(0x5A)}) {
    const Bytes b = zelvo::toBE(v);
    ASSERT_EQ(b.size(), sizeof(T));
    EXPECT_EQ(zelvo::readBE<T>(b), v);
  }
  // min() is the high bit alone for signed types, zero for unsigned ones.
  Bytes min_bytes(sizeof(T), 0);
  if (L::is_signed) min_bytes[0] = 0x80;
  EXPECT_EQ(zelvo::toBE(L::min()), min_bytes);
  EXPECT_EQ(zelvo::toBE(T(1)).back(), 1);
}

TEST(BigEndian, DocumentedExamples) {
  EXPECT_EQ(zelvo::toBE<std::uint16_t>(258), (Bytes{1, 2}));
  EXPECT_EQ(zelvo::toBE<std::int16_t>(-2), (Bytes{0xFF, 0xFE}));
  EXPECT_EQ(zelvo::readBE<std::int16_t>(Bytes{0xFF, 0xFE}), -2);
  EXPECT_EQ(zelvo::toBE<std::uint32_t>(0x01020304), (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(zelvo::readBE<std::int32_t>(Bytes{0xFF, 0xFF, 0xFF, 0xFE, 0x99}), -2);  // reads only its width
  Bytes f;
  zelvo::appendF32BE(f, 1.0);
  EXPECT_EQ(f, (Bytes{0x3F, 0x80, 0x00, 0x00}));
  zelvo::appendF32BE(f, 0.1);  // rounded to single precision
  EXPECT_EQ(Bytes(f.begin() + 4, f.end()), (Bytes{0x3D, 0xCC, 0xCC, 0xCD}));
  EXPECT_FLOAT_EQ(zelvo::readF32BE(f), 1.0F);
  Bytes d;
  zelvo::appendF64BE(d, -2.5);
  EXPECT_EQ(d, (Bytes{0xC0, 0x04, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(zelvo::readF64BE(d), -2.5);
}

struct TextCase {
  Bytes in;
  std::string out;
};
void PrintTo(const TextCase& c, std::ostream* os) { *os << ::testing::PrintToString(c.in); }

class DecodeText : public ::testing::TestWithParam<TextCase> {};

TEST_P(DecodeText, MatchesUtf8DecodingWithReplacement) { EXPECT_EQ(zelvo::decodeText(GetParam().in), GetParam().out); }

// Expected texts as Python's bytes.decode("utf-8", "replace") gives them, then cut at the first NUL.
INSTANTIATE_TEST_SUITE_P(
    Vectors, DecodeText,
    ::testing::Values(TextCase{{65, 66, 0, 67}, "AB"}, TextCase{{}, ""}, TextCase{{0, 65}, ""},
                      TextCase{{0xC3, 0xA9, 'x'}, "\xC3\xA9x"}, TextCase{{0xE2, 0x82, 0xAC}, "\xE2\x82\xAC"},
                      TextCase{{0xF0, 0x9F, 0x98, 0x80}, "\xF0\x9F\x98\x80"}, TextCase{{0xFF}, "\xEF\xBF\xBD"},
                      TextCase{{'A', 0xC3}, "A\xEF\xBF\xBD"}, TextCase{{0xE2, 0x82, 'A'}, "\xEF\xBF\xBD" "A"},
                      TextCase{{0xF0, 0x9F, 0x98}, "\xEF\xBF\xBD"},
                      TextCase{{0xE0, 0x80, 0x80}, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // overlong
                      TextCase{{0xED, 0xA0, 0x80}, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
                      TextCase{{0xF4, 0x90, 0x80, 0x80}, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
                      TextCase{{0xC0, 0xAF}, "\xEF\xBF\xBD\xEF\xBF\xBD"}, TextCase{{0xF5, 0x80}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
                      TextCase{{0xE1, 0x80, 0xE2, 0x82, 0xAC}, "\xEF\xBF\xBD\xE2\x82\xAC"},
                      TextCase{{0xE2, 0x82, 0, 0xAC}, "\xEF\xBF\xBD"}));

TEST(Texts, CodePointsAndTextPayloads) {
  EXPECT_EQ(zelvo::codePoints("A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), (std::vector<std::int64_t>{65, 233, 8364, 128512}));
  EXPECT_EQ(zelvo::textPayload("\xC3\xA9t\xC3\xA9", "alias"), (Bytes{233, 't', 233}));
  EXPECT_THROW(zelvo::textPayload("5\xE2\x82\xAC", "alias"), zelvo::Error);  // U+20AC is not a byte
}

TEST(Bits, IndicesWordsAndBitLists) {
  EXPECT_EQ(zelvo::setBitIndices(0b1010), (std::vector<int>{1, 3}));
  EXPECT_EQ(zelvo::setBitIndices(std::uint64_t{1} << 63), (std::vector<int>{63}));
  const int idx[] = {1, 3};
  EXPECT_EQ(zelvo::indicesToWord(idx), 10U);
  const int bad[] = {64};
  EXPECT_THROW(zelvo::indicesToWord(bad), zelvo::Error);
  EXPECT_EQ(zelvo::wordToBits(5, 4), (std::vector<int>{1, 0, 1, 0}));
  EXPECT_EQ(zelvo::wordToBits(0, 3), (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(zelvo::wordToBits(255, 4), (std::vector<int>{1, 1, 1, 1}));
}

TEST(Payload, EveryValueMustBeAByte) {
  EXPECT_EQ(zelvo::payloadOf(), Bytes{});
  EXPECT_EQ(zelvo::payloadOf(0, 255, 7), (Bytes{0, 255, 7}));
  for (std::int64_t v : {-1LL, 256LL, 1LL << 40}) {
    const std::int64_t values[] = {1, v};
    try {
      zelvo::toPayload(values, "pin list");
      FAIL() << v << " accepted";
    } catch (const zelvo::Error& e) {
      EXPECT_EQ(e.id(), Err::InputDataNotInRangeError);
      EXPECT_NE(e.msg().find("pin list element 1"), std::string::npos) << e.msg();
    }
  }
  EXPECT_THROW(zelvo::payloadOf(3, -4), zelvo::Error);
}

}  // namespace
