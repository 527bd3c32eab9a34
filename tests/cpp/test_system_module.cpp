// System operations against a scripted device: what each sends and how it decodes the reply, in
// both families; short replies and firmware statuses.
#include <gtest/gtest.h>

#include <tuple>

#include "support/as_text.hpp"
#include "support/bench.hpp"
#include "zelvo/system/system_module.hpp"

namespace {

using zelvo::Bytes;
using zelvo::Call;
using zelvo::Op;
using zelvo::SystemModule;
using namespace std::chrono_literals;

using ztest::asText;

struct SysCase {
  const char* name;
  const char* product;  // the catalogue entry whose system slice the module gets
  Bytes reply;  // the device answers every request with this payload
  std::function<Op<std::string>(SystemModule&, Call&)> run;
  std::string result;
  int code;  // of the request
  Bytes request;
};
void PrintTo(const SysCase& c, std::ostream* os) { *os << c.name; }

class SystemOp : public ::testing::TestWithParam<std::tuple<SysCase, bool>> {};

TEST_P(SystemOp, SendsItsRequestAndDecodesTheReply) {
  const auto& [c, blocking] = GetParam();
  const zelvo::ProductSpec& spec = zelvo::product(c.product);
  ztest::Bench b(ztest::replyWith(c.reply), spec.model);
  SystemModule sys(b.dev, spec.system);
  EXPECT_EQ(ztest::runIn(blocking, b.dev, 2.0, [&](Call& call) { return c.run(sys, call); }), c.result);
  const auto reqs = b.peer.requests();
  ASSERT_EQ(reqs.size(), 1U);
  EXPECT_EQ(reqs[0].code, c.code);
  EXPECT_EQ(reqs[0].payload, c.request);
}

#define OP(expr) [](SystemModule & s, Call & c) { return asText(expr); }

const SysCase kCases[] = {
    {"rtc_from_1900", "TavraA", {24, 5, 6, 7, 8, 9}, OP(s.getRTC(c)), "1924-05-06, 07:08:09", 241, {0, 0, 0, 0, 0, 0}},
    {"rtc_from_2000_on_aeris", "AerisR3AH", {24, 5, 6, 7, 8, 9}, OP(s.getRTC(c)), "2024-05-06, 07:08:09", 241,
     {0, 0, 0, 0, 0, 0}},
    {"set_rtc_two_digit_year", "TavraA", {0}, OP(s.setRTC(c, 24, 1, 2, 3, 4, 5)), "0", 242, {24, 1, 2, 3, 4, 5}},
    {"set_rtc_full_year", "TavraA", {0}, OP(s.setRTC(c, 2024, 12, 31, 23, 59, 58)), "0", 242, {124, 12, 31, 23, 59, 58}},
    {"pin_modes", "TavraA", {1, 3, 0x32, 0x04}, OP(s.getPinModeInPort(c, 1)), "DI,DO,UART,Disabled", 127, {1}},
    {"unknown_pin_mode", "TavraA", {0, 1, 0xFA}, OP(s.getPinModeInPort(c, 0)), "Unknown,Unknown", 127, {0}},
    {"di_mode_slot_4", "Koru", {6, 0}, OP(s.setDIMode(c, 4)), "0", 2055, {6, 1}},
    {"switch_mode_slot_1", "Koru", {0, 0}, OP(s.setSwitchMode(c, 1)), "0", 2055, {0, 6}},
    {"slot_mode", "Koru", {8, 0x03, 0x01, 0, 0x14}, OP(s.getMode(c, 4)), "Motion", 2054, {}},
    {"reboot_status", "TavraA", {23}, OP(s.reboot(c)), "-7007", 250, {250}},
    {"reboot_ok", "TavraA", {0}, OP(s.reboot(c)), "0", 250, {250}},
    {"status_of_empty_reply", "TavraA", {}, OP(s.setDeviceAlias(c, "bench")), "-7028", 2057, {'b', 'e', 'n', 'c', 'h'}},
    {"alias_cut_at_crlf", "TavraA", {'r', 'i', 'g', 0x0D, 0x0A, 'x'}, OP(s.getDeviceAlias(c)), "rig", 2056, {}},
    {"serial_with_invalid_utf8", "TavraA", {'A', 'B', 0xFF, 'C', 'D', 'E', 'F', 'G', 'H'}, OP(s.getSerialNumber(c)),
     "AB\xEF\xBF\xBD" "CDEFG", 122, {}},
    {"driver_info_parts", "TavraA", {'T', '-', 'A', '_', 'A', 'P', 'P', '_', '1', '.', '0', 0}, OP(s.getDriverInfo(c)),
     "T-A,APP,1.0", 240, {0}},
    {"eeprom_page", "TavraA", {1, 2, 255}, OP(s.getEEPROMPage(c, 3)), "1,2,255", 247, {3}},
    {"set_eeprom_page", "TavraA", {0}, OP(s.setEEPROMPage(c, 2, {7, 8})), "0", 248, {2, 7, 8}},
};

#undef OP

INSTANTIATE_TEST_SUITE_P(Ops, SystemOp, ::testing::Combine(::testing::ValuesIn(kCases), ::testing::Bool()),
                         [](const auto& p) {
                           return std::string(std::get<0>(p.param).name) + (std::get<1>(p.param) ? "_blocking" : "_awaitable");
                         });

TEST(SystemState, ReadsLeaveTheirStateBehind) {
  ztest::Bench b(ztest::replyWith({1, 3, 0x32, 0x04}));
  SystemModule sys(b.dev, zelvo::SystemData{});
  Call call = Call::blocking(b.dev, 2.0);
  (void)sys.getPinModeInPort(call, 1).runBlocking();
  const auto st = sys.state();
  EXPECT_EQ(st.num_of_pins, 3);
  EXPECT_EQ(st.pin_mode_list, (std::vector<int>{2, 3, 4, 0}));
  EXPECT_EQ(st.rtc_time, std::nullopt);
}

TEST(SystemArguments, ErrorsComeBeforeSending) {
  ztest::Bench b(ztest::replyWith({0, 0}), "Koru");
  SystemModule sys(b.dev, zelvo::SystemData{});
  Call call = Call::blocking(b.dev, 1.0);
  for (int slot : {0, 3, 5}) {
    try {
      (void)sys.setDIMode(call, slot).runBlocking();
      ADD_FAILURE() << "slot " << slot << " accepted";
    } catch (const zelvo::Error& e) {
      EXPECT_EQ(e.id(), zelvo::Err::KORUPortNotAvaliableError);
    }
  }
  EXPECT_THROW((void)sys.setEEPROMPage(call, 1, {256}).runBlocking(), zelvo::Error);
  EXPECT_THROW((void)sys.setDeviceAlias(call, "\xE2\x82\xAC").runBlocking(), zelvo::Error);
  std::this_thread::sleep_for(50ms);
  EXPECT_TRUE(b.peer.requests().empty());
}

struct ShortReply {
  const char* operation;
  Bytes reply;
  std::function<Op<std::string>(SystemModule&, Call&)> run;
};
void PrintTo(const ShortReply& c, std::ostream* os) { *os << c.operation; }

class SystemShortReply : public ::testing::TestWithParam<ShortReply> {};

TEST_P(SystemShortReply, RaisesFirmwareOtherErrorNamingTheOperation) {
  const auto& c = GetParam();
  ztest::Bench b(ztest::replyWith(c.reply), "Koru");
  SystemModule sys(b.dev, zelvo::SystemData{});
  try {
    ztest::runIn(true, b.dev, 2.0, [&](Call& call) { return c.run(sys, call); });
    FAIL() << "a short reply was accepted";
  } catch (const zelvo::Error& e) {
    EXPECT_EQ(e.id(), zelvo::Err::FirmwareOtherError);
    EXPECT_NE(e.msg().find(c.operation), std::string::npos) << e.msg();
  }
}

#define OP(expr) [](SystemModule & s, Call & c) { return asText(expr); }

INSTANTIATE_TEST_SUITE_P(
    Ops, SystemShortReply,
    ::testing::Values(ShortReply{"Sys_getRTC", {24, 5, 6, 7, 8}, OP(s.getRTC(c))},
                      ShortReply{"Sys_getSerialNumber", {'A', 'B', 'C'}, OP(s.getSerialNumber(c))},
                      ShortReply{"Sys_getPinModeInPort", {1, 3, 0x32}, OP(s.getPinModeInPort(c, 1))},
                      ShortReply{"Sys_getMode", {8, 0, 0}, OP(s.getMode(c, 4))},
                      ShortReply{"_Sys_setSlotMode", {6}, OP(s.setAIOMode(c, 4))},
                      ShortReply{"_Sys_getRTCAlarmConfig", {0, 1, 2}, OP(s.getRTCAlarmConfig(c))}),
    [](const auto& p) { return std::string(p.param.operation); });

#undef OP

}  // namespace
