// The emulated analog-input streams over raw TCP: packet layout and values, N-samples counts,
// pacing, Koru chip selects, stopping, 24-bit samples, and an unthrottled stream that a slow
// reader takes without losing a sample.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <numbers>
#include <thread>

#include "support/waits.hpp"
#include "test_sim_client.hpp"
#include "zelvo/sim/ai_firmware.hpp"
#include "zelvo/sim/emulator.hpp"

namespace {

using simtest::Bytes;
using simtest::Frame;
using simtest::RawClient;
using namespace std::chrono_literals;
namespace sim = zelvo::sim;
using ztest::Clock;
using ztest::secondsSince;

constexpr int kSetRate = 177, kSetMode = 178, kSetNumSamples = 179, kSetEnabled = 180, kOpen = 176;
constexpr int kCloseStreaming = 184, kClose = 191, kCounters = 188;
constexpr std::uint8_t kNSamples = 1, kContinuous = 2;

Bytes be32(int port, std::uint32_t u) {
  return {std::uint8_t(port), std::uint8_t(u >> 24), std::uint8_t(u >> 16), std::uint8_t(u >> 8), std::uint8_t(u)};
}
Bytes rate(int port, float hz) { return be32(port, std::bit_cast<std::uint32_t>(hz)); }

// Channel k of chip select cs at sample n by default: a sine of k + 1 V at 10 (k + 1) Hz, plus
// 0.5 cs V; as signed counts of `bits` at `ratio` volts per count.
std::int64_t defaultCounts(int cs, int k, std::uint64_t n, double hz, double ratio, int bits) {
  const double v = 0.5 * cs + (k + 1) * std::sin(2 * std::numbers::pi * 10 * (k + 1) * (static_cast<double>(n) / hz));
  const double top = std::ldexp(1.0, bits - 1);
  return static_cast<std::int64_t>(std::clamp(std::round(v / ratio), -top, top - 1));
}

std::int64_t signedField(const Bytes& b, std::size_t at, std::size_t width) {
  std::int64_t v = 0;
  for (std::size_t k = 0; k < width; ++k) v = v << 8 | b[at + k];
  return v >= (std::int64_t{1} << (8 * width - 1)) ? v - (std::int64_t{1} << (8 * width)) : v;
}

// Checks a stream packet against the default waveforms and returns how many samples it held.
// `next` is the index of its first sample; samples must come in order, none missing.
std::uint64_t checkPacket(const Frame& f, int port, int cs, int channels, std::size_t width, double hz, double ratio,
                          std::uint64_t next) {
  EXPECT_LE(f.payload.size(), 30000u);
  EXPECT_EQ(f.payload.at(0), port);
  EXPECT_EQ(f.payload.at(1), cs);
  const std::size_t sample = static_cast<std::size_t>(channels) * width;
  EXPECT_EQ((f.payload.size() - 2) % sample, 0u);
  const std::uint64_t count = (f.payload.size() - 2) / sample;
  for (std::uint64_t i = 0; i < count; ++i)
    for (int k = 0; k < channels; ++k) {
      const auto got = signedField(f.payload, 2 + i * sample + static_cast<std::size_t>(k) * width, width);
      const auto want = defaultCounts(cs, k, next + i, hz, ratio, static_cast<int>(8 * width));
      if (got != want) {
        ADD_FAILURE() << "sample " << next + i << " channel " << k << ": " << got << " != " << want;
        return count;
      }
    }
  return count;
}

// Frames until `quiet` passes without one.
std::vector<Frame> framesUntilQuiet(RawClient& c, std::chrono::milliseconds quiet = 300ms) {
  std::vector<Frame> out;
  while (auto f = c.readFrame(quiet)) out.push_back(std::move(*f));
  return out;
}

struct Bench {
  explicit Bench(const std::string& cls) : dev(emu.add(cls)), client(dev->host(), dev->port()) {}
  void configure(int port, float hz, std::uint8_t mode, std::uint32_t n) {
    EXPECT_EQ(client.exchange(kSetRate, rate(port, hz)), (Bytes{std::uint8_t(port), 0}));
    EXPECT_EQ(client.exchange(kSetMode, {std::uint8_t(port), mode}), (Bytes{std::uint8_t(port), 0}));
    EXPECT_EQ(client.exchange(kSetNumSamples, be32(port, n)), (Bytes{std::uint8_t(port), 0}));
  }
  sim::AiFirmware& ai() { return *dev->firmware().findModule<sim::AiFirmware>(); }
  sim::Emulator emu;
  std::shared_ptr<sim::EmulatedDevice> dev;
  RawClient client;
};

// N samples, in packets of about 5 ms, paced by the sampling rate, then nothing more.
TEST(SimAiStream, NSamplesExactlyAndPaced) {
  Bench b("TavraA");
  constexpr double kHz = 2000;
  constexpr std::uint32_t kN = 250;
  b.configure(0, kHz, kNSamples, kN);
  const auto t0 = Clock::now();
  b.client.request(183, {0});
  const auto first = b.client.readFrame();
  ASSERT_TRUE(first.has_value());
  auto frames = framesUntilQuiet(b.client);
  const double elapsed = secondsSince(t0) - 0.3;  // the quiet wait
  frames.insert(frames.begin(), *first);
  std::uint64_t total = 0;
  std::size_t largest = 0;
  for (const auto& f : frames) {
    ASSERT_EQ(f.code, 183);
    const auto n = checkPacket(f, 0, 0, 8, 2, kHz, 10.0 / 32768, total);
    largest = std::max<std::size_t>(largest, n);
    total += n;
  }
  EXPECT_EQ(total, kN);
  EXPECT_EQ(largest, 10u);  // 5 ms at 2 kHz
  EXPECT_GE(elapsed, (kN - 1) / kHz - 0.01);  // sample 249 is due at 124.5 ms
  EXPECT_LT(elapsed, 3.0);
  EXPECT_FALSE(b.ai().status(0).streaming);
  EXPECT_EQ(b.ai().status(0).samples_streamed, kN);
}

// Every enabled chip select of a Koru port streams the same sample instants under its own cs byte.
TEST(SimAiStream, KoruChipSelectsStreamSideBySide) {
  Bench b("Koru");
  constexpr double kHz = 4000;
  constexpr std::uint32_t kN = 90;
  b.configure(3, kHz, kNSamples, kN);
  EXPECT_EQ(b.client.exchange(kSetEnabled, {3, 0b101}), (Bytes{3, 0}));
  b.client.request(183, {3});
  std::uint64_t next[3] = {0, 0, 0};
  for (const auto& f : framesUntilQuiet(b.client)) {
    ASSERT_EQ(f.code, 183);
    const int cs = f.payload.at(1);
    ASSERT_TRUE(cs == 0 || cs == 2) << "chip select " << cs;
    next[cs] += checkPacket(f, 3, cs, 8, 2, kHz, 10.0 / 32768, next[cs]);
  }
  EXPECT_EQ(next[0], kN);
  EXPECT_EQ(next[1], 0u);
  EXPECT_EQ(next[2], kN);
  const Bytes counters = b.client.exchange(kCounters, {3});
  ASSERT_EQ(counters.size(), 37u);
  EXPECT_EQ(signedField(counters, 1, 4), kN);      // samples, chip select 0
  EXPECT_EQ(signedField(counters, 5, 4), 0);       // chip select 1 is off
  EXPECT_EQ(signedField(counters, 9, 4), kN);      // chip select 2
  EXPECT_EQ(signedField(counters, 29, 4), 1);      // streams started
}

TEST(SimAiStream, TwentyFourBitSamples) {
  Bench b("TavraA2");
  b.configure(0, 1000, kNSamples, 12);
  b.client.request(8205, {0});
  std::uint64_t total = 0;
  for (const auto& f : framesUntilQuiet(b.client)) {
    ASSERT_EQ(f.code, 8205);
    total += checkPacket(f, 0, 0, 8, 3, 1000, 1.3904889343373708e-06, total);
  }
  EXPECT_EQ(total, 12u);
}

// A constant channel among changing ones (encoded once per packet) carries its level in every
// sample, 16- and 24-bit, negative levels included; its neighbours keep their own values.
class SimAiConstant : public ::testing::TestWithParam<std::tuple<const char*, int, std::size_t, double>> {};

TEST_P(SimAiConstant, LevelInEverySample) {
  const auto [cls, start_code, width, ratio] = GetParam();
  Bench b(cls);
  constexpr int kFixed = 3;
  constexpr double kLevel = -1.25;
  b.ai().setWaveform(0, 0, kFixed, sim::Waveform{sim::WaveKind::Constant, 0, 0, kLevel, 0});
  b.configure(0, 1000, kNSamples, 40);
  b.client.request(start_code, {0});
  const auto want = static_cast<std::int64_t>(std::round(kLevel / ratio));
  std::uint64_t total = 0;
  for (const auto& f : framesUntilQuiet(b.client)) {
    const std::size_t sample = 8 * width;
    for (std::size_t i = 0; 2 + (i + 1) * sample <= f.payload.size(); ++i, ++total) {
      EXPECT_EQ(signedField(f.payload, 2 + i * sample + kFixed * width, width), want) << "sample " << total;
      EXPECT_EQ(signedField(f.payload, 2 + i * sample, width), defaultCounts(0, 0, total, 1000, ratio, int(8 * width)));
    }
  }
  EXPECT_EQ(total, 40u);
}

INSTANTIATE_TEST_SUITE_P(Sim, SimAiConstant,
                         ::testing::Values(std::make_tuple("TavraA", 183, std::size_t{2}, 10.0 / 32768),
                                           std::make_tuple("TavraA2", 8205, std::size_t{3}, 1.3904889343373708e-06)));

// After the reply that stops a stream, no packet of it follows. Unthrottled, packets are on their
// way at almost any moment, which is when the order matters.
class SimAiStop : public ::testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(SimAiStop, NothingAfterTheReply) {
  const auto [stop_code, unthrottled] = GetParam();
  Bench b("TavraA");
  b.configure(0, 20000, kContinuous, 0);
  b.ai().setUnthrottled(unthrottled);
  b.client.request(183, {0});
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(b.client.readFrame().has_value());
  b.client.request(stop_code, {0});
  for (;;) {
    const auto f = b.client.readFrame();
    ASSERT_TRUE(f.has_value()) << "no reply to the stop";
    if (f->code == stop_code) {
      EXPECT_EQ(f->payload, (Bytes{0, 0}));
      break;
    }
    ASSERT_EQ(f->code, 183);
  }
  EXPECT_FALSE(b.client.readFrame(200ms).has_value());
  EXPECT_FALSE(b.ai().status(0).streaming);
}

INSTANTIATE_TEST_SUITE_P(Sim, SimAiStop, ::testing::Combine(::testing::Values(kCloseStreaming, kClose), ::testing::Bool()));

// The models with OPEN_AI stream only while the port is open; the data channel carries it (Wi-Fi).
TEST(SimAiStream, VariableModelNeedsOpenAndUsesTheDataChannel) {
  sim::Emulator emu;
  auto dev = emu.add("AerisR3A");
  RawClient cmd(dev->host(), dev->port());
  RawClient data(dev->host(), *dev->dataPort());
  cmd.exchange(kSetMode, {0, kNSamples});
  cmd.exchange(kSetNumSamples, be32(0, 5));
  cmd.exchange(kSetEnabled, {0, 2});
  cmd.request(190, {0});
  EXPECT_FALSE(data.readFrame(200ms).has_value());
  EXPECT_EQ(cmd.exchange(kOpen, {0}), (Bytes{0, 0}));
  cmd.request(190, {0});
  std::uint64_t total = 0;
  for (const auto& f : framesUntilQuiet(data)) {
    ASSERT_EQ(f.code, 190);
    total += checkPacket(f, 0, 0, 2, 2, 1000, 10.0 / 32768, total);
  }
  EXPECT_EQ(total, 5u);
  EXPECT_EQ(cmd.readSome(50ms), Bytes{});
}

// A second start while streaming changes nothing; after an N-samples stream ends, a start begins
// a new one from sample 0.
TEST(SimAiStream, StartWhileStreamingIsIgnoredAndRestartBeginsAgain) {
  Bench b("TavraA");
  b.configure(0, 1000, kNSamples, 30);
  b.client.request(183, {0});
  b.client.request(183, {0});
  for (int round = 0; round < 2; ++round) {
    std::uint64_t total = 0;
    for (const auto& f : framesUntilQuiet(b.client)) total += checkPacket(f, 0, 0, 8, 2, 1000, 10.0 / 32768, total);
    EXPECT_EQ(total, 30u) << "round " << round;
    b.client.request(183, {0});
  }
}

// Unthrottled, the stream goes as fast as the reader takes it. A reader that stops for a while and
// then reads slowly still gets every sample, in order: the stream waited for it (stalls).
TEST(SimAiStream, UnthrottledSlowReaderLosesNothing) {
  Bench b("TavraA");
  constexpr double kHz = 20000;
  constexpr std::uint32_t kN = 2'000'000;  // 8 MB at 2 channels, more than the socket buffers hold
  b.configure(0, kHz, kNSamples, kN);
  b.client.exchange(kSetEnabled, {0, 2});
  b.ai().setUnthrottled(true);
  b.client.request(183, {0});
  std::this_thread::sleep_for(1s);
  EXPECT_TRUE(b.ai().status(0).streaming);
  std::uint64_t total = 0;
  std::size_t packets = 0;
  while (total < kN) {
    const auto f = b.client.readFrame(5000ms);
    ASSERT_TRUE(f.has_value()) << "stream ended after " << total << " samples";
    total += checkPacket(*f, 0, 0, 2, 2, kHz, 10.0 / 32768, total);
    if (++packets % 2000 == 0) std::this_thread::sleep_for(20ms);  // a slow reader
    if (HasFailure()) return;
  }
  EXPECT_EQ(total, kN);
  EXPECT_FALSE(b.client.readFrame(200ms).has_value());
}

// Stopping a device mid-stream returns at once, throttled or backed up.
TEST(SimAiStream, StopMidStreamIsPrompt) {
  auto emu = std::make_unique<sim::Emulator>();
  auto paced = emu->add("TavraA");
  auto flooded = emu->add("PellorK1AD");
  RawClient a(paced->host(), paced->port());
  RawClient c(flooded->host(), flooded->port());
  a.exchange(kSetMode, {0, kContinuous});
  a.request(183, {0});
  c.exchange(kOpen, {0});
  c.exchange(kSetMode, {0, kContinuous});
  flooded->firmware().findModule<sim::AiFirmware>()->setUnthrottled(true);
  c.request(190, {0});  // and never read: the stream backs up
  std::this_thread::sleep_for(300ms);
  const auto t0 = Clock::now();
  emu.reset();
  EXPECT_LT(secondsSince(t0), 1.0);
  EXPECT_TRUE(a.closedWithin(1000ms));
}

// Once streams are over, the device costs no CPU: the stream thread sleeps without a time-out.
TEST(SimAiStream, IdleAfterStreamingCostsNoCpu) {
  Bench b("TavraA");
  b.configure(0, 1000, kNSamples, 20);
  b.client.request(183, {0});
  framesUntilQuiet(b.client);
  const double cpu = ztest::processCpuSeconds();
  std::this_thread::sleep_for(500ms);
  EXPECT_LT(ztest::processCpuSeconds() - cpu, 0.025);
}

}  // namespace
