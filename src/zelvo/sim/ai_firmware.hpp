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
#include <mutex>
#include <vector>

#include "zelvo/sim/ai_format.hpp"
#include "zelvo/sim/ai_port.hpp"
#include "zelvo/sim/ai_waveform.hpp"
#include "zelvo/sim/firmware.hpp"

namespace zelvo::sim {

namespace status {
inline constexpr Byte kAi = 52;
}  // namespace status

namespace aicmd {
inline constexpr int kOpenAi = 176;
inline constexpr int kSetSamplingRate = 177;
inline constexpr int kSetMode = 178;
inline constexpr int kSetNumSamples = 179;
inline constexpr int kSetEnabledCs = 180;
inline constexpr int kReadOnDemand = 181;
inline constexpr int kOpenStreaming = 182;
inline constexpr int kStartStreaming = 183;
inline constexpr int kCloseStreaming = 184;
inline constexpr int kClearData = 186;
inline constexpr int kCheckBufferStatus = 187;
inline constexpr int kGetCounters = 188;
inline constexpr int kReadOnDemandVariable = 189;
inline constexpr int kStartStreamingVariable = 190;
inline constexpr int kCloseAi = 191;
inline constexpr int kRead24Bit = 8196;
inline constexpr int kStartStreaming24Bit = 8205;
inline constexpr int kSetTriggerMode = 8214;
inline constexpr int kGetData = 8226;
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
  void setWaveform(int port, int chip_select, int channel, const Waveform& w);
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

  void registerCommands(Firmware& fw);
  void registerSettings(Firmware& fw);
  void registerReads(Firmware& fw);

  template <class Fn>
  Replies onPort(const Request& r, std::size_t need, Fn&& fn);
  template <class Fn>
  Replies configure(const Request& r, std::size_t need, Fn&& fn);

  Replies startStreaming(const Request& r);
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
