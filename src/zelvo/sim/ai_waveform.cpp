#include "zelvo/sim/ai_waveform.hpp"

#include <array>
#include <bit>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <utility>

namespace zelvo::sim {
namespace {

constexpr std::array<std::pair<WaveKind, const char*>, 5> kNames = {{
    {WaveKind::Sine, "sine"},
    {WaveKind::Square, "square"},
    {WaveKind::Triangle, "triangle"},
    {WaveKind::Constant, "constant"},
    {WaveKind::Noise, "noise"},
}};

constexpr double kDefaultStepHz = 10.0;       // channel k runs at (k + 1) times this
constexpr double kDefaultCsOffsetVolts = 0.5;  // chip select c is offset by c times this

// SplitMix64 finaliser: a well-mixed 64-bit hash of a 64-bit word.
std::uint64_t mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// Uniform in [-1, 1) from the top 53 bits of a hash.
double uniformSigned(std::uint64_t h) { return std::ldexp(static_cast<double>(h >> 11), -52) - 1.0; }

double fraction(double x) { return x - std::floor(x); }

}  // namespace

double Waveform::at(double t, double origin) const {
  if (wired) return wired->at(origin + t);
  const double phase = fraction(frequency * t);  // position in the period, 0..1
  switch (kind) {
    case WaveKind::Sine: return offset + amplitude * std::sin(2 * std::numbers::pi * frequency * t);
    case WaveKind::Square: return offset + (phase < 0.5 ? amplitude : -amplitude);
    case WaveKind::Triangle: return offset + amplitude * (1.0 - 4.0 * std::abs(fraction(phase + 0.25) - 0.5));
    case WaveKind::Constant: return offset;
    case WaveKind::Noise: return offset + amplitude * uniformSigned(mix(seed ^ mix(std::bit_cast<std::uint64_t>(t))));
  }
  return offset;
}

void checkWaveform(const Waveform& w) {
  if (!std::isfinite(w.amplitude) || !std::isfinite(w.frequency) || !std::isfinite(w.offset))
    throw std::invalid_argument("waveform amplitude, frequency and offset must be finite numbers");
  if (w.frequency < 0) throw std::invalid_argument("waveform frequency must not be negative");
}

const char* waveKindName(WaveKind k) {
  for (const auto& [kind, name] : kNames)
    if (kind == k) return name;
  return "?";
}

std::optional<WaveKind> waveKindFromName(std::string_view name) {
  for (const auto& [kind, text] : kNames)
    if (name == text) return kind;
  return std::nullopt;
}

Waveform defaultWaveform(int chip_select, int channel) {
  Waveform w;
  w.amplitude = channel + 1;
  w.frequency = kDefaultStepHz * (channel + 1);
  w.offset = kDefaultCsOffsetVolts * chip_select;
  return w;
}

}  // namespace zelvo::sim
