// The pulses a counter or encoder input sees, as a function of device time: a rate (pulses per
// second; negative runs an encoder backwards) that holds from the time it was set. The running
// total of pulses (the integral of the rate) makes the count of edges between two times and the
// average rate over a window exact, however often or rarely the host asks.
//
// The count starts from a preset value and adds the edges passed since: an edge at every phase
// n + offset of the input (offset 0 for rising edges, the duty cycle for falling ones), times a
// sign (the counting direction).
#pragma once

#include <cstdint>
#include <deque>
#include <optional>

#include "zelvo/core/bytes.hpp"

namespace zelvo::sim {

// Wire fields of the counter and encoder commands.
inline constexpr std::size_t kPositionBytes = 6;
inline constexpr std::int64_t kPositionSpan = std::int64_t{1} << 48;
inline constexpr std::size_t kChannelAndPosition = 1 + kPositionBytes;
inline constexpr std::size_t kChannelAndReal = 1 + 4;
// The data of a read reply after the channel byte: the position as 6 bytes (two's complement when
// negative), the frequency as f32.
Bytes readingBytes(std::int64_t position, double frequency);
// The 6-byte position after the channel byte of a preset request, unsigned (0..2^48-1).
std::int64_t positionField(ByteView payload);
// The window after the channel byte of a window request, in milliseconds, when the device takes
// it: at least 20 ms and finite.
std::optional<double> windowField(ByteView payload);
inline constexpr double kDefaultWindowMs = 100;
inline constexpr double kMsPerSecond = 1000;

class PulseInput {
 public:
  PulseInput();

  // The rate from time t on (t never earlier than the last change).
  void setRate(double t, double rate);
  double rate() const { return knots_.back().rate; }

  // The preset value plus the edges counted since the preset (not wrapped).
  std::int64_t count(double t) const;
  // Sets count(t) to `value`.
  void preset(double t, std::int64_t value);
  // Keeps count(t) and from t on counts the edges at phases n + offset, times sign.
  void recount(double t, double offset, int sign);

  // Pulses per second over the window (seconds) that ends at t: the change of the running total
  // divided by the window; signed.
  double averageRate(double t, double window) const;

 private:
  struct Knot {
    double t;       // from this time on ...
    double pulses;  // ... the running total, starting from this value ...
    double rate;    // ... grows at this rate
  };
  // The last rate changes, kept for the window. Before the first one nothing was counted; once older
  // changes were dropped, a window reaching back past the oldest kept one takes its rate for the
  // time before it.
  static constexpr std::size_t kMaxKnots = 1024;

  double pulses(double t) const;
  std::int64_t edges(double total) const;

  std::deque<Knot> knots_;
  bool pruned_ = false;
  std::int64_t base_ = 0;      // count at the preset (or the last recount)
  double anchor_pulses_ = 0;   // running total then
  double offset_ = 0;
  int sign_ = 1;
};

}  // namespace zelvo::sim
