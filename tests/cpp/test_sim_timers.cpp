// The emulated PWM, counter, encoder, relay and potentiometer firmware: reply layouts and refusals,
// and positions and frequencies against the simulated signals on a device time the test moves
// (the clock nearly stopped, then advanced, so nothing depends on scheduling).
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "zelvo/catalogue/catalogue.hpp"
#include "zelvo/sim/counter_firmware.hpp"
#include "zelvo/sim/dio_firmware.hpp"
#include "zelvo/sim/dpot_firmware.hpp"
#include "zelvo/sim/encoder_firmware.hpp"
#include "zelvo/sim/firmware.hpp"
#include "zelvo/sim/pwm_firmware.hpp"
#include "zelvo/sim/relay_firmware.hpp"

namespace {

namespace sim = zelvo::sim;
using zelvo::Bytes;

constexpr std::uint8_t kFF = 0xFF;
constexpr double kFrozen = 1e-9;  // device seconds per host second: time moves by advance() only

Bytes f32(float v) {
  Bytes b;
  zelvo::appendF32BE(b, v);
  return b;
}
Bytes cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct Device {
  explicit Device(const char* product) : fw(zelvo::product(product)) { fw.time().setScale(kFrozen); }
  Bytes ask(int code, Bytes payload) {
    const sim::Replies r = fw.handle({code, std::move(payload)});
    return r.empty() ? Bytes{} : r.front().payload;
  }
  // Position and frequency of a counter or encoder read.
  std::pair<std::int64_t, double> read(int code, int channel) {
    const Bytes r = ask(code, {static_cast<std::uint8_t>(channel)});
    std::int64_t p = 0;
    for (std::size_t i = 1; i <= 6; ++i) p = (p << 8) | r.at(i);
    if (p >= (std::int64_t{1} << 47)) p -= std::int64_t{1} << 48;
    return {p, zelvo::readF32BE(zelvo::ByteView(r).subspan(7))};
  }
  void advance(double s) { fw.time().advance(s); }
  sim::Firmware fw;
};

// --- replies and refusals ------------------------------------------------------------------------

struct Step {
  int code;
  Bytes request;
  Bytes reply;
};
struct Exchange {
  const char* name;
  const char* product;
  std::vector<Step> steps;
};
void PrintTo(const Exchange& e, std::ostream* os) { *os << e.name; }

class SimTimerReplies : public ::testing::TestWithParam<Exchange> {};

TEST_P(SimTimerReplies, Answer) {
  Device d(GetParam().product);
  for (const auto& s : GetParam().steps) EXPECT_EQ(d.ask(s.code, s.request), s.reply) << s.code;
}

INSTANTIATE_TEST_SUITE_P(
    Sim, SimTimerReplies,
    ::testing::Values(
        Exchange{"pwm",
                 "TavraD",
                 {{81, {0}, {0, 25}},                        // start before open
                  {80, {0}, {0, 0}},
                  {81, {0}, {0, 0}},
                  {84, cat({0}, f32(0)), {0, 25}},           // frequency must be positive
                  {84, cat({0}, f32(NAN)), {0, 25}},
                  {85, cat({1}, f32(100.5F)), {1, 25}},      // duty cycle 0..100
                  {85, cat({1}, f32(100)), {1, 0}},
                  {80, {2}, {2, 11}},                        // no channel 2
                  {84, {0, 1}, {0, 80}}}},                   // too short
        Exchange{"counter",
                 "PellorK1D",
                 {{4129, {1}, {1, 26}},                      // start before open
                  {4144, {0, 2}, {0, 26}},                   // edge 0 or 1
                  {4146, cat({0}, f32(19.5F)), {0, 26}},     // window at least 20 ms
                  {4146, cat({0}, f32(20)), {0, 0}},
                  {4145, {0, 0, 0, 0, 0, 1, 0}, {0, 0}},     // preset 256
                  {4130, {0}, cat({0, 0, 0, 0, 0, 1, 0}, f32(0))},
                  {4130, {2}, {2, 11}}}},
        Exchange{"encoder",
                 "PellorK1AD",
                 {{4179, {0}, {0, 1}},
                  {4177, {0, 255}, {0, 0}},
                  {4179, {0}, {0, 255}},
                  {4177, {0, 2}, {0, 27}},                   // 1 or 255 only
                  {4161, {0}, {0, 27}},                      // start before open
                  {4176, {0, kFF, kFF, kFF, kFF, kFF, 0xFE}, {0, 0}},
                  {4162, {0}, cat({0, kFF, kFF, kFF, kFF, kFF, 0xFE}, f32(0))},
                  {4160, {1}, {1, 11}}}},                    // one channel only
        Exchange{"relay",
                 "TavraL",
                 {{6912, {0, 2}, {0, 0, 0, 0, 0, 0}},
                  {6912, {0, 6}, {0, 51}},
                  {6912, {1, 255}, {1, 51}},
                  {6912, {0}, {0, 80}}}},
        Exchange{"dpot",
                 "TavraP",
                 {{8513, {0, 3}, {0, 3, 0, 0, 0, 128}},       // half way at start
                  {8514, cat({0, 3}, f32(1)), {0, 0}},
                  {8513, {0, 3}, {0, 3, 0, 0, 0, 255}},
                  {8514, cat({0, 4}, f32(0.5F)), {0, 11}},     // four channels, 0..3
                  {8514, cat({0, 1}, f32(1.5F)), {0, 80}},     // ratio 0..1
                  {8515, cat(cat({0}, f32(0)), f32(0.2F)), {0, 0}},
                  {8513, {0, 1}, {0, 1, 0, 0, 0, 51}},
                  {8515, {0}, {0, 0}},                         // nothing to set
                  {8515, {0, 1, 2}, {0, 80}},                  // not whole values
                  {8513, {1, 0}, {1, 11}}}}),
    [](const auto& p) { return std::string(p.param.name); });

// --- positions and frequencies over time ----------------------------------------------------------

constexpr int PULSE_READ = sim::countercmd::PULSE_READ, ENCODER_READ = sim::encodercmd::ENCODER_READ;

void openAndStart(Device& d, int open, int start, std::uint8_t channel) {
  ASSERT_EQ(d.ask(open, {channel}), (Bytes{channel, 0}));
  ASSERT_EQ(d.ask(start, {channel}), (Bytes{channel, 0}));
}

TEST(SimCounter, CountsTheInputWhileStartedAndMeasuresItOverTheWindow) {
  Device d("PellorK1D");
  auto& counter = *d.fw.findModule<sim::CounterFirmware>();
  counter.setInput(1, 1000);
  d.advance(5);  // not started: nothing counted
  openAndStart(d, 4128, 4129, 1);
  d.advance(2);
  auto [p, f] = d.read(PULSE_READ, 1);
  EXPECT_NEAR(p, 2000, 1);
  EXPECT_NEAR(f, 1000, 1);
  counter.setInput(1, 0);  // the signal stops: after half a window the measure is half
  d.advance(0.05);
  EXPECT_NEAR(d.read(PULSE_READ, 1).second, 500, 1);
  counter.setInput(1, 250);
  ASSERT_EQ(d.ask(4131, {1}), (Bytes{1, 0}));  // stopped: the count stays
  d.advance(1);
  EXPECT_NEAR(d.read(PULSE_READ, 1).first, 2000, 1);
  EXPECT_EQ(d.read(PULSE_READ, 0).first, 0);  // the other channel saw nothing
}

TEST(SimCounter, TheWindowHoldsNothingFromBeforeTheStart) {
  Device d("PellorK1D");
  d.fw.findModule<sim::CounterFirmware>()->setInput(0, 1000);
  openAndStart(d, 4128, 4129, 0);  // at device time 0
  EXPECT_NEAR(d.read(PULSE_READ, 0).second, 0, 1);
  d.advance(0.05);
  EXPECT_NEAR(d.read(PULSE_READ, 0).second, 500, 1);
}

TEST(SimCounter, PositionsWrapAt48Bits) {
  Device d("PellorK1D");
  d.fw.findModule<sim::CounterFirmware>()->setInput(0, 100);
  ASSERT_EQ(d.ask(4145, {0, kFF, kFF, kFF, kFF, kFF, 0xF6}), (Bytes{0, 0}));  // 2^48 - 10
  openAndStart(d, 4128, 4129, 0);
  d.advance(0.5);
  EXPECT_NEAR(d.read(PULSE_READ, 0).first, 40, 1);
}

TEST(SimCounter, FollowsTheWiredPwmOutput) {
  Device d("PellorK1D");
  d.fw.findModule<sim::CounterFirmware>()->wirePwm(0, true);
  openAndStart(d, 4128, 4129, 0);
  ASSERT_EQ(d.ask(84, cat({0}, f32(500))), (Bytes{0, 0}));
  d.advance(1);  // the PWM is not running yet
  EXPECT_EQ(d.read(PULSE_READ, 0).first, 0);
  openAndStart(d, 80, 81, 0);
  d.advance(1);
  EXPECT_NEAR(d.read(PULSE_READ, 0).first, 500, 1);
  ASSERT_EQ(d.ask(84, cat({0}, f32(2000))), (Bytes{0, 0}));  // a new frequency applies at once
  d.advance(0.5);
  auto [p, f] = d.read(PULSE_READ, 0);
  EXPECT_NEAR(p, 1500, 1);
  EXPECT_NEAR(f, 2000, 1);
  ASSERT_EQ(d.ask(82, {0}), (Bytes{0, 0}));
  d.advance(1);
  EXPECT_NEAR(d.read(PULSE_READ, 0).first, 1500, 1);
}

TEST(SimCounter, FallingEdgesLagByTheDutyCycle) {
  Device d("PellorK1D");
  d.fw.findModule<sim::CounterFirmware>()->wirePwm(0, true);
  ASSERT_EQ(d.ask(84, cat({0}, f32(10))), (Bytes{0, 0}));
  ASSERT_EQ(d.ask(85, cat({0}, f32(80))), (Bytes{0, 0}));
  ASSERT_EQ(d.ask(4144, {0, 0}), (Bytes{0, 0}));  // falling edges: at 80 % of each 0.1 s period
  openAndStart(d, 4128, 4129, 0);
  openAndStart(d, 80, 81, 0);
  d.advance(0.075);
  EXPECT_EQ(d.read(PULSE_READ, 0).first, 0);
  d.advance(0.01);
  EXPECT_EQ(d.read(PULSE_READ, 0).first, 1);
}

TEST(SimEncoder, FollowsTheShaftAndTheDirection) {
  Device d("PellorK1D");
  auto& encoder = *d.fw.findModule<sim::EncoderFirmware>();
  encoder.setVelocity(-300);
  openAndStart(d, 4160, 4161, 0);
  d.advance(1);
  auto [p, f] = d.read(ENCODER_READ, 0);
  EXPECT_NEAR(p, -300, 1);
  EXPECT_NEAR(f, 300, 1);
  ASSERT_EQ(d.ask(4177, {0, 255}), (Bytes{0, 0}));  // reversed: the count runs against the shaft
  d.advance(2);
  EXPECT_NEAR(d.read(ENCODER_READ, 0).first, 300, 2);
  encoder.setPosition(-(std::int64_t{1} << 47));
  encoder.setVelocity(100);  // counted backwards: wraps to the top
  d.advance(0.1);
  EXPECT_NEAR(d.read(ENCODER_READ, 0).first, (std::int64_t{1} << 47) - 10, 1);
}

// --- relays driven by the digital outputs ----------------------------------------------------------

TEST(SimRelay, CountsClosingsOfTheOutputPins) {
  Device d("TavraL");
  auto& relay = *d.fw.findModule<sim::RelayFirmware>();
  const int SET_AND_WRITE_DO = sim::diocmd::SET_AND_WRITE_DO, TOGGLE_AND_WRITE_DO = sim::diocmd::TOGGLE_AND_WRITE_DO;
  ASSERT_EQ(d.ask(SET_AND_WRITE_DO, {0, kFF, kFF, 0, 0b000101}), (Bytes{0, 0, 0b000101}));
  // Relay 0 opens, closes, opens; relay 5 closes, opens, closes.
  for (int i = 0; i < 3; ++i) d.ask(TOGGLE_AND_WRITE_DO, {0, 0, 0b100001});
  EXPECT_EQ(relay.counts(), (std::array<std::uint32_t, 6>{2, 0, 1, 0, 0, 2}));
  EXPECT_FALSE(relay.closed(0));
  EXPECT_TRUE(relay.closed(5));
  relay.setCount(1, 0xFFFFFFFF);
  d.ask(SET_AND_WRITE_DO, {0, 0, 0b10, 0, 0b10});
  EXPECT_EQ(d.ask(6912, {0, 1}), (Bytes{0, 0, 0, 0, 0, 0}));  // wrapped
}

}  // namespace
