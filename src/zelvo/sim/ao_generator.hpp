// The emulated analog-output generator of one port: its settings, the eight channels, the value
// buffer, and the generation in progress, all evaluated at a device time (sim_clock.hpp). Pure data
// and functions; the firmware (ao_firmware.hpp) holds the lock and the clock.
//
// - States: idle until OPEN_AO_STREAMING, then stand-by; a start makes it run; N-samples runs end
//   by themselves after N / rate seconds (back to stand-by), continuous ones when stopped.
// - While running, each enabled channel outputs its waveform sampled at the rate (sample k holds
//   from start + k / rate on); the other channels, and every channel otherwise, hold the level last
//   written on demand. Outputs are limited to the span.
// - Forms (phase in degrees, duty cycle a fraction of the period): 1 rectangle (offset + amplitude
//   for the first duty cycle of each period, offset - amplitude after), 2 triangle (from
//   offset - amplitude up to offset + amplitude at the duty cycle, back down by the period's end),
//   3 sine, 0 a DC level (the offset) — or, when the buffer holds values, the buffer: the enabled
//   channels of form 0 take its values in turn (frame k holds one value per such channel, in
//   channel order) and it repeats.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

namespace zelvo::sim {

inline constexpr int kAoChannels = 8;
inline constexpr std::size_t kAoBufferValues = 65536;  // values the buffer holds at most
inline constexpr double kAoDefaultRate = 1000.0;
inline constexpr std::uint32_t kAoDefaultNumSamples = 1000;

enum class AoState : int { Idle = 0, StandBy = 1, Running = 2 };
enum class AoMode : int { OnDemand = 0, NSamples = 1, Continuous = 2 };
inline constexpr int kAoModeCount = 3;
enum class AoForm : int { Level = 0, Rectangle = 1, Triangle = 2, Sine = 3 };
inline constexpr int kAoFormCount = 4;

// Output spans: span code -> (lowest, highest) volts.
struct AoRange {
  double low, high;
};
inline constexpr std::array<AoRange, 5> kAoSpans = {{{0, 5}, {0, 10}, {-5, 5}, {-10, 10}, {-2.5, 2.5}}};
// The span whose range is exactly [low, high] (the model's), else +-10 V.
int spanFor(double low, double high);

struct AoFormParams {
  double amplitude = 0, offset = 0, frequency = 0, phase = 0, duty_cycle = 0.5;
};

struct AoChannel {
  AoForm form = AoForm::Level;
  AoFormParams params;
  double level = 0;  // written on demand
};

// A generation: the one in progress, or the last one.
struct AoRun {
  bool started = false;
  double start = 0;  // device time
  double stop = std::numeric_limits<double>::infinity();  // when it was stopped
  double rate = kAoDefaultRate;
  std::uint64_t total = 0;  // N-samples; 0 when continuous
  unsigned enabled = 0;
  // When it ends (or ended): stopped, or its last sample's period over.
  double end() const;
  // Samples put out up to time t.
  std::uint64_t samplesAt(double t) const;
};

struct AoPort {
  bool open = false;
  bool prepared = false;  // OPEN_AO_STREAMING: stand-by rather than idle
  int span = 3;
  AoMode mode = AoMode::OnDemand;
  double rate = kAoDefaultRate;
  std::uint32_t num_samples = kAoDefaultNumSamples;
  unsigned enabled = 0xFF;  // bit n: channel n generates
  std::array<AoChannel, kAoChannels> channels;
  std::vector<double> buffer;
  AoRun run;
  // Counters of the generations before the current one.
  std::uint64_t past_samples = 0, past_writes = 0;

  AoState stateAt(double t) const;
  // What channel ch outputs at time t.
  double outputAt(int ch, double t) const;
  // [interrupt counter, converter writes] at time t: samples put out, and samples times channels.
  std::array<std::uint64_t, 2> countersAt(double t) const;
  // Begins a generation at t with the present settings; false when the port cannot start one.
  bool startAt(double t);
  void stopAt(double t);
};

// The value of a form at generator time t (seconds since the start).
double formValue(const AoChannel& c, double t);

}  // namespace zelvo::sim
