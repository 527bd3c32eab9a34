// The emulated analog-output firmware: the generator's states and counters on the device's time,
// the waveforms and the buffer it puts out, the span and the recorded setters, and the wiring of the
// outputs to the analog inputs.
#include <gtest/gtest.h>

#include <cmath>

#include "support/firmware_bench.hpp"
#include "zelvo/sim/ai_firmware.hpp"
#include "zelvo/sim/ao_firmware.hpp"

namespace {

namespace sim = zelvo::sim;
using zelvo::Bytes;
using ztest::cat;
using ztest::f32;
using namespace sim::aocmd;

constexpr int kState = 8291;

// The firmware of an analog-output product, with the requests the tests repeat.
struct Device : ztest::FirmwareBench {
  using FirmwareBench::FirmwareBench;
  std::vector<float> outputs() { return floats(ask(GET_AO_VALUES, {0}), 2); }
  // Prepares port 0 for generation: mode, rate, count, enabled channels.
  void prepare(int mode, float rate, std::uint32_t count = 0, std::uint8_t enabled = 0xFF) {
    ASSERT_EQ(ask(OPEN_AO_STREAMING, {0}).at(0), 0);
    ASSERT_EQ(ask(SET_AO_MODE, {0, std::uint8_t(mode)}), (Bytes{0, 0}));
    ASSERT_EQ(ask(SET_AO_SAMPLING_RATE, cat(Bytes{0}, f32(rate))), (Bytes{0, 0}));
    Bytes n{0};
    zelvo::appendBE(n, count);
    ASSERT_EQ(ask(SET_AO_NUM_SAMPLES, n), (Bytes{0, 0}));
    ASSERT_EQ(ask(SET_AO_ENABLED_CHANNELS, {0, 0, enabled}), (Bytes{0, 0}));
  }
  void form(std::uint8_t channel, std::uint8_t form, float amplitude, float offset, float frequency, float phase = 0,
            float duty = 0.5) {
    ASSERT_EQ(ask(SET_AO_FORM, {0, 0, channel, form}), (Bytes{0, 0}));
    ASSERT_EQ(ask(SET_AO_FORM_PARAM, cat(Bytes{0, 0, channel}, f32(amplitude), f32(offset), f32(frequency), f32(phase),
                                         f32(duty))),
              (Bytes{0, 0}));
  }
  std::array<std::uint32_t, 2> counters() {
    const Bytes r = ask(GET_AO_COUNTERS, {0});
    return {zelvo::readBE<std::uint32_t>(zelvo::ByteView(r).subspan(1)),
            zelvo::readBE<std::uint32_t>(zelvo::ByteView(r).subspan(5))};
  }
  sim::AoFirmware& ao() { return peripheral<sim::AoFirmware>(); }
};

// --- generator states and counters ----------------------------------------------------------------

TEST(SimAoGenerator, NSamplesRunsForNOverRateSecondsThenStandsBy) {
  Device d("TavraO");
  EXPECT_EQ(d.ask(kState, {0}), (Bytes{0, 0}));  // idle
  d.prepare(1, 100, 50, 0b11);
  EXPECT_EQ(d.ask(kState, {0}), (Bytes{0, 1}));  // stand-by
  EXPECT_TRUE(d.ask(START_AO_STREAMING, {0}).empty());  // a stream code: never answered
  d.fw.time().advance(0.25);
  EXPECT_EQ(d.ask(kState, {0}), (Bytes{0, 2}));
  EXPECT_EQ(d.counters()[0], 26u);  // samples 0..25 are out
  d.fw.time().advance(0.26);        // 0.51 s: the 50 samples took 0.5 s
  EXPECT_EQ(d.ask(kState, {0}), (Bytes{0, 1}));
  EXPECT_EQ(d.counters(), (std::array<std::uint32_t, 2>{50, 100}));  // two channels enabled
}

TEST(SimAoGenerator, ContinuousRunsUntilStoppedAndCountsOn) {
  Device d("PellorK1AOD");
  d.prepare(2, 1000);
  d.ask(START_AO_STREAMING, {0});
  d.fw.time().advance(10.0005);
  EXPECT_EQ(d.ask(kState, {0}), (Bytes{0, 2}));
  EXPECT_EQ(d.ask(SET_AO_MODE, {0, 1}), (Bytes{0, 53}));  // settings of a running generator are refused
  EXPECT_EQ(d.ask(STOP_AO_STREAMING, {0}), (Bytes{0, 0}));
  EXPECT_EQ(d.ask(kState, {0}), (Bytes{0, 1}));
  d.fw.time().advance(5);
  EXPECT_EQ(d.counters(), (std::array<std::uint32_t, 2>{10001, 80008}));
  d.ask(START_AO_STREAMING, {0});  // a second run counts on from there
  d.fw.time().advance(0.0015);
  EXPECT_EQ(d.counters()[0], 10003u);
  EXPECT_EQ(d.ask(CLOSE_AO_STREAMING, {0}), (Bytes{0, 0}));
  EXPECT_EQ(d.ask(kState, {0}), (Bytes{0, 0}));
}

struct IgnoredStart {
  const char* name;
  int mode;
  std::uint32_t count;
  bool prepared;
};
class SimAoIgnoredStart : public ::testing::TestWithParam<IgnoredStart> {};

TEST_P(SimAoIgnoredStart, LeavesTheGeneratorAlone) {
  const auto& c = GetParam();
  Device d("TavraO");
  d.prepare(c.mode, 100, c.count);
  if (!c.prepared) d.ask(CLOSE_AO_STREAMING, {0});
  d.ask(START_AO_STREAMING, {0});
  d.fw.time().advance(1);
  EXPECT_EQ(d.ask(kState, {0}), (Bytes{0, std::uint8_t(c.prepared ? 1 : 0)}));
  EXPECT_EQ(d.counters()[0], 0u);
}

INSTANTIATE_TEST_SUITE_P(Sim, SimAoIgnoredStart,
                         ::testing::Values(IgnoredStart{"on_demand_mode", 0, 10, true},
                                           IgnoredStart{"n_samples_of_zero", 1, 0, true},
                                           IgnoredStart{"idle", 2, 10, false}),
                         [](const auto& p) { return std::string(p.param.name); });

// --- what the outputs put out ---------------------------------------------------------------------

struct Shape {
  const char* name;
  std::uint8_t form;
  float amplitude, offset, frequency, phase, duty;
  double at;        // seconds after the start
  float expected;   // what channel 0 puts out then
};
class SimAoShape : public ::testing::TestWithParam<Shape> {};

TEST_P(SimAoShape, ChannelPutsOutItsFormSampledAtTheRate) {
  const auto& c = GetParam();
  Device d("TavraO");
  d.prepare(2, 1000);
  d.form(0, c.form, c.amplitude, c.offset, c.frequency, c.phase, c.duty);
  d.ask(START_AO_STREAMING, {0});
  d.fw.time().advance(c.at);
  EXPECT_NEAR(d.outputs()[0], c.expected, 1e-4);
}

INSTANTIATE_TEST_SUITE_P(
    Sim, SimAoShape,
    ::testing::Values(Shape{"sine_at_a_quarter_period", 3, 2, 1, 1, 0, 0.5, 0.2505, 3},
                      Shape{"sine_phase_in_degrees", 3, 2, 1, 1, 90, 0.5, 0.0005, 3},
                      Shape{"rectangle_high_within_duty", 1, 4, 0, 1, 0, 0.25, 0.1005, 4},
                      Shape{"rectangle_low_after_duty", 1, 4, 0, 1, 0, 0.25, 0.5005, -4},
                      Shape{"triangle_starts_low", 2, 2, 0, 1, 0, 0.5, 0.0005, -2},
                      Shape{"triangle_peaks_at_duty", 2, 2, 0, 1, 0, 0.25, 0.2505, 2},
                      Shape{"held_between_samples", 3, 2, 1, 10, 0, 0.5, 0.0259, 3},
                      Shape{"limited_to_the_span", 3, 20, 0, 1, 0, 0.5, 0.2505, 10}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(SimAoBuffer, EnabledChannelsWithoutAFormPlayTheBufferInTurn) {
  Device d("TavraO");
  d.prepare(2, 10, 0, 0b1011);  // channels 0, 1 and 3
  d.form(1, 3, 1, 0, 0);        // channel 1 has a form of its own: 0 V
  EXPECT_EQ(d.ask(INIT_AO_BUFFER, {0}), (Bytes{0, 0, 1, 0, 0, 0}));  // 65536 values
  EXPECT_EQ(d.ask(SET_AO_PUSH_TO_BUFFER, cat(Bytes{0, 0, 4}, f32(1), f32(2), f32(3), f32(4))), (Bytes{0, 0}));
  d.ask(WRITE_AO_BY_CHANNEL, cat(Bytes{0, 2}, f32(-5)));  // channel 2 is not enabled: it keeps its level
  d.ask(START_AO_STREAMING, {0});
  d.fw.time().advance(0.05);
  EXPECT_EQ(d.outputs(), (std::vector<float>{1, 0, -5, 2, 0, 0, 0, 0}));
  d.fw.time().advance(0.1);
  EXPECT_EQ(d.outputs(), (std::vector<float>{3, 0, -5, 4, 0, 0, 0, 0}));
  d.fw.time().advance(0.1);  // the buffer repeats
  EXPECT_EQ(d.outputs(), (std::vector<float>{1, 0, -5, 2, 0, 0, 0, 0}));
  EXPECT_EQ(d.ao().port(0).buffer.size(), 4u);
}

TEST(SimAoLevels, WritesStayWithinTheSpan) {
  Device d("PellorK1AOD");  // starts on 0..5 V
  EXPECT_EQ(d.ask(WRITE_AO_BY_CHANNEL, cat(Bytes{0, 1}, f32(8))), (Bytes{0, 53}));
  EXPECT_EQ(d.ask(SET_AO_SPAN, {0, 1}), (Bytes{0, 0}));  // 0..10 V
  EXPECT_EQ(d.ask(WRITE_AO_BY_CHANNEL, cat(Bytes{0, 1}, f32(8))), (Bytes{0, 0}));
  EXPECT_EQ(d.ask(WRITE_AO_SYNCHRONIZED, cat(Bytes{0}, f32(1), f32(2), f32(3), f32(4), f32(5), f32(6), f32(7), f32(11))),
            (Bytes{0, 53}));
  EXPECT_EQ(d.outputs(), (std::vector<float>{0, 8, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(d.ask(SET_AO_SPAN, {0}), (Bytes{0, 80}));  // a span request without the span
  EXPECT_EQ(d.ask(SET_AO_SPAN, {0, 5}), (Bytes{0, 53}));
  const auto setters = d.ao().setters(0);
  ASSERT_EQ(setters.size(), 6u);
  EXPECT_EQ(setters[4], (sim::AoSetter{SET_AO_SPAN, {0}}));
  EXPECT_EQ(setters[1], (sim::AoSetter{SET_AO_SPAN, {0, 1}}));
  EXPECT_EQ(d.ask(GET_AO_VALUES, {1}), (Bytes{1, 53}));  // a port the model lacks
}

// --- outputs wired to the analog inputs ----------------------------------------------------------

TEST(SimAoWiring, InputsMeasureWhatTheOutputsPutOut) {
  Device d("PellorK1AOD");
  auto& ai = *d.fw.findModule<sim::AiFirmware>();
  const auto before = ai.nextRead(0, 0);
  d.ask(WRITE_AO_BY_CHANNEL, cat(Bytes{0, 3}, f32(1.25)));
  d.ao().setWiredToInputs(true);
  EXPECT_EQ(ai.nextRead(0, 0), (std::vector<std::int64_t>{0, 0, 0, 4096, 0, 0, 0, 0}));  // 1.25 V at 10/32768 V
  d.prepare(2, 1000);
  d.form(0, 3, 2, 2.5, 1);
  d.ask(START_AO_STREAMING, {0});
  d.fw.time().advance(0.2505);
  EXPECT_EQ(ai.nextRead(0, 0)[0], std::lround(4.5 / (10.0 / 32768)));
  d.ao().setWiredToInputs(false);
  EXPECT_EQ(ai.nextRead(0, 0), before);
}

TEST(SimAoWiring, RefusedWithoutAnalogInputs) {
  Device d("TavraO");
  EXPECT_THROW(d.ao().setWiredToInputs(true), std::invalid_argument);
}

}  // namespace
