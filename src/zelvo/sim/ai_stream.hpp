// The arithmetic of analog-input samples and stream packets: which samples a packet holds, when it
// is ready, and its bytes. Pure functions; the streamer decides when to call them.
#pragma once

#include <cstdint>

#include "zelvo/core/bytes.hpp"
#include "zelvo/sim/ai_format.hpp"
#include "zelvo/sim/ai_port.hpp"

namespace zelvo::sim {

// Real firmware sends a packet about this often, holding the samples taken meanwhile.
inline constexpr double kAiPacketPeriodSeconds = 0.005;
// Largest payload of one stream packet, header bytes included.
inline constexpr std::size_t kAiMaxPacketPayload = 30000;
// Port and chip-select bytes in front of the samples.
inline constexpr std::size_t kAiPacketHeader = 2;

// Samples per packet: about kAiPacketPeriodSeconds at `rate`, at least 1, within
// kAiMaxPacketPayload.
std::size_t samplesPerPacket(double rate, int channels, int bytes_per_channel);

// When sample n of the stream is due.
AiClock::time_point sampleDue(const AiStreamRun& run, std::uint64_t n);
// How many samples are due at `now` (counted from sample 0), within the stream's total.
std::uint64_t samplesDue(const AiStreamRun& run, AiClock::time_point now);

// The next packet of a running stream: how many samples it holds (a full packet, or what is left
// of an N-samples stream) and when its last sample is due.
struct NextPacket {
  std::uint64_t count = 0;
  AiClock::time_point ready;
};
NextPacket nextPacket(const AiStreamRun& run);

// The raw values of the first `channels` channels at time t (`origin`: the device time of t = 0,
// for wired channels).
void appendSample(Bytes& out, const ChannelWaves& waves, int channels, double t, double origin, const SampleFormat& fmt);

// A stream packet's payload: port, chip select, then samples from..from+count-1 back to back
// (`origin`: the device time of sample 0).
Bytes streamPayload(int port, int chip_select, const ChannelWaves& waves, int channels, double rate, double origin,
                    std::uint64_t from, std::uint64_t count, const SampleFormat& fmt);

}  // namespace zelvo::sim
