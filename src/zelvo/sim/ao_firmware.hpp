// The analog-output peripheral's firmware side: on-demand levels, the waveform generator of every
// port (ao_generator.hpp) on the device's time, the value buffer, and the optional wiring of each
// output channel to the analog input of the same port and channel number.
//
// Model of the device (besides the generator's, in ao_generator.hpp):
// - Ports are the model's analog-output ports (the wire ports on Koru). The span starts at the one
//   matching the model's range.
// - Levels written on demand must lie within the span (status 53 otherwise, nothing changes).
// - Mode, rate, sample count and enabled channels cannot change while the generator runs (53).
//   Rates are above 0 and at most the model's ao_rate.
// - START_AO_STREAMING is answered by nothing (its code is a stream code); a start the port cannot
//   carry out (idle, on-demand mode, N = 0, already running) is ignored.
// - Replies: [port, status]; [port, mode, f32 rate] to OPEN_AO_STREAMING; [port, mode] and
//   [port, state]; [port, u32 samples, u32 converter writes] counters; [port, 0, 8 x f32] output
//   values; [port, u32 capacity, 0] to INIT_AO_BUFFER. A port the model lacks: [port, 53]; a
//   request too short for its fields: [port, 80].
// - Every setter request is recorded with its bytes (the last kAoRecordedSetters per port).
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "zelvo/sim/ao_generator.hpp"
#include "zelvo/sim/firmware.hpp"

namespace zelvo::sim {

namespace status {
inline constexpr Byte kAo = 53;
}  // namespace status

// Command codes, under the names the library gives them.
namespace aocmd {
inline constexpr int OPEN_AO = 192;
inline constexpr int WRITE_AO_BY_CHANNEL = 197;
inline constexpr int INIT_AO_BUFFER = 202;
inline constexpr int GET_AO_COUNTERS = 204;
inline constexpr int WRITE_AO_SYNCHRONIZED = 205;
inline constexpr int GET_AO_VALUES = 206;
inline constexpr int CLOSE_AO = 207;
inline constexpr int OPEN_AO_STREAMING = 8264;
inline constexpr int START_AO_STREAMING = 8265;
inline constexpr int STOP_AO_STREAMING = 8266;
inline constexpr int CLOSE_AO_STREAMING = 8267;
inline constexpr int SET_AO_SPAN = 8272;
inline constexpr int SET_AO_MODE = 8273;
inline constexpr int SET_AO_SAMPLING_RATE = 8274;
inline constexpr int SET_AO_NUM_SAMPLES = 8275;
inline constexpr int SET_AO_ENABLED_CHANNELS = 8276;
inline constexpr int SET_AO_FORM = 8277;
inline constexpr int SET_AO_FORM_PARAM = 8278;
inline constexpr int SET_AO_PUSH_TO_BUFFER = 8280;
inline constexpr int GET_AO_MODE = 8290;
inline constexpr int GET_AO_STATE = 8291;
}  // namespace aocmd

inline constexpr std::size_t kAoRecordedSetters = 1024;

// A setter request as it arrived: its code and payload.
using AoSetter = std::pair<int, Bytes>;

class AoFirmware final : public FirmwareModule {
 public:
  AoFirmware();
  void install(Firmware& fw) override;

  // Controls, callable from any thread; a port or channel the model lacks raises
  // std::invalid_argument.
  std::vector<int> ports() const;
  // The port's settings, channels, buffer and generation (a copy).
  AoPort port(int port) const;
  AoState state(int port) const;
  std::array<double, kAoChannels> outputs(int port) const;
  std::array<std::uint64_t, 2> counters(int port) const;
  std::vector<AoSetter> setters(int port) const;
  // Wires (or unwires) output channel i of every port to input channel i of the analog-input port
  // with the same number (chip select 0). std::invalid_argument when the product has no analog
  // input port to wire to.
  void setWiredToInputs(bool on);
  bool wiredToInputs() const;

 private:
  // The ports, shared with the signals wired to the analog inputs (which read them from the analog
  // input's threads). The lock is never held while another peripheral's lock is taken.
  struct Bank {
    mutable std::mutex m;
    std::map<int, AoPort> ports;
    std::map<int, std::deque<AoSetter>> setters;
  };
  class OutputSignal;
  using Body = std::function<Bytes(const Request&, AoPort&, double now)>;

  // Registers a command of at least `need` payload bytes, the port first; the body answers what
  // follows the port. `setter`: its requests are recorded. `answers` false: no reply at all.
  void route(int code, std::size_t need, Body body, bool setter = false, bool answers = true);
  void registerLevels();
  void registerGenerator();
  void registerBuffer();
  const AoPort& known(int port) const;  // with the bank's lock held

  Firmware* fw_ = nullptr;
  std::shared_ptr<Bank> bank_;
  std::atomic<bool> wired_{false};
};

}  // namespace zelvo::sim
