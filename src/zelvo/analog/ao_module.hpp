// Analog output: voltages written on demand (one channel or all eight at once), and waveforms the
// firmware generates (a form and its parameters per channel, or values pushed into the device's
// buffer) in N-samples or continuous mode. AOModule serves the basic models and the streaming
// ones; the binding adds the streaming operations to the products that have them.
//
// Every operation is one request/reply exchange. The generator's state lives in the firmware and
// is read back with _AO_getState, _AO_getMode, _AO_getCounters and AO_openStreaming. Whatever the
// device sends under the start code goes to a bounded queue nobody reads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "zelvo/catalogue/catalogue.hpp"
#include "zelvo/core/call.hpp"
#include "zelvo/core/unread_stream.hpp"

namespace zelvo {

// Command codes: core/command_table.def; START_AO_STREAMING is a stream code (routing.hpp). The
// firmware also knows these, which no operation sends.
inline constexpr int PUSH_TO_AO_BUFFER = 203;
inline constexpr int GET_AO_ENABLED_CHANNELS = 8292;

// Values one buffer push carries at most: 13 single-precision values fill one 64-byte USB packet.
inline constexpr int kAOMaxPushValues = 13;
// Channels of every analog-output port.
inline constexpr int kAOChannels = 8;

// What AO_openStreaming reports: the generation mode and the sampling rate.
struct AOStreamingState {
  int mode = 0;
  double rate = 0;
};

class AOModule {
 public:
  AOModule(Device& dev, const AOData& data);

  // Queries and checks: true, or they raise the module's errors (nothing is sent).
  std::vector<int> getPort() const;
  std::vector<int> pinMapPorts() const;
  bool checkPort(int port) const;
  static bool checkMode(int mode);
  static bool checkSpan(int span);
  static bool checkChannel(int channel);
  static bool checkForm(int form);
  bool checkSamplingRate(double rate) const;
  // Whether n values fit in one push (at most kAOMaxPushValues); never raises.
  static bool checkNumOfValues(int n);

  // Basic level.
  Op<int> open(Call& call, int port);
  Op<int> close(Call& call, int port);
  Op<int> writeOneChannel(Call& call, int port, int channel, double value);
  Op<int> writeAllChannels(Call& call, int port, std::vector<double> values);
  Op<bool> checkPinState(Call& call, int port, std::vector<std::string> allow_state);

  // Waveform generation.
  Op<AOStreamingState> openStreaming(Call& call, int port);
  Op<int> startStreaming(Call& call, int port);
  Op<int> closeStreaming(Call& call, int port);
  Op<int> setMode(Call& call, int port, int mode);
  Op<int> setSamplingRate(Call& call, int port, double sampling_rate);
  Op<int> setNumSamples(Call& call, int port, std::int64_t num_samples);
  Op<int> setEnableChannels(Call& call, int port, std::vector<std::int64_t> channels);
  Op<int> setForm(Call& call, int port, int channel, int form);
  Op<int> setFormParam(Call& call, int port, int channel, double amplitude, double offset, double frequency,
                       double phase, double duty_cycle);
  Op<std::vector<double>> getValues(Call& call, int port);

  // Generator and buffer service. On the modular controller these send nothing and return none,
  // except the push, which takes a slot like the writes.
  Op<std::optional<int>> getMode(Call& call, int port);
  Op<std::optional<int>> getState(Call& call, int port);
  Op<std::optional<std::vector<std::int64_t>>> getCounters(Call& call, int port);
  Op<std::optional<std::vector<std::int64_t>>> initialBuffer(Call& call, int port);
  Op<int> pushToBuffer(Call& call, int port, int num_of_val, std::vector<double> values);
  Op<std::optional<int>> setSpan(Call& call, int port, int span);
  Op<std::optional<int>> stopStreaming(Call& call, int port);

  // Packets the device sent under START_AO_STREAMING that were dropped (their queue was full).
  std::uint64_t droppedStreamPackets() const { return unread_.dropped(); }

 private:
  int wirePort(int port) const;  // slot conversion on the modular controller
  void checkVolts(double value) const;
  // [port, extra...] -> the status at element 1.
  Op<int> statusOf(Call& call, int cmd, Bytes payload, const char* operation);
  // [port] -> the generator's byte at element 1 (mode, state); none where the service is inert.
  Op<std::optional<int>> generatorByte(Call& call, int cmd, int port, const char* operation);

  const AOData& data_;
  UnreadStream unread_;
};

}  // namespace zelvo
