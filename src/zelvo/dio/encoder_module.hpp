// Encoder module: a quadrature encoder input (one channel, 0): open, start, stop, close, preset the
// position, set the counting direction and the window over which the frequency is measured, read
// position, frequency and direction. Positions are signed 48-bit counts. Status operations return
// 0 or the negative code of the firmware's error.
#pragma once

#include <cstdint>

#include "zelvo/core/call.hpp"
#include "zelvo/dio/timer_wire.hpp"

namespace zelvo {

// Command codes: core/command_table.def.

class EncoderModule {
 public:
  explicit EncoderModule(Device& dev);

  // True, or EncoderChannelNotAvaliableError unless the channel is 0.
  static bool checkIndex(int channel);

  Op<int> open(Call& call, int channel);
  Op<int> start(Call& call, int channel);
  Op<int> stop(Call& call, int channel);
  Op<int> close(Call& call, int channel);
  // -2^47 <= position < 2^47 (InputDataNotInRangeError otherwise).
  Op<int> setPosition(Call& call, int channel, std::int64_t position);
  // Sends 1 for direction >= 1, else 255 (-1 as a byte): the count runs the other way.
  Op<int> setDirection(Call& call, int channel, std::int64_t direction);
  // Milliseconds, a single-precision real.
  Op<int> setFreqWindow(Call& call, int channel, double window_size);
  // Reply element 1 as it stands (1 or 255 on a device that accepted setDirection).
  Op<int> getDirection(Call& call, int channel);
  // [position, frequency]; the firmware status is not examined.
  Op<PulseReading> read(Call& call, int channel);
  Op<std::int64_t> readPosition(Call& call, int channel);
  Op<double> readFrequency(Call& call, int channel);
};

}  // namespace zelvo
