// UART operations against a scripted device: the bytes each sends and how it decodes the reply in
// both families; delivery of received bytes per port; reads that end when nothing more can come.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "support/stream_bench.hpp"
#include "zelvo/bus/uart_module.hpp"

namespace {

using zelvo::Call;
using zelvo::Err;
using zelvo::UARTModule;
using ztest::asText;
using ztest::Bytes;
using ztest::kPinModeQuery;
using namespace std::chrono_literals;

constexpr int kStart = 129;  // START_UART_READING: sent without reply; the code of received data

const zelvo::PairMap& uartMap() { return *zelvo::product("PellorK1D").uart_dict; }  // 1: (0,3),(0,4); 2: (1,2),(1,3)

std::string chars(const zelvo::UartChars& c) { return std::string(c.bytes.begin(), c.bytes.end()); }
zelvo::Op<std::string> text(zelvo::Op<zelvo::UartChars> op) { co_return chars(co_await std::move(op)); }

using UARTRow = ztest::OpRow<UARTModule>;
class UARTOp : public ::testing::TestWithParam<std::tuple<UARTRow, bool>> {};

TEST_P(UARTOp, SendsItsRequestsAndDecodesTheReply) {
  const auto& [c, blocking] = GetParam();
  std::vector<ztest::Sent> sent;
  EXPECT_EQ(ztest::runRow(c, "PellorK1D", uartMap(), blocking, sent), c.result);
  EXPECT_EQ(sent, c.sent);
}

#define OP(expr) [](UARTModule & m, Call & c) { return asText(expr); }

const UARTRow kRows[] = {
    {"open_starts_reading", {{128, {1, 0}}}, OP(m.open(c, 1)), "0", {{kPinModeQuery, {0}}, {128, {1}}, {kStart, {1}}}},
    {"refused_open_starts_nothing", {{128, {2, 23}}}, OP(m.open(c, 2)), "-7007", {{kPinModeQuery, {1}}, {128, {2}}}},
    {"close_stops_then_closes", {{131, {1, 0}}, {132, {1, 0}}}, OP(m.close(c, 1)), "0", {{131, {1}}, {132, {1}}}},
    {"write_text", {{130, {1, 0}}}, OP(m.write(c, 1, std::string("AB"))), "0", {{130, {1, 2, 65, 66}}}},
    {"write_latin1_text", {{130, {1, 0}}}, OP(m.write(c, 1, std::string("\xC3\xA9"))), "0", {{130, {1, 1, 0xE9}}}},
    {"write_bytes", {{130, {2, 0}}}, OP(m.write(c, 2, std::vector<std::int64_t>{0, 255})), "0", {{130, {2, 2, 0, 255}}}},
    {"write_fifty", {{130, {1, 0}}}, OP(m.write(c, 1, std::string(50, 'x'))), "0",
     {{130, [] { Bytes b{1, 50}; b.insert(b.end(), 50, 'x'); return b; }()}}},
    {"baud_rate_as_four_bytes", {{134, {1, 0}}}, OP(m.setBaudRate(c, 1, 400000)), "0", {{134, {1, 0x00, 0x06, 0x1A, 0x80}}}},
    {"baud_rate_zero_is_accepted", {{134, {1, 23}}}, OP(m.setBaudRate(c, 1, 0)), "-7007", {{134, {1, 0, 0, 0, 0}}}},
    {"data_bits", {{135, {1, 0}}}, OP(m.setDataBit(c, 1, 1)), "0", {{135, {1, 1}}}},
    {"reserved_parity_is_sent", {{136, {1, 0}}}, OP(m.setParity(c, 1, 1)), "0", {{136, {1, 1}}}},
    {"stop_bits_under_139", {{139, {2, 0}}}, OP(m.setNumStopBit(c, 2, 3)), "0", {{139, {2, 3}}}},
    {"reset", {{133, {1, 0}}}, OP(m.reset(c, 1)), "0", {{133, {1}}}},
    {"start_reading_returns_0", {}, OP(m.startReading(c, 2)), "0", {{kStart, {2}}}},
    {"stop_reading", {{131, {2, 23}}}, OP(m.stopReading(c, 2)), "-7007", {{131, {2}}}},
};

INSTANTIATE_TEST_SUITE_P(Ops, UARTOp, ::testing::Combine(::testing::ValuesIn(kRows), ::testing::Bool()),
                         [](const auto& p) {
                           return std::string(std::get<0>(p.param).name) + (std::get<1>(p.param) ? "_blocking" : "_awaitable");
                         });
#undef OP

// --- refusals before anything is sent ------------------------------------------------------------

using Refusal = ztest::RefusalRow<UARTModule>;
class UARTRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(UARTRefusal, RaisesBeforeSending) {
  std::vector<ztest::Sent> sent;
  EXPECT_EQ(ztest::runRefusal(GetParam(), "PellorK1D", uartMap(), sent), GetParam().error);
  EXPECT_TRUE(sent.empty());
}

#define OP(expr) [](UARTModule & m, Call & c) { return asText(expr); }
INSTANTIATE_TEST_SUITE_P(
    Checks, UARTRefusal,
    ::testing::Values(Refusal{"port_not_in_map", OP(m.open(c, 3)), Err::UARTPortNotAvaliableError},
                      Refusal{"baud_above_limit", OP(m.setBaudRate(c, 1, 400001)), Err::UARTBaudRateNotSupportError},
                      Refusal{"negative_baud", OP(m.setBaudRate(c, 1, -1)), Err::UARTBaudRateNotSupportError},
                      Refusal{"fifty_one_characters", OP(m.write(c, 1, std::string(51, 'x'))), Err::UARTExceedMaxLengthError},
                      Refusal{"character_beyond_a_byte", OP(m.write(c, 1, std::string("\xE2\x82\xAC"))),
                              Err::InputDataNotInRangeError},
                      Refusal{"element_beyond_a_byte", OP(m.write(c, 1, std::vector<std::int64_t>{256})),
                              Err::InputDataNotInRangeError},
                      Refusal{"data_bit_mode", OP(m.setDataBit(c, 1, 2)), Err::UARTDataBitNotSupportError},
                      Refusal{"parity_mode", OP(m.setParity(c, 1, 4)), Err::UARTParityNotSupportError},
                      Refusal{"stop_bit_mode", OP(m.setNumStopBit(c, 1, -1)), Err::UARTStopBitNotSupportError},
                      Refusal{"read_beyond_the_queue", [](UARTModule& m, Call& c) { return text(m.read(c, 1, 1000001, 0)); },
                              Err::InputDataNotInRangeError}),
    [](const auto& p) { return std::string(p.param.name); });
#undef OP

// --- delivery ------------------------------------------------------------------------------------

struct Uart {
  Uart() : t("PellorK1D", uartMap(), ztest::statusScript()) {}
  int open(int port) { return ztest::runIn(true, t.b.dev, 2.0, [&](Call& c) { return t.mod.open(c, port); }); }
  int close(int port) { return ztest::runIn(true, t.b.dev, 2.0, [&](Call& c) { return t.mod.close(c, port); }); }
  std::string read(int port, std::int64_t n, bool blocking = true) {
    return ztest::runIn(blocking, t.b.dev, 2.0, [&](Call& c) { return text(t.mod.read(c, port, n, 0.005)); });
  }
  void receive(int port, const std::string& bytes) {
    Bytes payload{static_cast<std::uint8_t>(port), 0};
    payload.insert(payload.end(), bytes.begin(), bytes.end());
    t.b.peer.send(ztest::wireFrame(kStart, payload));
  }
  bool queued(int port, std::size_t n) {
    return ztest::eventually([&] { return t.mod.available(port) >= n; });
  }
  ztest::ModuleBench<UARTModule> t;
};

TEST(UARTDelivery, PortsAreOpenedClosedAndDeliveredSeparately) {
  Uart u;
  ASSERT_EQ(u.open(1), 0);
  ASSERT_EQ(u.open(2), 0);  // reading starts on port 2 too
  u.receive(1, "Hi!");
  u.receive(2, "xy");
  EXPECT_EQ(u.read(1, 3), "Hi!");
  ASSERT_TRUE(u.queued(2, 2));
  EXPECT_EQ(u.read(2, -1, false), "xy");
  ASSERT_EQ(u.close(1), 0);
  u.receive(2, "z");  // port 2 keeps delivering
  EXPECT_EQ(u.read(2, 1), "z");
  EXPECT_EQ(u.t.mod.openPorts(), std::vector<int>{2});
  int starts = 0;
  for (const auto& r : u.t.b.peer.requests()) starts += r.code == kStart;
  ASSERT_EQ(u.open(2), 0);  // already open: OPEN_UART again, no new start
  u.t.b.peer.waitForRequests(u.t.b.peer.requests().size());
  int after = 0;
  for (const auto& r : u.t.b.peer.requests()) after += r.code == kStart;
  EXPECT_EQ(after, starts);
}

TEST(UARTDelivery, BytesOfAClosedPortWaitUntilItOpens) {
  Uart u;
  u.receive(1, "early");
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(u.read(1, -1), "");
  ASSERT_EQ(u.open(1), 0);
  u.receive(1, "late");
  EXPECT_EQ(u.read(1, 9), "earlylate");
}

TEST(UARTDelivery, AFailedOpenDeliversNothingAndAnOpenAfterItWorks) {
  ztest::ModuleBench<UARTModule> t("PellorK1D", uartMap(), ztest::statusScript({{128, 23}}));
  ASSERT_EQ(ztest::runIn(true, t.b.dev, 2.0, [&](Call& c) { return t.mod.open(c, 1); }), -7007);
  EXPECT_TRUE(t.mod.openPorts().empty());
  // A blocking read of a port that is not open returns what is queued at once instead of waiting.
  EXPECT_EQ(ztest::runIn(true, t.b.dev, 2.0, [&](Call& c) { return text(t.mod.read(c, 1, 5, 0)); }), "");
}

TEST(UARTDelivery, ABlockedReadEndsWhenItsPortClosesWithWhatIsQueued) {
  Uart u;
  ASSERT_EQ(u.open(1), 0);
  u.receive(1, "ab");
  ASSERT_TRUE(u.queued(1, 2));
  auto reader = std::async(std::launch::async, [&] { return u.read(1, 10); });
  EXPECT_EQ(reader.wait_for(100ms), std::future_status::timeout);  // no time limit: still waiting
  ASSERT_EQ(u.close(1), 0);
  ASSERT_EQ(reader.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(reader.get(), "ab");
}

TEST(UARTDelivery, ABlockedReadEndsWhenTheModuleIsFreedOrTheDeviceCloses) {
  for (const bool device : {false, true}) {
    Uart u;
    ASSERT_EQ(u.open(2), 0);
    auto reader = std::async(std::launch::async, [&] {
      try {
        return u.read(2, 4);
      } catch (const zelvo::Error&) {
        return std::string("closed");
      }
    });
    std::this_thread::sleep_for(50ms);
    if (device)
      u.t.b.dev.close(false);
    else
      u.t.mod.free();
    ASSERT_EQ(reader.wait_for(5s), std::future_status::ready) << device;
    const std::string got = reader.get();
    // Freed: what is queued (nothing). Closed: the same, or the closed device's error when the read
    // began after the close.
    EXPECT_TRUE(got.empty() || (device && got == "closed")) << device << got;
  }
}

TEST(UARTDelivery, TheAwaitableReadNeverWaits) {
  Uart u;
  ASSERT_EQ(u.open(1), 0);
  u.receive(1, "q");
  ASSERT_TRUE(u.queued(1, 1));
  EXPECT_EQ(u.read(1, 5, false), "q");
}

TEST(UARTDelivery, OverflowDropsTheNewestAndWarnsOncePerBurst) {
  ztest::Warnings warnings;
  Uart u;
  ASSERT_EQ(u.open(1), 0);
  const std::string chunk(20000, 'a');  // frames are below 32 KiB (their length field is signed)
  const std::size_t capacity = zelvo::QUEUE_SIZE_MAX;
  auto flood = [&](std::size_t bytes) {
    for (std::size_t sent = 0; sent < bytes; sent += chunk.size()) u.receive(1, chunk);
  };
  flood(capacity + 2 * chunk.size());  // two packets beyond the bound: one burst
  ASSERT_TRUE(ztest::eventually([&] { return u.t.mod.droppedBytes(1) == 2 * chunk.size(); }, 10s));
  EXPECT_EQ(warnings.count(Err::UARTQueueOverflowWarning), 1);
  EXPECT_EQ(u.read(1, -1).size(), capacity);
  flood(capacity + chunk.size());  // packets fit again, then one more burst
  ASSERT_TRUE(ztest::eventually([&] { return u.t.mod.droppedBytes(1) == 3 * chunk.size(); }, 10s));
  EXPECT_TRUE(ztest::eventually([&] { return warnings.count(Err::UARTQueueOverflowWarning) == 2; }));
}

}  // namespace
