// Analog input: on-demand reads and streamed acquisition.
//
// AIModule serves the 16-bit models and the 24-bit streaming model: configuration, on-demand
// reads and streaming. Streamed packets are converted to volts on the receive thread as they
// arrive (a stream sink per queue key) and queued as sample rows, one signal queue per (port, chip
// select); AI_readStreaming takes rows from there. Conversion happens only while the module is
// open; packets that arrive while it is closed wait in the device's raw stream queue and are
// converted, in order, when it opens.
//
// AI24BitModule serves the on-demand 24-bit models.
#pragma once

#include <array>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "zelvo/analog/ai_convert.hpp"
#include "zelvo/analog/sample_queue.hpp"
#include "zelvo/core/call.hpp"
#include "zelvo/core/reply.hpp"
#include "zelvo/catalogue/catalogue.hpp"

namespace zelvo {

// Command codes: core/command_table.def.
// START_AI_STREAMING, START_AI_STREAMING_VARIABLE and AI_START_STREAMING_24BIT are in routing.hpp.

// Capacity of each signal queue, in samples.
inline constexpr std::size_t kSignalQueueSamples = 1000000;
// Default wait of AI_readStreaming, seconds.
inline constexpr double kReadStreamingDelay = 0.005;

// Samples taken from the signal queues: `rows` rows of `width` values each (one row holds the
// channels of every chip select of the port, in chip-select order). A read stops early where the
// number of channels changed, so the rows of one read always have the same width.
struct SampleRows {
  std::size_t rows = 0;
  std::size_t width = 0;
  std::vector<double> values;    // rows * width
  std::uint64_t first_index = 0;  // index of the first row in its stream (dropped rows counted)
};

// Streamed samples with their time base: consecutive rows (a read stops where rows were dropped),
// the index of the first one since AI_startStreaming, the sampling rate set for the port and when
// the stream was started (host monotonic seconds).
struct SampleBlock {
  SampleRows rows;
  double rate = 0;
  double t0 = 0;
};

class AIModule {
 public:
  AIModule(Device& dev, const AIData& data);
  ~AIModule();

  // Configuration and streaming control.
  Op<int> open(Call& call, int port);
  Op<int> close(Call& call, int port);
  Op<int> openStreaming(Call& call, int port);
  Op<int> startStreaming(Call& call, int port);
  Op<int> closeStreaming(Call& call, int port);
  Op<int> setMode(Call& call, int port, int mode);
  Op<int> setNumSamples(Call& call, int port, std::int64_t num_samples);
  Op<int> setSamplingRate(Call& call, int port, double sampling_rate);
  // Data.
  Op<std::vector<double>> readOnDemand(Call& call, int port);
  Op<SampleRows> readStreaming(Call& call, int port, std::int64_t num_samples, double delay);
  Op<SampleBlock> readStreamingBlock(Call& call, int port, std::int64_t num_samples, double delay);
  Op<int> enableChannel(Call& call, int port, int channel);
  Op<int> enableCS(Call& call, int slot, std::vector<std::int64_t> chip_select);
  Op<int> setTriggerMode(Call& call, int port, int mode);
  Op<std::vector<double>> getDataRTC(Call& call, int port);
  Op<std::vector<std::int64_t>> getCounter(Call& call, int port);
  Op<int> clearBufferStatus(Call& call, int port);
  Op<std::vector<std::int64_t>> readBufferStatus(Call& call, int port);
  Op<bool> checkAIPinState(Call& call, int port, std::vector<std::string> allow_state);

  // Checks: true, or they raise the module's errors.
  bool checkPort(int port) const;
  static bool checkMode(int mode);
  static bool checkChannel(int channel);
  static bool checkChipSelect(std::int64_t cs);
  static bool checkTriggerMode(int mode);
  bool checkSamplingRate(int port, double rate) const;
  static int triggerModeToMask(int mode);
  // Position of (port, chip select) in the queue lists; nullopt when it has none.
  std::optional<std::size_t> changePortToIndex(int port, int chip_select) const;
  std::vector<int> pinMapPorts() const;
  // Ends streaming conversion for good (the product's close runs it).
  void free();

  // State for inspection.
  bool isOpen() const { return open_.load(); }
  bool killed() const { return killed_.load(); }
  int numChannels() const { return num_channels_.load(); }
  int mode() const { return mode_.load(); }
  int echoCmd() const { return echo_cmd_; }
  int streamCmd() const { return strm_cmd_; }
  std::vector<int> chipSelects(int port) const;
  const std::vector<std::shared_ptr<SampleQueue>>& signalQueues() const { return signal_; }
  std::vector<StreamKey> dataQueueKeys() const { return keys_; }
  // Samples of the port lost so far (queue full, or raw packets beyond the device's bound while
  // the module was closed); checks the port like readStreaming.
  std::uint64_t droppedSamples(int port) const;

 private:
  int wirePort(int port) const;  // slot conversion on the modular controller
  std::vector<int> chipSelectList(int port) const;
  // The queue indices of a port, one per chip select of its list, in order; and their queues.
  std::vector<std::size_t> indicesOf(int port) const;
  std::vector<std::shared_ptr<SampleQueue>> queuesOf(int port) const;
  // Waits for the rows and takes them; `contiguous` stops at a gap left by dropped rows.
  Op<SampleRows> readRows(Call& call, int port, std::int64_t num_samples, double delay, bool contiguous);
  SampleRows takeRows(const std::vector<std::shared_ptr<SampleQueue>>& queues, std::size_t want, bool contiguous);
  void convertInto(std::size_t index, ByteView stored);
  void onStream(std::size_t index, ByteView stored);
  void drainRaw();
  std::vector<double> decode16(const Reply& r, std::size_t first) const;

  Device& dev_;
  const AIData data_;
  const int echo_cmd_;
  const int strm_cmd_;
  const Counts16 counts16_;
  std::atomic<int> num_channels_;
  std::atomic<int> mode_{0};
  std::atomic<bool> open_{false};
  std::atomic<bool> killed_{false};

  mutable std::mutex m_;  // chip-select lists; open/convert ordering
  std::mutex read_m_;     // one streaming read at a time: rows are taken across chip selects
  std::map<int, std::vector<int>> chip_selects_;
  // Per port: the sampling rate the device accepted, and when the latest stream was started
  // (host monotonic seconds).
  std::map<int, double> rates_;
  std::map<int, double> stream_t0_;
  std::vector<StreamKey> keys_;                         // data queue keys, by queue index
  std::vector<std::shared_ptr<SampleQueue>> signal_;    // by queue index
};

class AI24BitModule {
 public:
  AI24BitModule(Device& dev, const AI24Data& data);

  Op<int> open(Call& call, int port);
  Op<int> close(Call& call, int port);
  Op<std::vector<double>> readOnDemand(Call& call, int port);
  bool checkPort(int port) const;

 private:
  Device& dev_;
  const AI24Data data_;
};

}  // namespace zelvo
