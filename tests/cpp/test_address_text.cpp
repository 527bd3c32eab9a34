// Address texts: what the dotted-quad parser accepts, the strict MAC form, and the two MAC formats.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "zelvo/system/address_text.hpp"

namespace {

using zelvo::Bytes;

struct AddressCase {
  const char* text;
  std::optional<Bytes> bytes;  // none: refused with InputDataNotInRangeError
};
void PrintTo(const AddressCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

std::optional<Bytes> parse(Bytes (*parser)(std::string_view, const char*), const char* text) {
  try {
    return parser(text, "address");
  } catch (const zelvo::Error& e) {
    EXPECT_EQ(e.id(), zelvo::Err::InputDataNotInRangeError);
    EXPECT_NE(e.msg().find("address"), std::string::npos) << "the message names the argument";
    return std::nullopt;
  }
}

class IPv4Text : public ::testing::TestWithParam<AddressCase> {};
TEST_P(IPv4Text, ParsesAsTheDottedQuadParserDoes) {
  EXPECT_EQ(parse(&zelvo::ipv4Bytes, GetParam().text), GetParam().bytes);
}
INSTANTIATE_TEST_SUITE_P(
    Forms, IPv4Text,
    ::testing::Values(AddressCase{"192.168.1.110", Bytes{192, 168, 1, 110}}, AddressCase{"255.255.255.0", Bytes{255, 255, 255, 0}},
                      AddressCase{"10.1", Bytes{10, 0, 0, 1}}, AddressCase{"0x7f.1", Bytes{127, 0, 0, 1}},
                      AddressCase{"1.2.3.256", std::nullopt}, AddressCase{"1.2.3", Bytes{1, 2, 0, 3}},
                      AddressCase{"", std::nullopt}, AddressCase{"host.example", std::nullopt},
                      AddressCase{"1.2.3.4 trailing", Bytes{1, 2, 3, 4}}));

class MACText : public ::testing::TestWithParam<AddressCase> {};
TEST_P(MACText, TakesExactlySixHexFieldsOfAByte) { EXPECT_EQ(parse(&zelvo::macBytes, GetParam().text), GetParam().bytes); }
INSTANTIATE_TEST_SUITE_P(
    Forms, MACText,
    ::testing::Values(AddressCase{"0:a:35:1:2:ff", Bytes{0, 10, 0x35, 1, 2, 255}},
                      AddressCase{"00:0A:35:01:02:FF", Bytes{0, 10, 0x35, 1, 2, 255}},
                      AddressCase{"000:0:0:0:0:1", Bytes{0, 0, 0, 0, 0, 1}},
                      AddressCase{"0:a:35:1:2", std::nullopt}, AddressCase{"0:a:35:1:2:ff:7", std::nullopt},
                      AddressCase{"0:a:35:1:2:100", std::nullopt}, AddressCase{"0:a:35::2:ff", std::nullopt},
                      AddressCase{"0:a:35:1:2:fg", std::nullopt}, AddressCase{"0x1:a:35:1:2:ff", std::nullopt},
                      AddressCase{"0-a-35-1-2-ff", std::nullopt}, AddressCase{"", std::nullopt}));

TEST(AddressFormat, DottedQuadAndBothMACForms) {
  const Bytes mac = {0, 10, 0x35, 1, 2, 255};
  EXPECT_EQ(zelvo::dottedQuad(Bytes{192, 168, 1, 110}), "192.168.1.110");
  EXPECT_EQ(zelvo::macText(mac, false), "0:a:35:1:2:ff");
  EXPECT_EQ(zelvo::macText(mac, true), "00:0a:35:01:02:ff");
}

}  // namespace
