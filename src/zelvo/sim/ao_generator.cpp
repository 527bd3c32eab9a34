#include "zelvo/sim/ao_generator.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>

namespace zelvo::sim {
namespace {

constexpr double kDegreesPerTurn = 360;
constexpr int kDefaultSpan = 3;  // +-10 V

double fraction(double x) { return x - std::floor(x); }

// Channels of `enabled` that play the buffer (form 0), ascending.
std::vector<int> bufferChannels(const AoPort& p, unsigned enabled) {
  std::vector<int> out;
  for (int ch = 0; ch < kAoChannels; ++ch)
    if ((enabled >> ch & 1u) && p.channels[static_cast<std::size_t>(ch)].form == AoForm::Level) out.push_back(ch);
  return out;
}

}  // namespace

int spanFor(double low, double high) {
  for (std::size_t i = 0; i < kAoSpans.size(); ++i)
    if (kAoSpans[i].low == low && kAoSpans[i].high == high) return static_cast<int>(i);
  return kDefaultSpan;
}

double formValue(const AoChannel& c, double t) {
  const AoFormParams& f = c.params;
  const double turns = f.frequency * t + f.phase / kDegreesPerTurn;
  const double at = fraction(turns);
  const double duty = std::clamp(f.duty_cycle, 0.0, 1.0);
  switch (c.form) {
    case AoForm::Sine: return f.offset + f.amplitude * std::sin(2 * std::numbers::pi * turns);
    case AoForm::Rectangle: return f.offset + (at < duty ? f.amplitude : -f.amplitude);
    case AoForm::Triangle: {
      // Rising over the duty cycle, falling over the rest; a duty of 0 or 1 makes a sawtooth.
      const double rise = at < duty ? at / duty : 1 - (at - duty) / (1 - duty);
      return f.offset + f.amplitude * (2 * rise - 1);
    }
    case AoForm::Level: return f.offset;
  }
  return f.offset;
}

// --- a generation ----------------------------------------------------------------------------------

double AoRun::end() const {
  if (!started) return start;
  const double natural = total ? start + static_cast<double>(total) / rate : std::numeric_limits<double>::infinity();
  return std::min(stop, natural);
}

std::uint64_t AoRun::samplesAt(double t) const {
  if (!started || t < start) return 0;
  // Sample k goes out at start + k / rate: before the end, those with k / rate <= t - start; once
  // ended, those that went out before the end.
  const double x = (std::min(t, end()) - start) * rate;
  const auto n = static_cast<std::uint64_t>(t < end() ? std::floor(x) + 1 : std::ceil(x));
  return total ? std::min(n, total) : n;
}

// --- a port ----------------------------------------------------------------------------------------

AoState AoPort::stateAt(double t) const {
  if (!prepared) return AoState::Idle;
  return run.started && t >= run.start && t < run.end() ? AoState::Running : AoState::StandBy;
}

double AoPort::outputAt(int ch, double t) const {
  const AoChannel& c = channels[static_cast<std::size_t>(ch)];
  double v = c.level;
  if (stateAt(t) == AoState::Running && (run.enabled >> ch & 1u)) {
    const auto k = static_cast<std::uint64_t>(std::floor((t - run.start) * run.rate));
    const double sample_time = static_cast<double>(k) / run.rate;
    v = formValue(c, sample_time);
    if (c.form == AoForm::Level && !buffer.empty()) {
      const std::vector<int> players = bufferChannels(*this, run.enabled);
      const std::size_t frames = buffer.size() / players.size();
      const auto slot = static_cast<std::size_t>(std::find(players.begin(), players.end(), ch) - players.begin());
      if (frames > 0) v = buffer[(k % frames) * players.size() + slot];
    }
  }
  const AoRange& r = kAoSpans[static_cast<std::size_t>(span)];
  return std::clamp(v, r.low, r.high);
}

std::array<std::uint64_t, 2> AoPort::countersAt(double t) const {
  const std::uint64_t samples = run.samplesAt(t);
  return {past_samples + samples, past_writes + samples * static_cast<unsigned>(std::popcount(run.enabled))};
}

bool AoPort::startAt(double t) {
  if (!prepared || stateAt(t) == AoState::Running || mode == AoMode::OnDemand) return false;
  if (mode == AoMode::NSamples && num_samples == 0) return false;
  const auto done = countersAt(t);
  past_samples = done[0];
  past_writes = done[1];
  run = AoRun{};
  run.started = true;
  run.start = t;
  run.rate = rate;
  run.total = mode == AoMode::NSamples ? num_samples : 0;
  run.enabled = enabled;
  return true;
}

void AoPort::stopAt(double t) {
  if (stateAt(t) == AoState::Running) run.stop = t;
}

}  // namespace zelvo::sim
