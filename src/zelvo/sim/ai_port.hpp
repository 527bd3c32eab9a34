// State of one emulated analog-input port: its configuration as the host set it, the signal on
// every channel, the counters the host can read, and the stream it is sending, if any.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "zelvo/sim/ai_waveform.hpp"

namespace zelvo::sim {

inline constexpr int kAiChannels = 8;      // per chip select
inline constexpr int kAiChipSelects = 3;   // chip selects of a Koru port; one elsewhere
inline constexpr double kAiDefaultRate = 1000.0;  // Hz, until SET_AI_SAMPLING_RATE
inline constexpr std::uint32_t kAiDefaultNumSamples = 1000;

enum class AiMode : int { OnDemand = 0, NSamples = 1, Continuous = 2 };
inline constexpr int kAiModeCount = 3;

using AiClock = std::chrono::steady_clock;
using ChannelWaves = std::array<Waveform, kAiChannels>;

// What GET_AI_COUNTERS and CHECK_BUFFER_STATUS report; CLEAR_DATA zeroes it.
struct AiCounters {
  std::array<std::uint64_t, kAiChipSelects> samples{};  // streamed, per chip select
  std::array<std::uint64_t, kAiChipSelects> packets{};  // stream packets sent, per chip select
  std::uint64_t on_demand_reads = 0;
  std::uint64_t streams_started = 0;
  std::uint64_t stalls = 0;  // times a stream waited for a backed-up connection
};

// One stream: its configuration, frozen when it starts, and its progress. Sample n (0-based) of
// every chip select is the waveform at n / rate seconds, and is due at start + n / rate.
struct AiStreamRun {
  bool active = false;
  std::uint64_t generation = 0;  // one more at every start; tells a stale packet from a current one
  int code = 0;                  // command code of the stream packets
  std::vector<int> chip_selects;
  double rate = kAiDefaultRate;
  int channels = kAiChannels;
  std::optional<std::uint64_t> total;  // N-samples; none when continuous
  std::size_t samples_per_packet = 0;
  AiClock::time_point start;
  double origin = 0;          // device time (sim_clock.hpp) of sample 0, for wired channels
  std::uint64_t sent = 0;     // samples sent on each chip select
  std::uint64_t packets = 0;  // packets sent, all chip selects together
};

struct AiPort {
  bool open = false;
  AiMode mode = AiMode::OnDemand;
  double rate = kAiDefaultRate;
  std::uint32_t num_samples = kAiDefaultNumSamples;
  int channels = kAiChannels;  // channels 0..channels-1 are enabled
  unsigned cs_mask = 1;        // Koru: bit c enables chip select c
  int trigger_mask = 1;        // bit 0 command, bit 1 RTC alarm, bit 2 external input
  std::array<ChannelWaves, kAiChipSelects> waves;
  std::array<std::uint64_t, kAiChipSelects> reads{};  // on-demand reads taken, per chip select
  AiCounters counters;
  AiStreamRun stream;

  AiPort() {
    for (int cs = 0; cs < kAiChipSelects; ++cs)
      for (int ch = 0; ch < kAiChannels; ++ch) waves[cs][ch] = defaultWaveform(cs, ch);
  }

  // The enabled chip selects, ascending.
  std::vector<int> chipSelects() const {
    std::vector<int> out;
    for (int cs = 0; cs < kAiChipSelects; ++cs)
      if (cs_mask & (1u << cs)) out.push_back(cs);
    return out;
  }
};

}  // namespace zelvo::sim
