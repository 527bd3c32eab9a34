// CAN frames and operations against a scripted device: the identifier word, the bytes each
// operation sends and how it decodes the reply in both families, and the delivery of received
// frames (whole 12-byte rows only).
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "support/stream_bench.hpp"
#include "zelvo/bus/can_module.hpp"

namespace {

using zelvo::Call;
using zelvo::CANFrame;
using zelvo::CANModule;
using zelvo::Err;
using ztest::asText;
using ztest::Bytes;
using ztest::kPinModeQuery;
using namespace std::chrono_literals;

constexpr int kStart = 49;     // START_CAN: sent without reply; the code of received frames
constexpr int kOpen = 0x3001;  // OPEN_CAN 48 with port 1, as every frame parser reads it

const zelvo::PairMap& canMap() { return *zelvo::product("PellorK1CD").can_dict; }  // 1 on device ports 1 and 2

// --- the frame value -----------------------------------------------------------------------------

struct WordCase {
  const char* name;
  CANFrame frame;
  std::vector<std::int64_t> id_in_list;
};
void PrintTo(const WordCase& c, std::ostream* os) { *os << c.name; }
class CanWord : public ::testing::TestWithParam<WordCase> {};

TEST_P(CanWord, ComesBackFromItsWireForm) {
  const auto& c = GetParam();
  EXPECT_EQ(c.frame.id_in_list, c.id_in_list);
  ASSERT_EQ(c.frame.frame_in_list.size(), zelvo::kCanWireBytes);
  const CANFrame back = CANFrame::fromU8List(c.frame.frame_in_list);
  EXPECT_EQ(back, c.frame) << back.text();
}

INSTANTIATE_TEST_SUITE_P(
    Frames, CanWord,
    ::testing::Values(WordCase{"standard", CANFrame(291), {0x24, 0x60, 0, 0}},
                      WordCase{"extended", CANFrame(0x12345678, true), {0x91, 0xA8, 0x56, 0x78}},
                      WordCase{"remote_standard", CANFrame(0x7FF, false, true), {0xFF, 0xF0, 0, 0}},
                      WordCase{"remote_extended", CANFrame(0x1FFFFFFF, true, true), {0xFF, 0xFB, 0xFF, 0xFF}},
                      WordCase{"data", CANFrame(1, false, false, {1, 2, 3}), {0, 0x20, 0, 0}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(CanFrameValue, DataIsPaddedAndCutTextFormAndShortRows) {
  EXPECT_EQ(CANFrame::regularizeData({1, 2, 3, 4, 5, 6, 7, 8, 9}), (std::vector<std::int64_t>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(CANFrame(291, false, false, {1, 2}).text(), "CANFrame(id=291, extended_id=False, remote=False, data=[1, 2, 0, 0, 0, 0, 0, 0])");
  EXPECT_EQ(CANFrame(2048).id_in_list, (std::vector<std::int64_t>{0, 0, 0, 0}));  // a plain value: cut by the word
  EXPECT_EQ(CANFrame::fromU8List(std::vector<std::int64_t>{0x24, 0x60, 0, 0}), CANFrame(291));
  EXPECT_THROW(CANFrame::fromU8List(std::vector<std::int64_t>{0x24, 0x60, 0}), zelvo::Error);
}

// --- operations ----------------------------------------------------------------------------------

using CANRow = ztest::OpRow<CANModule>;
class CANOp : public ::testing::TestWithParam<std::tuple<CANRow, bool>> {};

TEST_P(CANOp, SendsItsRequestsAndDecodesTheReply) {
  const auto& [c, blocking] = GetParam();
  std::vector<ztest::Sent> sent;
  EXPECT_EQ(ztest::runRow(c, "PellorK1CD", canMap(), blocking, sent), c.result);
  EXPECT_EQ(sent, c.sent);
}

#define OP(expr) [](CANModule & m, Call & c) { return asText(expr); }

// 32-bit words in decimal (format() takes ints).
zelvo::Op<std::string> words(zelvo::Op<std::vector<std::int64_t>> op) {
  std::string out;
  for (std::int64_t v : co_await std::move(op)) out += (out.empty() ? "" : ",") + std::to_string(v);
  co_return out;
}

Bytes framePayload(Bytes head, std::vector<std::int64_t> row) {
  head.insert(head.end(), row.begin(), row.end());
  return head;
}

const CANRow kRows[] = {
    {"open_in_the_form_its_reply_is_filed", {{kOpen, {0}}}, OP(m.open(c, 1)), "0",
     {{kPinModeQuery, {1}}, {kPinModeQuery, {2}}, {kOpen, {}}}},
    {"open_status_as_code", {{kOpen, {57}}}, OP(m.open(c, 1)), "-7022",
     {{kPinModeQuery, {1}}, {kPinModeQuery, {2}}, {kOpen, {}}}},
    {"close_stops_first", {{51, {1, 0}}, {52, {1, 0}}}, OP(m.close(c, 1)), "0", {{51, {1}}, {52, {1}}}},
    {"close_tests_its_status", {{51, {1, 0}}, {52, {1, 57}}}, OP(m.close(c, 1)), "-7022", {{51, {1}}, {52, {1}}}},
    {"start_returns_0", {}, OP(m.start(c, 1)), "0", {{kStart, {1}}}},
    {"write_standard", {{50, {1, 0}}}, OP(m.write(c, 1, 291, std::vector<std::int64_t>{1, 2}, false, false)), "0",
     {{50, framePayload({1, 0}, CANFrame(291, false, false, {1, 2}).frame_in_list)}}},
    {"write_remote_sends_zeros", {{50, {1, 0}}}, OP(m.write(c, 1, 5, std::vector<std::int64_t>{9, 9, 9}, true, false)), "0",
     {{50, framePayload({1, 0}, CANFrame(5, false, true).frame_in_list)}}},
    {"write_extended", {{50, {1, 0}}}, OP(m.write(c, 1, 0x1FFFFFFF, std::vector<std::int64_t>{}, false, true)), "0",
     {{50, framePayload({1, 0}, {0xFF, 0xEB, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0})}}},
    {"speed", {{53, {1, 0}}}, OP(m.setSpeed(c, 1, 3)), "0", {{53, {1, 3}}}},
    {"filtering_on", {{57, {1, 0}}}, OP(m.setRXFilteringOn(c, 1, 1)), "0", {{57, {1, 1}}}},
    {"filter", {{58, {1, 0}}}, OP(m.setRXFilterOrMask(c, 1, 6, 0x7F0, false, false)), "0",
     {{58, framePayload({1, 6}, CANFrame(0x7F0).frame_in_list)}}},
    {"tx_priority", {{55, {1, 0}}}, OP(m.setTXPriority(c, 1, 2, 3)), "0", {{55, {1, 2, 3}}}},
    {"interrupt_enable", {{54, {1, 0}}}, OP(m.setEnableInterrupt(c, 1, 0xA5)), "0", {{54, {1, 0xA5}}}},
    {"rollover", {{56, {1, 0}}}, OP(m.setRXRollover(c, 1, 1)), "0", {{56, {1, 1}}}},
    {"errors", {{60, {1, 7, 130}}}, OP(m.getErrors(c, 1)), "7,130", {{60, {1}}}},
    {"interrupts", {{59, {1, 3, 4, 5}}}, OP(m.getInterrupts(c, 1)), "3,4,5", {{59, {1}}}},
    {"counters", {{61, {1, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 255, 255, 255, 255}}},
     [](CANModule& m, Call& c) { return words(m.getCounters(c, 1)); }, "1,256,2,3,4,4294967295", {{61, {1}}}},
};

INSTANTIATE_TEST_SUITE_P(Ops, CANOp, ::testing::Combine(::testing::ValuesIn(kRows), ::testing::Bool()),
                         [](const auto& p) {
                           return std::string(std::get<0>(p.param).name) + (std::get<1>(p.param) ? "_blocking" : "_awaitable");
                         });
#undef OP

using Refusal = ztest::RefusalRow<CANModule>;
class CANRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(CANRefusal, RaisesBeforeSending) {
  std::vector<ztest::Sent> sent;
  EXPECT_EQ(ztest::runRefusal(GetParam(), "PellorK1CD", canMap(), sent), GetParam().error);
  EXPECT_TRUE(sent.empty());
}

#define OP(expr) [](CANModule & m, Call & c) { return asText(expr); }
using V = std::vector<std::int64_t>;
INSTANTIATE_TEST_SUITE_P(
    Checks, CANRefusal,
    ::testing::Values(
        Refusal{"port_not_in_map", OP(m.open(c, 2)), Err::CANPortNotAvaliableError},
        Refusal{"standard_id_2048", OP(m.write(c, 1, 2048, V{}, false, false)), Err::InputDataNotInRangeError},
        Refusal{"extended_id_beyond_29_bits", OP(m.write(c, 1, 0x20000000, V{}, false, true)), Err::InputDataNotInRangeError},
        Refusal{"negative_id", OP(m.write(c, 1, -1, V{}, false, false)), Err::InputDataNotInRangeError},
        Refusal{"filter_id_2048", OP(m.setRXFilterOrMask(c, 1, 0, 2048, false, false)), Err::InputDataNotInRangeError},
        Refusal{"nine_data_bytes", OP(m.write(c, 1, 1, V(9, 0), false, false)), Err::CANDataLengthNotVaildError},
        Refusal{"data_beyond_a_byte", OP(m.write(c, 1, 1, V{256}, false, false)), Err::InputDataNotInRangeError},
        Refusal{"no_data", OP(m.write(c, 1, 1, std::nullopt, false, false)), Err::InputTypeNotCorrectError},
        Refusal{"speed", OP(m.setSpeed(c, 1, 4)), Err::CANSpeedNotVaildError},
        Refusal{"tx_buffer", OP(m.setTXPriority(c, 1, 3, 0)), Err::CANTXNotVaildError},
        Refusal{"tx_priority", OP(m.setTXPriority(c, 1, 0, 4)), Err::CANTXPriorityNotVaildError},
        Refusal{"filter_index_beyond_a_byte", OP(m.setRXFilterOrMask(c, 1, 256, 1, false, false)), Err::InputDataNotInRangeError},
        Refusal{"interrupt_byte", OP(m.setEnableInterrupt(c, 1, 256)), Err::InputDataNotInRangeError},
        Refusal{"rollover_byte", OP(m.setRXRollover(c, 1, -1)), Err::InputDataNotInRangeError}),
    [](const auto& p) { return std::string(p.param.name); });
#undef OP

TEST(CANClose, AStopThatTimesOutIsReturnedAsItsCode) {
  // No reply to STOP_CAN: CAN_close returns the time-out's code instead of raising, sends no close.
  ztest::ModuleBench<CANModule> t("PellorK1CD", canMap(), [](const ztest::Request&, int) { return ztest::Answer{}; });
  for (const bool blocking : {true, false})
    EXPECT_EQ(ztest::runIn(blocking, t.b.dev, 0.3, [&](Call& c) { return t.mod.close(c, 1); }),
              zelvo::errorInfo(Err::ReceivePacketTimeoutError).code);
  for (const auto& r : t.b.peer.requests()) EXPECT_NE(r.code, 52);
}

// --- delivery ------------------------------------------------------------------------------------

struct Can {
  Can() : t("PellorK1CD", canMap(), ztest::statusScript()) {}
  int open() { return ztest::runIn(true, t.b.dev, 2.0, [&](Call& c) { return t.mod.open(c, 1); }); }
  int close() { return ztest::runIn(true, t.b.dev, 2.0, [&](Call& c) { return t.mod.close(c, 1); }); }
  std::vector<CANFrame> read(std::int64_t n, bool blocking = true) {
    return ztest::runIn(blocking, t.b.dev, 2.0, [&](Call& c) { return t.mod.read(c, 1, n, 0.005); }).frames;
  }
  void receive(const std::vector<CANFrame>& frames, Bytes extra = {}) {
    Bytes payload{1, 0};
    for (const auto& f : frames) payload.insert(payload.end(), f.frame_in_list.begin(), f.frame_in_list.end());
    payload.insert(payload.end(), extra.begin(), extra.end());
    t.b.peer.send(ztest::wireFrame(kStart, payload));
  }
  ztest::ModuleBench<CANModule> t;
};

TEST(CANDelivery, WholeRowsAreDecodedAndARemainderIsDroppedWithOneWarning) {
  ztest::Warnings warnings;
  Can c;
  ASSERT_EQ(c.open(), 0);
  const CANFrame a(0x123, false, false, {1, 2, 3}), b(0x1ABCDEF0 & 0x1FFFFFFF, true, false, {9}), r(7, false, true);
  c.receive({a}, {0xEE});  // 13 bytes: one frame and a byte that is no frame
  c.receive({b, r});
  const auto got = c.read(3);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0], a);
  EXPECT_EQ(got[1], b);
  EXPECT_TRUE(got[2].remote);
  EXPECT_FALSE(got[2].extended_id);
  EXPECT_EQ(warnings.count(Err::CANQueueOverflowWarning), 1);
  EXPECT_EQ(c.t.mod.droppedFrames(), 0u);
}

TEST(CANDelivery, ARefusedOpenThenOpenAndCloseLosesNothingAndBlocksNothing) {
  ztest::ModuleBench<CANModule> t("PellorK1CD", canMap(), ztest::statusScript({{kOpen, 57}}));
  auto open = [&] { return ztest::runIn(true, t.b.dev, 2.0, [&](Call& c) { return t.mod.open(c, 1); }); };
  ASSERT_EQ(open(), -7022);
  EXPECT_FALSE(t.mod.isOpen());
  Bytes packet{1, 0};
  const auto row = CANFrame(42).frame_in_list;
  packet.insert(packet.end(), row.begin(), row.end());
  t.b.peer.send(ztest::wireFrame(kStart, packet));  // arrives while closed: kept
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(t.mod.available(), 0u);
  EXPECT_EQ(ztest::runIn(true, t.b.dev, 2.0, [&](Call& c) { return t.mod.close(c, 1); }), 0);  // does not block
}

TEST(CANDelivery, KeptFramesComeWhenItOpensAndABlockedReadEndsAtClose) {
  Can c;
  c.receive({CANFrame(1)});
  std::this_thread::sleep_for(50ms);
  ASSERT_EQ(c.open(), 0);
  EXPECT_EQ(c.read(1), std::vector<CANFrame>{CANFrame(1)});
  auto reader = std::async(std::launch::async, [&] { return c.read(5); });
  c.receive({CANFrame(2)});
  EXPECT_EQ(reader.wait_for(100ms), std::future_status::timeout);
  ASSERT_EQ(c.close(), 0);
  ASSERT_EQ(reader.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(reader.get(), std::vector<CANFrame>{CANFrame(2)});
  EXPECT_EQ(c.read(-1, false), std::vector<CANFrame>{});
}

}  // namespace
