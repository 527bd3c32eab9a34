#include "zelvo/sim/ai_stream.hpp"

#include <algorithm>
#include <array>
#include <cmath>

namespace zelvo::sim {
namespace {

// Due times are kept this far ahead at most, so that converting them to clock ticks cannot
// overflow (an unthrottled stream at a low rate runs far ahead of its nominal schedule).
constexpr double kLatestDueSeconds = 1e9;
// The widest encoded channel value (24-bit).
constexpr std::size_t kMaxSampleBytes = 3;

}  // namespace

std::size_t samplesPerPacket(double rate, int channels, int bytes_per_channel) {
  const std::size_t sample_bytes = static_cast<std::size_t>(channels) * static_cast<std::size_t>(bytes_per_channel);
  const std::size_t fit = (kAiMaxPacketPayload - kAiPacketHeader) / sample_bytes;
  const double period = std::floor(rate * kAiPacketPeriodSeconds);
  const std::size_t wanted = period < 1 ? 1 : static_cast<std::size_t>(std::min(period, static_cast<double>(fit)));
  return std::max<std::size_t>(1, std::min(wanted, fit));
}

AiClock::time_point sampleDue(const AiStreamRun& run, std::uint64_t n) {
  const double seconds = std::min(static_cast<double>(n) / run.rate, kLatestDueSeconds);
  return run.start + std::chrono::duration_cast<AiClock::duration>(std::chrono::duration<double>(seconds));
}

std::uint64_t samplesDue(const AiStreamRun& run, AiClock::time_point now) {
  if (now < run.start) return 0;
  // Sample n is due once n / rate seconds have passed, so samples 0..floor(elapsed * rate) are.
  const double elapsed = std::chrono::duration<double>(now - run.start).count();
  auto due = static_cast<std::uint64_t>(std::floor(elapsed * run.rate)) + 1;
  // The double round trip may be off by one either way; settle on the due times themselves.
  while (due > 0 && sampleDue(run, due - 1) > now) --due;
  while (sampleDue(run, due) <= now && (!run.total || due < *run.total)) ++due;
  return run.total ? std::min(due, *run.total) : due;
}

NextPacket nextPacket(const AiStreamRun& run) {
  std::uint64_t count = run.samples_per_packet;
  if (run.total) count = std::min<std::uint64_t>(count, *run.total - std::min(*run.total, run.sent));
  if (count == 0) return {0, run.start};
  return {count, sampleDue(run, run.sent + count - 1)};
}

void appendSample(Bytes& out, const ChannelWaves& waves, int channels, double t, double origin, const SampleFormat& fmt) {
  for (int ch = 0; ch < channels; ++ch) fmt.append(out, fmt.raw(waves[static_cast<std::size_t>(ch)].at(t, origin)));
}

Bytes streamPayload(int port, int chip_select, const ChannelWaves& waves, int channels, double rate, double origin,
                    std::uint64_t from, std::uint64_t count, const SampleFormat& fmt) {
  const auto width = static_cast<std::size_t>(fmt.bytes());
  Bytes out(kAiPacketHeader + count * static_cast<std::size_t>(channels) * width);
  out[0] = static_cast<Byte>(port);
  out[1] = static_cast<Byte>(chip_select);
  // Written in place: packets of an unthrottled stream are built as fast as the host takes them.
  // A constant channel is encoded once per packet and copied.
  const auto nch = static_cast<std::size_t>(channels);
  std::vector<std::array<Byte, kMaxSampleBytes>> fixed(nch);
  std::vector<bool> is_fixed(nch);
  for (std::size_t ch = 0; ch < nch; ++ch)
    if ((is_fixed[ch] = waves[ch].constant())) fmt.write(fixed[ch].data(), fmt.raw(waves[ch].offset));
  Byte* p = out.data() + kAiPacketHeader;
  for (std::uint64_t n = from; n < from + count; ++n) {
    const double t = static_cast<double>(n) / rate;
    for (std::size_t ch = 0; ch < nch; ++ch, p += width) {
      if (is_fixed[ch])
        std::copy_n(fixed[ch].data(), width, p);
      else
        fmt.write(p, fmt.raw(waves[ch].at(t, origin)));
    }
  }
  return out;
}

}  // namespace zelvo::sim
