// The emulated analog-input firmware: settings, on-demand reads and their encodings, counters,
// exercised over raw TCP (streams are in test_sim_ai_stream.cpp).
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <numbers>

#include "test_sim_client.hpp"
#include "zelvo/sim/ai_firmware.hpp"
#include "zelvo/sim/emulator.hpp"

namespace {

using simtest::Bytes;
using simtest::RawClient;
namespace sim = zelvo::sim;

constexpr double kRatio16 = 10.0 / 32768;
constexpr double kRatio24 = 1.3904889343373708e-06;

Bytes portAndF32(int port, float v) {
  const auto u = std::bit_cast<std::uint32_t>(v);
  return {std::uint8_t(port), std::uint8_t(u >> 24), std::uint8_t(u >> 16), std::uint8_t(u >> 8), std::uint8_t(u)};
}

// Big-endian fields of `width` bytes from offset `at`, `count` of them; signed when asked.
std::vector<std::int64_t> fields(const Bytes& b, std::size_t at, std::size_t width, std::size_t count, bool is_signed) {
  std::vector<std::int64_t> out;
  for (std::size_t i = 0; i < count; ++i) {
    std::int64_t v = 0;
    for (std::size_t k = 0; k < width; ++k) v = v << 8 | b.at(at + i * width + k);
    if (is_signed && v >= (std::int64_t{1} << (8 * width - 1))) v -= std::int64_t{1} << (8 * width);
    out.push_back(v);
  }
  return out;
}

struct Bench {
  explicit Bench(const std::string& cls) : dev(emu.add(cls)), client(dev->host(), dev->port()) {}
  sim::AiFirmware& ai() { return *dev->firmware().findModule<sim::AiFirmware>(); }
  sim::Emulator emu;
  std::shared_ptr<sim::EmulatedDevice> dev;
  RawClient client;
};

// --- settings and malformed requests -------------------------------------------------------------

struct Exchange {
  const char* name;
  const char* product;
  int code;
  Bytes payload;
  Bytes reply;
};

class SimAiReply : public ::testing::TestWithParam<Exchange> {};

TEST_P(SimAiReply, Answers) {
  const auto& c = GetParam();
  Bench b(c.product);
  EXPECT_EQ(b.client.exchange(c.code, c.payload), c.reply);
}

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Sim, SimAiReply,
    ::testing::Values(
        Exchange{"open", "TavraA", 176, {0}, {0, 0}},
        Exchange{"open_missing_port", "TavraA", 176, {1}, {1, 52}},
        Exchange{"open_empty", "TavraA", 176, {}, {80}},
        Exchange{"rate_at_limit", "TavraA", 177, portAndF32(0, 20000), {0, 0}},
        Exchange{"rate_over_limit", "TavraA", 177, portAndF32(0, 20001), {0, 52}},
        Exchange{"rate_over_koru_limit", "Koru", 177, portAndF32(3, 12001), {3, 52}},
        Exchange{"rate_zero", "PellorK1AD", 177, portAndF32(0, 0), {0, 52}},
        Exchange{"rate_negative", "TavraA", 177, portAndF32(0, -5), {0, 52}},
        Exchange{"rate_nan", "TavraA2", 177, portAndF32(0, kNaN), {0, 52}},
        Exchange{"rate_infinite", "TavraA", 177, portAndF32(0, kInf), {0, 52}},
        Exchange{"rate_short", "TavraA", 177, {0, 0x44, 0x7A}, {80}},
        Exchange{"mode_continuous", "TavraA", 178, {0, 2}, {0, 0}},
        Exchange{"mode_unknown", "TavraA", 178, {0, 3}, {0, 52}},
        Exchange{"num_samples", "AerisR3A", 179, {0, 0, 1, 0, 0}, {0, 0}},
        Exchange{"num_samples_short", "AerisR3A", 179, {0, 0, 1}, {80}},
        Exchange{"channels_eight", "PellorK1AD", 180, {0, 8}, {0, 0}},
        Exchange{"channels_zero", "PellorK1AD", 180, {0, 0}, {0, 52}},
        Exchange{"channels_nine", "PellorK1AD", 180, {0, 9}, {0, 52}},
        Exchange{"koru_chip_selects", "Koru", 180, {3, 5}, {3, 0}},
        Exchange{"koru_no_chip_select", "Koru", 180, {1, 0}, {1, 52}},
        Exchange{"koru_chip_select_bit3", "Koru", 180, {0, 9}, {0, 52}},
        Exchange{"koru_slot_not_port", "Koru", 180, {2, 1}, {2, 52}},
        Exchange{"trigger_all", "PellorK1AOD", 8214, {0, 7}, {0, 0}},
        Exchange{"trigger_none", "PellorK1AOD", 8214, {0, 0}, {0, 52}},
        Exchange{"trigger_past_mask", "PellorK1AOD", 8214, {0, 8}, {0, 52}},
        Exchange{"open_streaming", "TavraA", 182, {0}, {0, 0}},
        Exchange{"close_streaming_idle", "TavraA", 184, {0}, {0, 0}},
        Exchange{"close", "AerisR4A", 191, {0}, {0, 0}},
        Exchange{"clear", "TavraA", 186, {0}, {0, 0}},
        Exchange{"buffer_status_missing_port", "TavraA", 187, {5}, {5, 52}},
        Exchange{"counters_empty", "TavraA", 188, {}, {80}},
        Exchange{"read_cs_on_single_cs_model", "TavraA", 181, {0, 1}, {0, 52}},
        Exchange{"koru_read_cs3", "Koru", 181, {0, 3}, {0, 52}},
        Exchange{"read_without_cs", "TavraA", 181, {0}, {80}},
        Exchange{"read_24_missing_port", "TavraI", 8196, {1, 255}, {1, 52}},
        Exchange{"get_data_short", "TavraA", 8226, {0}, {80}},
        // Each model answers its own command set only.
        Exchange{"variable_read_on_fixed_model", "TavraA", 189, {0}, {80}},
        Exchange{"fixed_read_on_variable_model", "PellorK1AD", 181, {0, 0}, {80}},
        Exchange{"sixteen_bit_read_on_24_bit_model", "TavraA2", 181, {0, 0}, {80}},
        Exchange{"settings_on_on_demand_24_bit_model", "TavraI", 176, {0}, {80}}),
    [](const auto& p) { return std::string(p.param.name); });

// Starting is never answered, not even when the firmware cannot start: the code is a stream code.
TEST(SimAi, StartIsNeverAnswered) {
  Bench b("TavraA");
  b.client.request(183, {});
  b.client.request(183, {4});
  b.client.request(183, {0});  // mode on demand: nothing to stream
  EXPECT_EQ(b.client.exchange(176, {0}), (Bytes{0, 0}));  // the next reply is this one's
}

// --- on-demand reads and encodings ---------------------------------------------------------------

// Constant inputs chosen to hit rounding, both clamps and the sign of small values.
const std::vector<double> kVolts = {0.0, 1.0, -1.0, 2.5, 0.00015, -0.0002, 12.0, -12.0};

std::int64_t counts(double volts, double ratio, int bits) {
  const double top = std::ldexp(1.0, bits - 1);
  return static_cast<std::int64_t>(std::clamp(std::round(volts / ratio), -top, top - 1));
}

struct ReadCase {
  const char* name;
  const char* product;
  int port;
  int cs;
  int code;
  Bytes request;
  std::size_t width;  // bytes per value
  int channels;       // values in the reply
  std::function<std::int64_t(double)> expected;
};

class SimAiRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(SimAiRead, EncodesEveryChannel) {
  const auto& c = GetParam();
  Bench b(c.product);
  for (int ch = 0; ch < sim::kAiChannels; ++ch) {
    sim::Waveform w;
    w.kind = sim::WaveKind::Constant;
    w.offset = kVolts[static_cast<std::size_t>(ch)];
    b.ai().setWaveform(c.port, c.cs, ch, w);
  }
  if (c.channels != sim::kAiChannels) b.client.exchange(180, {std::uint8_t(c.port), std::uint8_t(c.channels)});
  const Bytes reply = b.client.exchange(c.code, c.request);
  ASSERT_EQ(reply.size(), 2 + c.width * static_cast<std::size_t>(c.channels));
  EXPECT_EQ(reply[0], c.port);
  EXPECT_EQ(reply[1], c.code == 181 ? c.cs : 0);  // the chip select, or the status
  const bool offset_code = std::string(c.product).starts_with("TavraI");
  const auto got = fields(reply, 2, c.width, static_cast<std::size_t>(c.channels), !offset_code);
  for (int ch = 0; ch < c.channels; ++ch)
    EXPECT_EQ(got[static_cast<std::size_t>(ch)], c.expected(kVolts[static_cast<std::size_t>(ch)])) << "channel " << ch;
}

std::int64_t counts16(double v) { return counts(v, kRatio16, 16); }
std::int64_t counts24(double v) { return counts(v, kRatio24, 24); }
std::int64_t offsetCode(double v, double r) {
  return static_cast<std::int64_t>(std::clamp(std::round((v + r) * 8388608.0 / r), 0.0, 16777215.0));
}

INSTANTIATE_TEST_SUITE_P(
    Sim, SimAiRead,
    ::testing::Values(
        ReadCase{"tavra_a", "TavraA", 0, 0, 181, {0, 0}, 2, 8, counts16},
        ReadCase{"tavra_a_get_data", "TavraA", 0, 0, 8226, {0, 0}, 2, 8, counts16},
        ReadCase{"koru_port3_cs2", "Koru", 3, 2, 181, {3, 2}, 2, 8, counts16},
        ReadCase{"pellor_three_channels", "PellorK1AD", 0, 0, 189, {0}, 2, 3, counts16},
        ReadCase{"aeris_get_data_five", "AerisR3A", 0, 0, 8226, {0, 0}, 2, 5, counts16},
        ReadCase{"tavra_a2", "TavraA2", 0, 0, 8196, {0, 0}, 3, 8, counts24},
        ReadCase{"tavra_i_port0", "TavraI", 0, 0, 8196, {0, 255}, 3, 8, [](double v) { return offsetCode(v, 50); }},
        ReadCase{"tavra_ia_port1", "TavraIA", 1, 0, 8196, {1, 255}, 3, 8, [](double v) { return offsetCode(v, 25); }}),
    [](const auto& p) { return std::string(p.param.name); });

// Fixed points of the encodings, independent of any formula.
TEST(SimAiFormat, KnownCodes) {
  const auto c16 = sim::SampleFormat::counts(2, kRatio16);
  EXPECT_EQ(c16.raw(1.0), 3277);
  EXPECT_EQ(c16.raw(-10.0), -32768);
  EXPECT_EQ(c16.raw(9.9997), 32767);
  const auto c24 = sim::SampleFormat::counts(3, kRatio24);
  EXPECT_EQ(c24.raw(-1e9), -8388608);
  EXPECT_EQ(c24.raw(kRatio24), 1);
  const auto code = sim::SampleFormat::offsetCode(50);
  EXPECT_EQ(code.raw(-50), 0);
  EXPECT_EQ(code.raw(0), 8388608);
  EXPECT_EQ(code.raw(50), 16777215);  // 2^24 would not fit: clamped
  Bytes out;
  c24.append(out, -1);
  code.append(out, 8388608);
  EXPECT_EQ(out, (Bytes{0xFF, 0xFF, 0xFF, 0x80, 0x00, 0x00}));
}

// On-demand read k samples the waveforms at k / rate; AI_GET_DATA shares the count, CLEAR_DATA
// starts it again.
TEST(SimAi, SuccessiveReadsWalkTheDefaultSines) {
  Bench b("TavraA");
  constexpr double kRate = 400;
  b.client.exchange(177, portAndF32(0, kRate));
  auto expected = [&](int k) {
    std::vector<std::int64_t> out;
    for (int ch = 0; ch < 8; ++ch)
      out.push_back(counts16((ch + 1) * std::sin(2 * std::numbers::pi * 10 * (ch + 1) * (k / kRate))));
    return out;
  };
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(b.ai().nextRead(0, 0), expected(k)) << "read " << k;
    EXPECT_EQ(fields(b.client.exchange(181, {0, 0}), 2, 2, 8, true), expected(k)) << "read " << k;
  }
  EXPECT_EQ(fields(b.client.exchange(8226, {0, 0}), 2, 2, 8, true), expected(3));
  EXPECT_EQ(b.client.exchange(186, {0}), (Bytes{0, 0}));
  EXPECT_EQ(fields(b.client.exchange(181, {0, 0}), 2, 2, 8, true), expected(0));
}

TEST(SimAi, KoruChipSelectsReadTheirOwnChannels) {
  Bench b("Koru");
  // Chip select c is offset by 0.5 c V: at t = 0 the sines are 0, so only the offset shows.
  for (int cs = 0; cs < 3; ++cs) {
    const auto got = fields(b.client.exchange(181, {1, std::uint8_t(cs)}), 2, 2, 8, true);
    EXPECT_EQ(got, std::vector<std::int64_t>(8, counts16(0.5 * cs))) << "chip select " << cs;
  }
}

// --- counters ------------------------------------------------------------------------------------

TEST(SimAi, CountersAndBufferStatusLayouts) {
  Bench b("TavraA");
  for (int i = 0; i < 3; ++i) b.client.exchange(181, {0, 0});
  b.client.exchange(8226, {0, 0});
  Bytes counters = b.client.exchange(188, {0});
  ASSERT_EQ(counters.size(), 1u + 9 * 4);
  EXPECT_EQ(counters[0], 0);
  EXPECT_EQ(fields(counters, 1, 4, 9, false), (std::vector<std::int64_t>{0, 0, 0, 0, 0, 0, 4, 0, 0}));
  const Bytes buffer = b.client.exchange(187, {0});
  ASSERT_EQ(buffer.size(), 1u + 4 * 4);
  EXPECT_EQ(fields(buffer, 1, 4, 4, false), (std::vector<std::int64_t>{0, 0, 0, 0}));  // never streamed
  b.client.exchange(186, {0});
  counters = b.client.exchange(188, {0});
  EXPECT_EQ(fields(counters, 1, 4, 9, false), std::vector<std::int64_t>(9, 0));
}

// --- controls ------------------------------------------------------------------------------------

TEST(SimAiControls, RejectWhatTheDeviceLacks) {
  Bench koru("Koru");
  sim::Waveform w;
  EXPECT_THROW(koru.ai().setWaveform(2, 0, 0, w), std::invalid_argument);  // slot 2 is port 1
  EXPECT_THROW(koru.ai().setWaveform(0, 3, 0, w), std::invalid_argument);
  EXPECT_THROW(koru.ai().setWaveform(0, 0, 8, w), std::invalid_argument);
  w.frequency = -1;
  EXPECT_THROW(koru.ai().setWaveform(0, 0, 0, w), std::invalid_argument);
  w.frequency = 1;
  w.amplitude = std::numeric_limits<double>::infinity();
  EXPECT_THROW(koru.ai().setWaveform(0, 0, 0, w), std::invalid_argument);
  EXPECT_EQ(koru.ai().ports(), (std::vector<int>{0, 1, 3}));

  Bench tavra_i("TavraI");
  EXPECT_THROW(tavra_i.ai().setUnthrottled(true), std::invalid_argument);
  EXPECT_THROW(tavra_i.ai().streamSamples(0, 0, 0, 1), std::invalid_argument);
  EXPECT_THROW(tavra_i.ai().nextRead(0, 1), std::invalid_argument);
}

struct ShapeCase {
  sim::WaveKind kind;
  double t;
  double value;
};

class SimAiWaveform : public ::testing::TestWithParam<ShapeCase> {};

// Amplitude 2, offset 1, 5 Hz (period 0.2 s).
TEST_P(SimAiWaveform, Shape) {
  const auto& c = GetParam();
  const sim::Waveform w{c.kind, 2.0, 5.0, 1.0, 0};
  EXPECT_NEAR(w.at(c.t), c.value, 1e-9) << sim::waveKindName(c.kind) << " at " << c.t;
}

INSTANTIATE_TEST_SUITE_P(Sim, SimAiWaveform,
                         ::testing::Values(ShapeCase{sim::WaveKind::Sine, 0.05, 3.0},
                                           ShapeCase{sim::WaveKind::Sine, 0.15, -1.0},
                                           ShapeCase{sim::WaveKind::Square, 0.0, 3.0},
                                           ShapeCase{sim::WaveKind::Square, 0.09, 3.0},
                                           ShapeCase{sim::WaveKind::Square, 0.1, -1.0},
                                           ShapeCase{sim::WaveKind::Triangle, 0.0, 1.0},
                                           ShapeCase{sim::WaveKind::Triangle, 0.05, 3.0},
                                           ShapeCase{sim::WaveKind::Triangle, 0.1, 1.0},
                                           ShapeCase{sim::WaveKind::Triangle, 0.15, -1.0},
                                           ShapeCase{sim::WaveKind::Triangle, 0.025, 2.0},
                                           ShapeCase{sim::WaveKind::Constant, 0.123, 1.0}));

TEST(SimAiWaveform, NoiseIsSeededAndBounded) {
  sim::Waveform a{sim::WaveKind::Noise, 2.0, 0, 1.0, 7};
  sim::Waveform b = a;
  b.seed = 8;
  double lo = 10, hi = -10, sum = 0;
  constexpr int kSamples = 10000;
  for (int n = 0; n < kSamples; ++n) {
    const double t = n / 1000.0;
    const double v = a.at(t);
    EXPECT_EQ(v, a.at(t));
    lo = std::min(lo, v);
    hi = std::max(hi, v);
    sum += v;
  }
  EXPECT_GE(lo, -1.0);
  EXPECT_LT(hi, 3.0);
  EXPECT_LT(lo, -0.9);  // spread over the whole range
  EXPECT_GT(hi, 2.9);
  EXPECT_NEAR(sum / kSamples, 1.0, 0.05);
  EXPECT_NE(a.at(0.5), b.at(0.5));
}

}  // namespace
