// The encoder peripheral's firmware side: one quadrature input (channel 0) whose signed 48-bit
// position follows the velocity of a simulated shaft while started, and whose count frequency is
// measured over a moving window.
//
// Model of the device:
// - Tests set the shaft's velocity in counts per second (negative: backwards).
// - ENCODER_OPEN opens the channel; ENCODER_START needs it open (status 27 otherwise);
//   ENCODER_STOP stops counting (the position stays); ENCODER_CLOSE stops and closes.
// - ENCODER_SET_DIR [0, 1 | 255]: 255 negates the count (the position then runs against the
//   shaft); other values: status 27. ENCODER_GET_DIR [0] -> [0, 1 | 255].
// - ENCODER_SET_VALUE [0, 6 bytes, two's complement] presets the position; positions wrap within
//   -2^47..2^47-1.
// - ENCODER_SET_FRQ_WINDOW [0, f32 ms]: at least 20 ms (status 27 below, NaN, infinity); default
//   100 ms.
// - ENCODER_READ [0] -> [0, position (6 bytes), frequency (f32)]: the counts over the window that
//   ends now divided by the window, as a magnitude.
// - Other replies are [0, status]; any other channel is answered [channel, 11].
#pragma once

#include <cstdint>

#include "zelvo/sim/firmware.hpp"
#include "zelvo/sim/pulse_input.hpp"

namespace zelvo::sim {

// Command codes, under the names the library gives them.
namespace encodercmd {
inline constexpr int ENCODER_OPEN = 4160;
inline constexpr int ENCODER_START = 4161;
inline constexpr int ENCODER_READ = 4162;
inline constexpr int ENCODER_STOP = 4163;
inline constexpr int ENCODER_CLOSE = 4164;
inline constexpr int ENCODER_SET_VALUE = 4176;
inline constexpr int ENCODER_SET_DIR = 4177;
inline constexpr int ENCODER_SET_FRQ_WINDOW = 4178;
inline constexpr int ENCODER_GET_DIR = 4179;
}  // namespace encodercmd

struct EncoderState {
  bool open = false;
  bool started = false;
  bool reversed = false;  // ENCODER_SET_DIR 255
  double window_ms = kDefaultWindowMs;
  double velocity = 0;    // of the shaft, counts per second
  std::int64_t position = 0;
  double frequency = 0;   // as measured now
};

class EncoderFirmware final : public FirmwareModule {
 public:
  void install(Firmware& fw) override;

  // Controls and views for tests; safe from any thread.
  EncoderState state() const;
  // Counts per second (finite; negative turns backwards), from now on.
  void setVelocity(double counts_per_second);
  // -2^47 <= position < 2^47 (std::invalid_argument otherwise).
  void setPosition(std::int64_t position);

 private:
  double now() const;
  void refresh();
  std::int64_t position() const;

  Firmware* fw_ = nullptr;
  EncoderState s_;
  PulseInput pulses_;
};

}  // namespace zelvo::sim
