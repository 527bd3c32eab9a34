// PWM module: pulse-width-modulated outputs on two channels (open, set frequency and duty cycle,
// start, stop, close). Every operation checks its channel first, then sends [channel, ...] and
// returns the status convention: 0, or the negative code of the firmware's error.
#pragma once

#include "zelvo/core/call.hpp"

namespace zelvo {

// Command codes: core/command_table.def.

class PWMModule {
 public:
  static constexpr int kChannels = 2;

  explicit PWMModule(Device& dev);

  // True, or PWMChannelNotAvaliableError unless the channel is 0 or 1.
  static bool checkChannel(int channel);

  Op<int> open(Call& call, int channel);
  Op<int> start(Call& call, int channel);
  Op<int> stop(Call& call, int channel);
  Op<int> close(Call& call, int channel);
  // Hertz and percent of the period, sent as single-precision reals (InputDataNotInRangeError
  // for values that are not finite single-precision numbers; the firmware judges the rest).
  Op<int> setFrequency(Call& call, int channel, double frequency);
  Op<int> setDutyCycle(Call& call, int channel, double duty_cycle);

};

}  // namespace zelvo
