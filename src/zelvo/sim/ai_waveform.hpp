// Signals the emulated analog inputs measure: one generated waveform per channel, evaluated at a
// time in seconds. Every kind is a pure function of time (noise included: it hashes the time with
// its seed), so a sample's value depends only on when it was taken.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

namespace zelvo::sim {

enum class WaveKind { Sine, Square, Triangle, Constant, Noise };

// A signal another peripheral of the device feeds to an analog input (an analog output wired to
// it): its value at a device time (sim_clock.hpp), in seconds. Safe to call from any thread.
class WiredSignal {
 public:
  virtual ~WiredSignal() = default;
  virtual double at(double device_seconds) const = 0;
};

struct Waveform {
  WaveKind kind = WaveKind::Sine;
  double amplitude = 1.0;  // peak, in volts
  double frequency = 10.0;  // Hz; unused by Constant and Noise
  double offset = 0.0;     // volts added to every value; the whole value of Constant
  std::uint64_t seed = 0;  // Noise only
  // When set, the channel measures this signal instead of the waveform above.
  std::shared_ptr<const WiredSignal> wired;

  // Sine: offset + A sin(2πft). Square: offset + A for the first half of each period, offset - A
  // for the second. Triangle: offset + A, rising through 0 at t = 0 like the sine, peak at a
  // quarter period. Constant: offset. Noise: offset + A u, u uniform in [-1, 1), a hash of (seed, t).
  // A wired channel: the signal at device time origin + t (`origin`: the device time of t = 0).
  double at(double t, double origin = 0) const;
  // Whether every sample has the same value (a constant that is not wired).
  bool constant() const { return kind == WaveKind::Constant && !wired; }

  friend bool operator==(const Waveform&, const Waveform&) = default;
};

// Throws std::invalid_argument for a non-finite amplitude, frequency or offset, or a negative
// frequency.
void checkWaveform(const Waveform& w);

// "sine", "square", "triangle", "constant", "noise".
const char* waveKindName(WaveKind k);
std::optional<WaveKind> waveKindFromName(std::string_view name);

// What a channel measures until told otherwise: channel k (0-based) of chip select c carries a sine
// of amplitude k + 1 V at 10 (k + 1) Hz, offset 0.5 c V.
Waveform defaultWaveform(int chip_select, int channel);

}  // namespace zelvo::sim
