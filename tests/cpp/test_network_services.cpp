// Network configuration, SNTP and SD card operations against a scripted device: what each sends
// and how it decodes the reply, in both families; the checks that stop a request before anything
// is sent; replies of the wrong length; commands that act on every copy go out once.
#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <tuple>
#include <variant>

#include "support/as_text.hpp"
#include "support/bench.hpp"
#include "support/waits.hpp"
#include "zelvo/system/network_module.hpp"
#include "zelvo/system/sd_card_module.hpp"
#include "zelvo/system/sntp_module.hpp"

namespace {

using zelvo::Bytes;
using zelvo::Call;
using zelvo::Op;
using namespace std::chrono_literals;
using ztest::asText;

// Results asText does not show: numbers of other types, the read's characters or code.
template <class T>
Op<std::string> numberText(Op<T> op) {
  co_return std::to_string(co_await std::move(op));
}
Op<std::string> readText(Op<zelvo::SDReadResult> op) {
  const zelvo::SDReadResult r = co_await std::move(op);
  if (const auto* code = std::get_if<int>(&r)) co_return "code " + std::to_string(*code);
  co_return "chars " + ztest::format(std::get<std::vector<std::string>>(r));
}

// The three modules on one scripted device.
struct Services {
  explicit Services(ztest::Script script) : b(std::move(script)), net(b.dev), sntp(b.dev), sd(b.dev) {}
  ztest::Bench b;
  zelvo::NetworkModule net;
  zelvo::SNTPModule sntp;
  zelvo::SDCardModule sd;
};
using ServiceRun = std::function<Op<std::string>(Services&, Call&)>;

struct OpCase {
  const char* name;
  Bytes reply;  // the device answers every request with this payload
  ServiceRun run;
  std::string result;
  int code;  // of the request
  Bytes request;
};
void PrintTo(const OpCase& c, std::ostream* os) { *os << c.name; }

class ServiceOp : public ::testing::TestWithParam<std::tuple<OpCase, bool>> {};

TEST_P(ServiceOp, SendsItsRequestAndDecodesTheReply) {
  const auto& [c, blocking] = GetParam();
  Services s(ztest::replyWith(c.reply));
  EXPECT_EQ(ztest::runIn(blocking, s.b.dev, 2.0, [&](Call& call) { return c.run(s, call); }), c.result);
  const auto reqs = s.b.peer.requests();
  ASSERT_EQ(reqs.size(), 1U);
  EXPECT_EQ(reqs[0].code, c.code);
  EXPECT_EQ(reqs[0].payload, c.request);
}

#define OP(expr) [](Services & s, Call & c) { return asText(expr); }
#define NUM(expr) [](Services & s, Call & c) { return numberText(expr); }
#define READ(expr) [](Services & s, Call & c) { return readText(expr); }

const Bytes kOneF32 = {0x45, 0x61, 0x00, 0x00};  // 3600.0

const OpCase kCases[] = {
    {"ip_and_mask", {192, 168, 1, 110, 255, 255, 255, 0}, OP(s.net.getIPAddrAndSubmask(c)), "192.168.1.110,255.255.255.0", 243, {}},
    {"mac_without_leading_zeros", {0, 10, 53, 1, 2, 255}, OP(s.net.getMACAddr(c)), "0:a:35:1:2:ff", 245, {}},
    {"gateway_extra_byte_ignored", {10, 0, 0, 1, 99}, OP(s.net.getGateway(c)), "10.0.0.1", 124, {}},
    {"set_ip_and_mask", {0}, OP(s.net.setIPAddrAndSubmask(c, "192.168.1.110", "255.255.255.0")), "0", 244,
     {192, 168, 1, 110, 255, 255, 255, 0}},
    {"set_gateway_refused", {71}, OP(s.net.setGateway(c, "10.0.0.1")), "-7024", 125, {10, 0, 0, 1}},
    {"set_mac", {0}, OP(s.net.setMACAddr(c, "0:a:35:1:2:ff")), "0", 246, {0, 10, 53, 1, 2, 255}},
    {"sync_now_unreachable", {72}, OP(s.sntp.syncNow(c)), "-7025", 2624, {}},
    {"server_in_use", {0, '1', '0', '.', '0', '.', '0', '.', '1'}, OP(s.sntp.getSyncStatus(c)), "10.0.0.1", 2625, {}},
    {"server_searching", {0, 255, 255, 255, 255}, OP(s.sntp.getServerIP(c)), "255.255.255.255", 2626, {0}},
    {"set_server", {0}, OP(s.sntp.setServerIP(c, "10.0.0.2")), "0", 2627, {0, 10, 0, 0, 2}},
    {"period", kOneF32, NUM(s.sntp.getPeriod(c)), "3600.000000", 2628, {}},
    {"set_period", {0}, OP(s.sntp.setPeriod(c, 3600)), "0", 2629, kOneF32},
    {"mount", {0}, OP(s.sd.open(c)), "0", 2240, {}},
    {"unmount_out_of_order", {10}, OP(s.sd.close(c)), "-7000", 2241, {}},
    {"storage_in_megabytes", {0, 0, 0x40, 0}, NUM(s.sd.getStorage(c)), "16384", 2242, {}},
    {"open_file_to_write", {0}, OP(s.sd.openFile(c, "log.csv", 0)), "0", 2244, {0, 7, 'l', 'o', 'g', '.', 'c', 's', 'v'}},
    {"write_text", {0}, OP(s.sd.writeFile(c, std::string("AB"))), "0", 2245, {2, 'A', 'B'}},
    {"write_characters", {0}, OP(s.sd.writeFile(c, std::vector<std::string>{"x", "\xC3\xA9"})), "0", 2245, {2, 'x', 0xE9}},
    {"read_sends_count_plus_one", {0, 'A', 'B', 'C', 'D'}, READ(s.sd.readFile(c, 4)), "chars A,B,C,D", 2246, {5}},
    {"read_high_bytes_as_characters", {0, 0xE9}, READ(s.sd.readFile(c, 1)), "chars \xC3\xA9", 2246, {2}},
    {"read_failure_is_a_code", {40, 'g', 'a', 'r', 'b'}, READ(s.sd.readFile(c, 4)), "code -7012", 2246, {5}},
    {"close_file", {0}, OP(s.sd.closeFile(c)), "0", 2247, {}},
};

INSTANTIATE_TEST_SUITE_P(Ops, ServiceOp, ::testing::Combine(::testing::ValuesIn(kCases), ::testing::Bool()),
                         [](const auto& p) {
                           return std::string(std::get<0>(p.param).name) + (std::get<1>(p.param) ? "_blocking" : "_awaitable");
                         });

// --- refusals before anything is sent -----------------------------------------------------------

struct Refusal {
  const char* name;
  ServiceRun run;
};
void PrintTo(const Refusal& c, std::ostream* os) { *os << c.name; }

class ServiceRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(ServiceRefusal, RaisesInputDataNotInRangeAndSendsNothing) {
  Services s(ztest::replyWith({0}));
  try {
    ztest::runIn(true, s.b.dev, 1.0, [&](Call& call) { return GetParam().run(s, call); });
    ADD_FAILURE() << "accepted";
  } catch (const zelvo::Error& e) {
    EXPECT_EQ(e.id(), zelvo::Err::InputDataNotInRangeError) << e.what();
  }
  std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(s.b.peer.requests().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Checks, ServiceRefusal,
    ::testing::Values(
        Refusal{"bad_ip", OP(s.net.setIPAddrAndSubmask(c, "192.168.1.300", "255.255.255.0"))},
        Refusal{"bad_mask_after_good_ip", OP(s.net.setIPAddrAndSubmask(c, "192.168.1.3", "255.255.255.256"))},
        Refusal{"mac_with_five_fields", OP(s.net.setMACAddr(c, "0:a:35:1:2"))},
        Refusal{"sntp_server", OP(s.sntp.setServerIP(c, "time"))},
        Refusal{"period_beyond_float", OP(s.sntp.setPeriod(c, 1e39))},
        Refusal{"period_not_a_number", OP(s.sntp.setPeriod(c, std::nan("")))},
        Refusal{"file_name_of_256", OP(s.sd.openFile(c, std::string(256, 'n'), 0))},
        Refusal{"file_name_code_above_255", OP(s.sd.openFile(c, "\xE2\x82\xAC", 0))},
        Refusal{"mode_256", OP(s.sd.openFile(c, "a", 256))},
        Refusal{"write_of_256", OP(s.sd.writeFile(c, std::string(256, 'w')))},
        Refusal{"write_item_of_two_characters", OP(s.sd.writeFile(c, std::vector<std::string>{"ab"}))},
        Refusal{"write_empty_item", OP(s.sd.writeFile(c, std::vector<std::string>{""}))},
        Refusal{"read_255", READ(s.sd.readFile(c, 255))},
        Refusal{"read_negative", READ(s.sd.readFile(c, -1))}),
    [](const auto& p) { return std::string(p.param.name); });

// --- replies of the wrong length ---------------------------------------------------------------------

struct WrongLength {
  const char* operation;
  Bytes reply;
  ServiceRun run;
};
void PrintTo(const WrongLength& c, std::ostream* os) { *os << c.operation << " " << c.reply.size(); }

class ServiceWrongLength : public ::testing::TestWithParam<WrongLength> {};

TEST_P(ServiceWrongLength, RaisesFirmwareOtherErrorNamingTheOperation) {
  const auto& c = GetParam();
  Services s(ztest::replyWith(c.reply));
  try {
    ztest::runIn(true, s.b.dev, 2.0, [&](Call& call) { return c.run(s, call); });
    FAIL() << "accepted";
  } catch (const zelvo::Error& e) {
    EXPECT_EQ(e.id(), zelvo::Err::FirmwareOtherError);
    EXPECT_NE(e.msg().find(c.operation), std::string::npos) << e.msg();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ServiceWrongLength,
    ::testing::Values(WrongLength{"Net_getIPAddrAndSubmask", {192, 168, 1, 110, 255, 255, 255}, OP(s.net.getIPAddrAndSubmask(c))},
                      WrongLength{"Net_getMACAddr", {0, 1, 2, 3, 4}, OP(s.net.getMACAddr(c))},
                      WrongLength{"SNTP_getServerIP", {0, 1, 2, 3}, OP(s.sntp.getServerIP(c))},
                      WrongLength{"SNTP_getPeriod", {0x45, 0x61, 0}, NUM(s.sntp.getPeriod(c))},
                      WrongLength{"SNTP_getPeriod", {0x45, 0x61, 0, 0, 0}, NUM(s.sntp.getPeriod(c))},
                      WrongLength{"SD_getStorage", {0, 0, 0x40}, NUM(s.sd.getStorage(c))},
                      WrongLength{"SD_getStorage", {0, 0, 0x40, 0, 0}, NUM(s.sd.getStorage(c))}),
    [](const auto& p) { return std::string(p.param.operation) + "_" + std::to_string(p.param.reply.size()); });

// A slow device: the write and the read act on every copy, so each goes out once; an idempotent
// setting is asked again.
TEST(ServiceSends, WritesAndReadsGoOutOnce) {
  Services s([](const ztest::Request& r, int) {
    std::this_thread::sleep_for(700ms);  // past the first attempt's wait of 0.5 s
    return ztest::Answer{ztest::wireFrame(r.code, r.code == 2246 ? Bytes{0, 'A'} : Bytes{0})};
  });
  EXPECT_EQ(ztest::runIn(true, s.b.dev, 1.5, [&](Call& c) { return asText(s.sd.writeFile(c, std::string("A"))); }), "0");
  EXPECT_EQ(ztest::runIn(true, s.b.dev, 1.5, [&](Call& c) { return readText(s.sd.readFile(c, 1)); }), "chars A");
  EXPECT_EQ(ztest::runIn(true, s.b.dev, 1.5, [&](Call& c) { return asText(s.sd.closeFile(c)); }), "0");
  const auto count = [&](int code) {
    int n = 0;
    for (const auto& r : s.b.peer.requests()) n += r.code == code;
    return n;
  };
  // The copy re-sent while the first answer was on its way reaches the (slow) peer a little later.
  EXPECT_TRUE(ztest::eventually([&] { return count(2247) > 1; }, 5000ms));
  EXPECT_EQ(count(2245), 1);
  EXPECT_EQ(count(2246), 1);
}

TEST(NetworkState, ReadsLeaveTheirTextsAndTheAddressFollowsTheConnection) {
  Services s(ztest::replyWith({10, 0, 0, 7, 255, 0, 0, 0}));
  EXPECT_EQ(s.net.ipAddr(), "127.0.0.1");  // before a read: the address connected to
  (void)ztest::runIn(true, s.b.dev, 2.0, [&](Call& c) { return s.net.getIPAddrAndSubmask(c); });
  const auto st = s.net.state();
  EXPECT_EQ(st.ip_addr, "10.0.0.7");
  EXPECT_EQ(st.subnet_mask, "255.0.0.0");
  EXPECT_EQ(st.gateway, std::nullopt);
  EXPECT_EQ(s.net.ipAddr(), "10.0.0.7");
  s.b.dev.disconnect(false);
  s.b.dev.connect("localhost", s.b.peer.port(), false);
  EXPECT_EQ(s.net.ipAddr(), "localhost");  // read while connected elsewhere: no longer shown
}

#undef OP
#undef NUM
#undef READ

}  // namespace
