// PWM, counter, encoder, relay and potentiometer operations against a scripted device: the bytes
// each sends and how it decodes the reply, in both families; the checks that refuse a request
// before anything is sent; replies too short for their decoding.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <thread>
#include <tuple>

#include "support/as_text.hpp"
#include "support/bench.hpp"
#include "zelvo/dio/counter_module.hpp"
#include "zelvo/dio/dpot_module.hpp"
#include "zelvo/dio/encoder_module.hpp"
#include "zelvo/dio/pwm_module.hpp"
#include "zelvo/dio/relay_module.hpp"

namespace {

using zelvo::Bytes;
using zelvo::Call;
using zelvo::Err;
using zelvo::Op;
using ztest::asText;
using ztest::format;
using namespace std::chrono_literals;

constexpr std::uint8_t kFF = 0xFF;
constexpr std::int64_t k2pow47 = std::int64_t{1} << 47;
constexpr std::int64_t k2pow48 = std::int64_t{1} << 48;
// Single-precision reals as sent: 1000.0, 25.0, 20.0, 0.5.
const Bytes kF1000 = {0x44, 0x7A, 0, 0}, kF25 = {0x41, 0xC8, 0, 0}, kF20 = {0x41, 0xA0, 0, 0}, kFHalf = {0x3F, 0, 0, 0};

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// One module of each kind on a scripted device that answers each code with its entry of the table.
struct Modules {
  explicit Modules(std::map<int, Bytes> table, zelvo::RelayData relay_data = {.async_open_supported = true})
      : b([table](const ztest::Request& r, int) {
          const auto it = table.find(r.code);
          return it == table.end() ? ztest::Answer{} : ztest::Answer{ztest::wireFrame(r.code, it->second)};
        }),
        relay_data_(relay_data),
        pwm(b.dev),
        counter(b.dev),
        encoder(b.dev),
        relay(b.dev, relay_data_),
        dpot(b.dev) {}
  ztest::Bench b;
  zelvo::RelayData relay_data_;
  zelvo::PWMModule pwm;
  zelvo::CounterModule counter;
  zelvo::EncoderModule encoder;
  zelvo::RelayModule relay;
  zelvo::DPOTModule dpot;

  std::vector<std::pair<int, Bytes>> sent() const {
    std::vector<std::pair<int, Bytes>> out;
    for (const auto& r : b.peer.requests()) out.emplace_back(r.code, r.payload);
    return out;
  }
};

Op<std::string> reading(Op<zelvo::PulseReading> op) {
  const zelvo::PulseReading r = co_await std::move(op);
  co_return format(r.position) + "|" + format(r.frequency);
}

using Run = std::function<Op<std::string>(Modules&, Call&)>;
#define OP(expr) [](Modules & m, Call & c) -> Op<std::string> { return expr; }

struct OpCase {
  const char* name;
  std::map<int, Bytes> replies;
  Run run;
  std::string result;
  std::vector<std::pair<int, Bytes>> sent;
};
void PrintTo(const OpCase& c, std::ostream* os) { *os << c.name; }

class TimerOp : public ::testing::TestWithParam<std::tuple<OpCase, bool>> {};

TEST_P(TimerOp, SendsItsRequestAndDecodesTheReply) {
  const auto& [c, blocking] = GetParam();
  Modules m(c.replies);
  EXPECT_EQ(ztest::runIn(blocking, m.b.dev, 2.0, [&](Call& call) { return c.run(m, call); }), c.result);
  EXPECT_EQ(m.sent(), c.sent);
}

const Bytes kReading1000 = cat({{0}, {kFF, kFF, kFF, kFF, kFF, kFF}, kF1000});

const OpCase kCases[] = {
    // PWM: [channel (, f32)] -> status at element 1
    {"pwm_open", {{80, {1, 0}}}, OP(asText(m.pwm.open(c, 1))), "0", {{80, {1}}}},
    {"pwm_start", {{81, {0, 0}}}, OP(asText(m.pwm.start(c, 0))), "0", {{81, {0}}}},
    {"pwm_stop", {{82, {0, 0}}}, OP(asText(m.pwm.stop(c, 0))), "0", {{82, {0}}}},
    {"pwm_close_refused", {{83, {0, 25}}}, OP(asText(m.pwm.close(c, 0))), "-7009", {{83, {0}}}},
    {"pwm_frequency", {{84, {0, 0}}}, OP(asText(m.pwm.setFrequency(c, 0, 1000))), "0", {{84, cat({{0}, kF1000})}}},
    {"pwm_duty_cycle", {{85, {1, 0}}}, OP(asText(m.pwm.setDutyCycle(c, 1, 25))), "0", {{85, cat({{1}, kF25})}}},
    // counter
    {"counter_open", {{4128, {0, 0}}}, OP(asText(m.counter.open(c, 0))), "0", {{4128, {0}}}},
    {"counter_start", {{4129, {1, 0}}}, OP(asText(m.counter.start(c, 1))), "0", {{4129, {1}}}},
    {"counter_stop", {{4131, {1, 0}}}, OP(asText(m.counter.stop(c, 1))), "0", {{4131, {1}}}},
    {"counter_close", {{4132, {1, 26}}}, OP(asText(m.counter.close(c, 1))), "-7010", {{4132, {1}}}},
    {"edge_5_is_rising", {{4144, {0, 0}}}, OP(asText(m.counter.setEdge(c, 0, 5))), "0", {{4144, {0, 1}}}},
    {"edge_negative_is_falling", {{4144, {1, 0}}}, OP(asText(m.counter.setEdge(c, 1, -3))), "0", {{4144, {1, 0}}}},
    {"counter_preset_1", {{4145, {0, 0}}}, OP(asText(m.counter.setPosition(c, 0, 1))), "0", {{4145, {0, 0, 0, 0, 0, 0, 1}}}},
    {"counter_preset_top", {{4145, {1, 0}}}, OP(asText(m.counter.setPosition(c, 1, k2pow48 - 1))), "0",
     {{4145, {1, kFF, kFF, kFF, kFF, kFF, kFF}}}},
    {"counter_window", {{4146, {0, 0}}}, OP(asText(m.counter.setFreqWindow(c, 0, 20))), "0", {{4146, cat({{0}, kF20})}}},
    {"counter_read_all_ones", {{4130, kReading1000}}, OP(reading(m.counter.read(c, 0))), "281474976710655|1000",
     {{4130, {0}}}},
    {"counter_read_extra_byte", {{4130, cat({kReading1000, {7}})}}, OP(asText(m.counter.readPosition(c, 0))),
     "281474976710655", {{4130, {0}}}},
    {"counter_frequency", {{4130, cat({{1, 0, 0, 0, 0, 1, 0}, kF25})}}, OP(asText(m.counter.readFrequency(c, 1))), "25",
     {{4130, {1}}}},
    // encoder
    {"encoder_open", {{4160, {0, 0}}}, OP(asText(m.encoder.open(c, 0))), "0", {{4160, {0}}}},
    {"encoder_start", {{4161, {0, 0}}}, OP(asText(m.encoder.start(c, 0))), "0", {{4161, {0}}}},
    {"encoder_stop", {{4163, {0, 0}}}, OP(asText(m.encoder.stop(c, 0))), "0", {{4163, {0}}}},
    {"encoder_close_refused", {{4164, {0, 27}}}, OP(asText(m.encoder.close(c, 0))), "-7011", {{4164, {0}}}},
    {"direction_0_is_255", {{4177, {0, 0}}}, OP(asText(m.encoder.setDirection(c, 0, 0))), "0", {{4177, {0, 255}}}},
    {"direction_minus_1_is_255", {{4177, {0, 0}}}, OP(asText(m.encoder.setDirection(c, 0, -1))), "0", {{4177, {0, 255}}}},
    {"direction_7_is_1", {{4177, {0, 0}}}, OP(asText(m.encoder.setDirection(c, 0, 7))), "0", {{4177, {0, 1}}}},
    {"direction_raw", {{4179, {0, 255}}}, OP(asText(m.encoder.getDirection(c, 0))), "255", {{4179, {0}}}},
    {"encoder_preset_minus_1", {{4176, {0, 0}}}, OP(asText(m.encoder.setPosition(c, 0, -1))), "0",
     {{4176, {0, kFF, kFF, kFF, kFF, kFF, kFF}}}},
    {"encoder_preset_lowest", {{4176, {0, 0}}}, OP(asText(m.encoder.setPosition(c, 0, -k2pow47))), "0",
     {{4176, {0, 0x80, 0, 0, 0, 0, 0}}}},
    {"encoder_window", {{4178, {0, 0}}}, OP(asText(m.encoder.setFreqWindow(c, 0, 20))), "0", {{4178, cat({{0}, kF20})}}},
    {"encoder_read_minus_2", {{4162, cat({{0, kFF, kFF, kFF, kFF, kFF, 0xFE}, kF25})}}, OP(reading(m.encoder.read(c, 0))),
     "-2|25", {{4162, {0}}}},
    {"encoder_read_2", {{4162, cat({{0, 0, 0, 0, 0, 0, 2}, kF25})}}, OP(asText(m.encoder.readPosition(c, 0))), "2",
     {{4162, {0}}}},
    {"encoder_frequency", {{4162, kReading1000}}, OP(asText(m.encoder.readFrequency(c, 0))), "1000", {{4162, {0}}}},
    // relays: [port, index & 255] -> 4-byte counters from element 2
    {"relay_all", {{6912, cat({{0, 0}, {0, 0, 0, 1}, {0, 0, 0, 2}, {0, 0, 0, 3}, {0, 0, 0, 4}, {0, 0, 1, 0}, {kFF, kFF, kFF, kFF}})}},
     OP(asText(m.relay.read(c, 0, -1))), "1,2,3,4,256,4294967295", {{6912, {0, 255}}}},
    {"relay_one", {{6912, {0, 0, 0, 0, 1, 2, 9}}}, OP(asText(m.relay.read(c, 0, 3))), "258", {{6912, {0, 3}}}},
    {"relay_open_sends_nothing", {}, OP(asText(m.relay.open(c, 0))), "0", {}},
    {"relay_close_sends_nothing", {}, OP(asText(m.relay.close(c, 0))), "0", {}},
    // potentiometers
    {"dpot_open_sends_nothing", {}, OP(asText(m.dpot.open(c, 0))), "0", {}},
    {"dpot_close_sends_nothing", {}, OP(asText(m.dpot.close(c, 0))), "0", {}},
    {"dpot_channel_4_is_sent", {{8514, {0, 0}}}, OP(asText(m.dpot.writeByChannel(c, 0, 4, 0.5))), "0",
     {{8514, cat({{0, 4}, kFHalf})}}},
    {"dpot_read", {{8513, {0, 1, 0, 0, 0, 128, 9}}}, OP(asText(m.dpot.readByChannel(c, 0, 1))), "128", {{8513, {0, 1}}}},
    {"dpot_write_four", {{8515, {0, 0}}}, OP(asText(m.dpot.writeAllChannel(c, 0, {0.5, 25, 20, 1000}))), "0",
     {{8515, cat({{0}, kFHalf, kF25, kF20, kF1000})}}},
    {"dpot_write_none", {{8515, {0, 22}}}, OP(asText(m.dpot.writeAllChannel(c, 0, {}))), "-7006", {{8515, {0}}}},
};

INSTANTIATE_TEST_SUITE_P(Ops, TimerOp, ::testing::Combine(::testing::ValuesIn(kCases), ::testing::Bool()),
                         [](const auto& p) {
                           return std::string(std::get<0>(p.param).name) + (std::get<1>(p.param) ? "_blocking" : "_awaitable");
                         });

TEST(RelayOpen, AwaitableFormReportsAProductItDoesNotKnow) {
  Modules m({}, zelvo::RelayData{.async_open_supported = false});
  auto open = [&](Call& call) { return m.relay.open(call, 0); };
  EXPECT_EQ(ztest::runIn(true, m.b.dev, 1.0, open), 0);
  EXPECT_EQ(ztest::runIn(false, m.b.dev, 1.0, open), -1);
}

// --- refusals before anything is sent, and replies too short to decode ---------------------------

struct Failure {
  const char* name;
  std::map<int, Bytes> replies;
  Run run;
  Err error;
  std::size_t requests;  // 0: refused before sending
};
void PrintTo(const Failure& c, std::ostream* os) { *os << c.name; }

class TimerFailure : public ::testing::TestWithParam<Failure> {};

TEST_P(TimerFailure, Raises) {
  const auto& c = GetParam();
  Modules m(c.replies);
  try {
    ztest::runIn(true, m.b.dev, 2.0, [&](Call& call) { return c.run(m, call); });
    ADD_FAILURE() << "accepted";
  } catch (const zelvo::Error& e) {
    EXPECT_EQ(e.id(), c.error) << e.what();
  }
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(m.sent().size(), c.requests);
}

const double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Checks, TimerFailure,
    ::testing::Values(
        Failure{"pwm_channel_2", {}, OP(asText(m.pwm.open(c, 2))), Err::PWMChannelNotAvaliableError, 0},
        Failure{"pwm_infinite_frequency", {}, OP(asText(m.pwm.setFrequency(c, 0, kInf))), Err::InputDataNotInRangeError, 0},
        Failure{"pwm_duty_beyond_float", {}, OP(asText(m.pwm.setDutyCycle(c, 0, 1e39))), Err::InputDataNotInRangeError, 0},
        Failure{"counter_channel_minus_1", {}, OP(asText(m.counter.open(c, -1))), Err::CounterChannelNotAvaliableError, 0},
        Failure{"counter_negative_position", {}, OP(asText(m.counter.setPosition(c, 0, -1))), Err::InputDataNotInRangeError, 0},
        Failure{"counter_position_2pow48", {}, OP(asText(m.counter.setPosition(c, 0, k2pow48))), Err::InputDataNotInRangeError, 0},
        Failure{"counter_window_nan", {}, OP(asText(m.counter.setFreqWindow(c, 1, std::nan("")))), Err::InputDataNotInRangeError, 0},
        Failure{"encoder_channel_1", {}, OP(asText(m.encoder.open(c, 1))), Err::EncoderChannelNotAvaliableError, 0},
        Failure{"encoder_position_2pow47", {}, OP(asText(m.encoder.setPosition(c, 0, k2pow47))), Err::InputDataNotInRangeError, 0},
        Failure{"encoder_position_below", {}, OP(asText(m.encoder.setPosition(c, 0, -k2pow47 - 1))), Err::InputDataNotInRangeError, 0},
        Failure{"relay_index_6", {}, OP(asText(m.relay.read(c, 0, 6))), Err::RelayCounterIndexError, 0},
        Failure{"relay_index_minus_2", {}, OP(asText(m.relay.read(c, 0, -2))), Err::RelayCounterIndexError, 0},
        Failure{"relay_port_1", {}, OP(asText(m.relay.read(c, 1, 0))), Err::RelayPortNotAvaliableError, 0},
        Failure{"relay_open_port_1", {}, OP(asText(m.relay.open(c, 1))), Err::RelayPortNotAvaliableError, 0},
        Failure{"dpot_five_ratios", {}, OP(asText(m.dpot.writeAllChannel(c, 0, {0.1, 0.2, 0.3, 0.4, 0.5}))),
                Err::DPOTChannelNotAvaliableError, 0},
        Failure{"dpot_channel_5", {}, OP(asText(m.dpot.writeByChannel(c, 0, 5, 0.5))), Err::DPOTChannelNotAvaliableError, 0},
        Failure{"dpot_port_1", {}, OP(asText(m.dpot.readByChannel(c, 1, 0))), Err::DPOTPortNotAvaliableError, 0},
        Failure{"dpot_close_port_1", {}, OP(asText(m.dpot.close(c, 1))), Err::DPOTPortNotAvaliableError, 0},
        Failure{"dpot_infinite_ratio", {}, OP(asText(m.dpot.writeAllChannel(c, 0, {0.5, kInf}))), Err::InputDataNotInRangeError, 0},
        // Short replies: the operation's error, after one exchange.
        Failure{"counter_read_short", {{4130, cat({{0, 0, 0, 0, 0, 0, 1}, {0, 0, 0}})}}, OP(reading(m.counter.read(c, 0))),
                Err::FirmwareOtherError, 1},
        Failure{"encoder_read_short", {{4162, {0, 0, 0}}}, OP(asText(m.encoder.readPosition(c, 0))), Err::FirmwareOtherError, 1},
        Failure{"direction_short", {{4179, {0}}}, OP(asText(m.encoder.getDirection(c, 0))), Err::FirmwareOtherError, 1},
        Failure{"dpot_read_short", {{8513, {0, 1, 0, 0, 0}}}, OP(asText(m.dpot.readByChannel(c, 0, 1))), Err::FirmwareOtherError, 1},
        Failure{"relay_all_short", {{6912, cat({{0, 0}, Bytes(20, 1)})}}, OP(asText(m.relay.read(c, 0, -1))),
                Err::FirmwareOtherError, 1}),
    [](const auto& p) { return std::string(p.param.name); });

#undef OP

TEST(ShortReply, NamesTheOperation) {
  Modules m({{4130, {0, 1}}});
  try {
    ztest::runIn(true, m.b.dev, 2.0, [&](Call& call) { return m.counter.readPosition(call, 0); });
    ADD_FAILURE() << "accepted";
  } catch (const zelvo::Error& e) {
    EXPECT_NE(std::string(e.what()).find("_Counter_read"), std::string::npos) << e.what();
  }
}

}  // namespace
