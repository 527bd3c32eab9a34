// The counter peripheral's firmware side: two channels, each counting the edges of its input into
// a 48-bit position while started, and measuring the input's frequency over a moving window.
//
// Model of the device:
// - The input of a channel is a signal of the frequency tests apply (`setInput`), or, when tests
//   wire it so, the output of the PWM channel of the same number (its frequency while that channel
//   runs, else nothing).
// - PULSE_OPEN opens a channel; PULSE_START needs it open (status 26 otherwise) and counts from the
//   position reached; PULSE_STOP stops counting (the position stays); PULSE_CLOSE stops and
//   closes.
// - PULSE_SET_EDGE [ch, 1 | 0] counts rising or falling edges (falling edges lag the rising ones by
//   the duty cycle: the wired PWM's, else half a period); other values: status 26.
// - PULSE_SET_VALUE [ch, 6 bytes] presets the position; positions wrap at 2^48.
// - PULSE_SET_FRQ_WINDOW [ch, f32 ms] sets the window, at least 20 ms (status 26 below, NaN,
//   infinity); default 100 ms.
// - PULSE_READ [ch] -> [ch, position (6 bytes), frequency (f32)]: the pulses counted over the window
//   that ends now, divided by the window (so a change of the input shows fully after one window).
// - Other replies are [ch, status]; a channel other than 0 and 1 is answered [ch, 11].
// Everything runs on the device's time (Firmware::time()).
#pragma once

#include <array>
#include <cstdint>

#include "zelvo/sim/firmware.hpp"
#include "zelvo/sim/pulse_input.hpp"

namespace zelvo::sim {

class PwmFirmware;

// Command codes, under the names the library gives them.
namespace countercmd {
inline constexpr int PULSE_OPEN = 4128;
inline constexpr int PULSE_START = 4129;
inline constexpr int PULSE_READ = 4130;
inline constexpr int PULSE_STOP = 4131;
inline constexpr int PULSE_CLOSE = 4132;
inline constexpr int PULSE_SET_EDGE = 4144;
inline constexpr int PULSE_SET_VALUE = 4145;
inline constexpr int PULSE_SET_FRQ_WINDOW = 4146;
}  // namespace countercmd

struct CounterChannelState {
  bool open = false;
  bool started = false;
  bool rising = true;
  double window_ms = kDefaultWindowMs;
  double input = 0;     // the frequency tests apply, Hz
  bool wired = false;   // the input is the PWM output of the same number instead
  std::int64_t position = 0;
  double frequency = 0;  // as measured now
};

class CounterFirmware final : public FirmwareModule {
 public:
  static constexpr int kChannels = 2;

  void install(Firmware& fw) override;

  // Controls and views for tests; safe from any thread. A channel other than 0 and 1 throws
  // std::invalid_argument.
  CounterChannelState state(int channel) const;
  // The frequency of the signal applied to the input (>= 0, finite), from now on.
  void setInput(int channel, double frequency);
  // Feed the input from the PWM channel of the same number (true) or from setInput (false).
  void wirePwm(int channel, bool wired);
  void setPosition(int channel, std::int64_t position);

 private:
  struct Channel {
    CounterChannelState s;
    PulseInput pulses;
  };
  Channel& known(int channel);
  const Channel& known(int channel) const;
  double now() const;
  // The input's frequency and duty cycle (fraction of the period) as they are now.
  double sourceFrequency(int channel) const;
  double sourceDuty(int channel) const;
  // Takes a change of the input, the started flag or the edge into account from now on.
  void refresh(int channel);
  std::int64_t position(const Channel& c) const;

  Firmware* fw_ = nullptr;
  PwmFirmware* pwm_ = nullptr;
  std::array<Channel, kChannels> channels_{};
};

}  // namespace zelvo::sim
