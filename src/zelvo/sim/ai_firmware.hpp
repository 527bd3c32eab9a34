// The analog-input peripheral's firmware side: configuration commands, on-demand reads and
// streamed acquisition, for the 16-bit models, the 24-bit streaming model and the 24-bit on-demand
// models. Every channel measures a generated waveform (ai_waveform.hpp) that tests can set.
//
// Which commands a device answers follows its product: the fixed-channel models (Koru, Tavra-A)
// read with READ_AI_ON_DEMAND and stream with START_AI_STREAMING; the Aeris and Pellor models use
// the _VARIABLE codes and stream only while the port is open (OPEN_AI); Tavra-A2 reads with
// READAI24BIT and streams with AI_START_STREAMING_24BIT; Tavra-I and Tavra-IA answer READAI24BIT
// only. Koru's ports 0, 1 and 3 each have three chip selects of eight channels.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <functional>
#include <mutex>
#include <variant>
#include <vector>

#include "zelvo/sim/ai_format.hpp"
#include "zelvo/sim/ai_port.hpp"
#include "zelvo/sim/ai_waveform.hpp"
#include "zelvo/sim/firmware.hpp"

namespace zelvo::sim {

namespace status {
inline constexpr Byte kAi = 52;
}  // namespace status

// Command codes, under the names the library gives them.
namespace aicmd {
inline constexpr int OPEN_AI = 176;
inline constexpr int SET_AI_SAMPLING_RATE = 177;
inline constexpr int SET_AI_MODE = 178;
inline constexpr int SET_AI_NUM_SAMPLES = 179;
inline constexpr int SET_AI_ENABLED_CS = 180;
inline constexpr int READ_AI_ON_DEMAND = 181;
inline constexpr int OPEN_AI_STREAMING = 182;
inline constexpr int START_AI_STREAMING = 183;
inline constexpr int CLOSE_AI_STREAMING = 184;
inline constexpr int CLEAR_DATA = 186;
inline constexpr int CHECK_BUFFER_STATUS = 187;
inline constexpr int GET_AI_COUNTERS = 188;
inline constexpr int READ_AI_ON_DEMAND_VARIABLE = 189;
inline constexpr int START_AI_STREAMING_VARIABLE = 190;
inline constexpr int CLOSE_AI = 191;
inline constexpr int READAI24BIT = 8196;
inline constexpr int AI_START_STREAMING_24BIT = 8205;
inline constexpr int AI_SET_TRIG_MODE = 8214;
inline constexpr int AI_GET_DATA = 8226;
}  // namespace aicmd

// Lowest sampling rate the firmware takes, Hz; the highest is the model's ai_max_rate.
inline constexpr double kAiMinRate = 0.01;
// Full scale of the 24-bit offset codes: port 0 reads on ±50, the other ports on ±25.
inline constexpr double kAiOffsetScalePort0 = 50.0;
inline constexpr double kAiOffsetScaleOther = 25.0;

// A port's settings and progress as the Python controls show them.
struct AiPortStatus {
  bool open = false;
  int mode = 0;
  double rate = 0;
  std::uint32_t num_samples = 0;
  int channels = 0;
  std::vector<int> chip_selects;
  int trigger_mask = 0;
  bool streaming = false;
  std::uint64_t samples_streamed = 0;  // by the current or last stream, on each chip select
  std::uint64_t packets_sent = 0;      // by the current or last stream, all chip selects
};

class AiStreamer;

class AiFirmware final : public FirmwareModule {
 public:
  AiFirmware();
  ~AiFirmware() override;
  void install(Firmware& fw) override;

  // Controls, callable from any thread. A port, chip select or channel the device does not have
  // raises std::invalid_argument.
  std::vector<int> ports() const;
  // Sets what a channel measures; a channel wired to another peripheral stays wired.
  void setWaveform(int port, int chip_select, int channel, const Waveform& w);
  // Wires a channel to a signal of another peripheral (nullptr: back to its waveform).
  void setWired(int port, int chip_select, int channel, std::shared_ptr<const WiredSignal> signal);
  Waveform waveform(int port, int chip_select, int channel) const;
  AiPortStatus status(int port) const;
  // The raw values (counts, or offset codes on the 24-bit on-demand models) that the next
  // on-demand read of (port, chip select) returns.
  std::vector<std::int64_t> nextRead(int port, int chip_select) const;
  // The raw values of stream samples start..start+count-1 of a chip select, with the port's
  // present rate and channels (a running stream keeps those it started with).
  std::vector<std::vector<std::int64_t>> streamSamples(int port, int chip_select, std::uint64_t start,
                                                       std::size_t count) const;
  // Sets a port's sampling rate as SET_AI_SAMPLING_RATE would, but without the model's limit
  // (benchmarks pace a stream faster than real hardware can). Applies from the next stream.
  void setRate(int port, double rate);
  // Unthrottled, streams go out as fast as the transport takes them instead of at their rate.
  void setUnthrottled(bool on);
  bool unthrottled() const;

 private:
  struct Model {
    bool chip_selects = false;  // three chip selects per port
    bool variable = false;     // _VARIABLE codes; streaming needs OPEN_AI
    bool streams = false;      // the configuration and stream commands
    bool wide = false;         // 24-bit two's complement counts
    bool offset_code = false;  // 24-bit offset codes, on-demand only
    double max_rate = 0;
    double ratio = 0;
  };

  // What a command does on one of the model's ports: a status (answered [port, status]) or the
  // replies it makes itself.
  using Outcome = std::variant<Byte, Replies>;
  using Body = std::function<Outcome(const Request& r, int number, AiPort& p)>;
  // Starts answer nothing at all: their code is a stream code, so the host would take any reply
  // for data.
  enum class Answer { Always, Never };

  // Registers a command of `need` payload bytes, the port first. A shorter request is answered
  // [80], a port the model lacks [port, 52] (with Answer::Never: nothing); the body runs with the
  // module's lock held.
  void route(int code, std::size_t need, Body body, Answer answers = Answer::Always);
  void registerSettings();
  void registerReads();

  Replies startStreaming(const Request& r, AiPort& p);
  Replies bufferStatus(int number, const AiPort& p) const;
  Replies counters(int number, const AiPort& p) const;
  // One on-demand read: [port, second, raw values of `channels` channels], second being the chip
  // select or the status, as the command has it.
  Replies readOnDemand(const Request& r, AiPort& p, int chip_select, int channels, Byte second);
  void stopStream(AiPort& p);

  bool validChipSelect(int cs) const;
  int readChannels(const AiPort& p) const;    // channels in the model's on-demand read
  int streamChannels(const AiPort& p) const;  // channels in each stream sample
  SampleFormat readFormat(int port) const;
  SampleFormat streamFormat() const;
  // Throws std::invalid_argument for a port, chip select or channel (-1: not checked) the device
  // lacks. Called with the module's lock held.
  void checkTarget(int port, int chip_select, int channel = -1) const;

  Firmware* fw_ = nullptr;
  Model model_;
  mutable std::mutex mutex_;
  std::map<int, AiPort> ports_;
  std::unique_ptr<AiStreamer> streamer_;  // streaming models only; declared last, stopped first
};

}  // namespace zelvo::sim
