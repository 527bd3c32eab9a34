// Counter module: pulse counting on two input channels, with the input frequency measured over a
// moving window (open, choose the counting edge, preset the count, set the window, start, stop,
// read, close). Positions are unsigned 48-bit counts. Status operations return 0 or the negative
// code of the firmware's error.
#pragma once

#include <cstdint>

#include "zelvo/core/call.hpp"
#include "zelvo/dio/timer_wire.hpp"

namespace zelvo {

// Command codes: core/command_table.def.

class CounterModule {
 public:
  static constexpr int kChannels = 2;

  explicit CounterModule(Device& dev);

  // True, or CounterChannelNotAvaliableError unless the channel is 0 or 1.
  static bool checkChannel(int channel);

  Op<int> open(Call& call, int channel);
  Op<int> start(Call& call, int channel);
  Op<int> stop(Call& call, int channel);
  Op<int> close(Call& call, int channel);
  // Sends 1 (rising edge) for edge >= 1, else 0 (falling edge).
  Op<int> setEdge(Call& call, int channel, std::int64_t edge);
  // 0 <= position < 2^48 (InputDataNotInRangeError otherwise).
  Op<int> setPosition(Call& call, int channel, std::int64_t position);
  // Milliseconds, a single-precision real (the device's default is 100, its minimum 20).
  Op<int> setFreqWindow(Call& call, int channel, double window_size);
  // [position, frequency]; the firmware status is not examined.
  Op<PulseReading> read(Call& call, int channel);
  Op<std::int64_t> readPosition(Call& call, int channel);
  Op<double> readFrequency(Call& call, int channel);
};

}  // namespace zelvo
