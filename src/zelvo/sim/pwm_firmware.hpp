// The PWM peripheral's firmware side: two channels, each with open and started flags, a frequency
// and a duty cycle. A channel drives its output while open and started.
//
// Model of the device:
// - OPEN_PWM opens a channel; START_PWM needs it open (status 25 otherwise); STOP_PWM stops it;
//   CLOSE_PWM stops and closes it.
// - SET_PWM_FREQUENCY takes 0 < f <= 1 MHz, SET_PWM_DUTY_CYCLE 0..100 percent (status 25 for other
//   values, NaN and infinities); both apply at once, also to a running output. Defaults: 1000 Hz,
//   50 %.
// - Replies are [channel, status]; a channel other than 0 and 1 is answered [channel, 11].
// Other peripherals (the counter wired to a PWM output) watch the outputs' changes.
#pragma once

#include <array>
#include <functional>
#include <vector>

#include "zelvo/sim/firmware.hpp"

namespace zelvo::sim {

// Command codes, under the names the library gives them.
namespace pwmcmd {
inline constexpr int OPEN_PWM = 80;
inline constexpr int START_PWM = 81;
inline constexpr int STOP_PWM = 82;
inline constexpr int CLOSE_PWM = 83;
inline constexpr int SET_PWM_FREQUENCY = 84;
inline constexpr int SET_PWM_DUTY_CYCLE = 85;
}  // namespace pwmcmd

struct PwmChannelState {
  bool open = false;
  bool started = false;
  double frequency = 1000;  // Hz
  double duty_cycle = 50;   // percent of the period
};

class PwmFirmware final : public FirmwareModule {
 public:
  static constexpr int kChannels = 2;

  void install(Firmware& fw) override;

  // Safe from any thread; a channel other than 0 and 1 throws std::invalid_argument.
  PwmChannelState state(int channel) const;
  // What the channel's output does: its frequency while open and started, else 0.
  double outputFrequency(int channel) const;

  // Called (with the firmware's lock held) after a command changed a channel's output.
  using Watcher = std::function<void(int channel)>;
  void watch(Watcher w);

 private:
  const PwmChannelState& known(int channel) const;
  void changed(int channel);

  Firmware* fw_ = nullptr;
  std::array<PwmChannelState, kChannels> channels_{};
  std::vector<Watcher> watchers_;
};

}  // namespace zelvo::sim
