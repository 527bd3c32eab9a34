#include "zelvo/analog/ai_module.hpp"

#include <algorithm>
#include <array>
#include <set>

#include "zelvo/core/console.hpp"
#include "zelvo/core/routing.hpp"
#include "zelvo/core/status_exchange.hpp"
#include "zelvo/system/pin_modes.hpp"
#include "zelvo/system/system_module.hpp"

namespace zelvo {
namespace {

// Ports of the modular controller that carry analog inputs, each with three chip selects.
constexpr std::array kKoruPorts = {0, 1, 3};
constexpr int kChipSelects = 3;
constexpr int kMinChannels = 1;
constexpr int kMaxChannels = 8;
constexpr int kMaxTriggerMode = 6;
constexpr int kChannels24 = 8;             // channels of a 24-bit on-demand read
constexpr std::size_t kSampleData = 2;     // reply and stream data start after two bytes
constexpr std::size_t kStatusAt = 1;       // [port, status]
constexpr std::size_t kCounters = 9;       // _AI_getCounter
constexpr std::size_t kBufferWords = 4;    // _AI_readBufferStatus
constexpr double kOffsetFullScale = 50;    // 24-bit on-demand: reply element 0 == 0
constexpr double kOffsetHalfScale = 25;    // otherwise
constexpr std::int64_t kMaxNumSamples = 0xFFFFFFFF;
constexpr int kMaxMode = 2;                // 0 on demand, 1 N samples, 2 continuous
// Trigger mask bits: command, real-time clock alarm, external interrupt input.
constexpr std::array<int, kMaxTriggerMode + 1> kTriggerMasks = {1, 2, 4, 3, 5, 6, 7};
constexpr int kAllTriggerSources = 7;
constexpr int kExternalTrigger = 4;

// Trigger modes in which the external input may start streaming.
bool usesExternalTrigger(int mode) {
  return mode >= 0 && mode <= kMaxTriggerMode && (kTriggerMasks[static_cast<std::size_t>(mode)] & kExternalTrigger);
}

// The limit of a table indexed by a count; 0 (none) beyond its end.
double limitFor(const std::vector<double>& table, std::size_t count) {
  return count < table.size() ? table[count] : 0;
}

}  // namespace

// --- construction ----------------------------------------------------------------------------------

AIModule::AIModule(Device& dev, const AIData& data)
    : dev_(dev),
      data_(data),
      echo_cmd_(data_.samples_24bit ? -1 : data_.ai_variable ? READ_AI_ON_DEMAND_VARIABLE : READ_AI_ON_DEMAND),
      strm_cmd_(data_.samples_24bit ? AI_START_STREAMING_24BIT
                : data_.ai_variable ? START_AI_STREAMING_VARIABLE
                                    : START_AI_STREAMING),
      counts16_(data_.ai_ratio),
      num_channels_(data_.ai_num_channels) {
  for (int p : kKoruPorts) chip_selects_[p] = {0};
  if (data_.chip_selects) {
    for (int p : kKoruPorts)
      for (int cs = 0; cs < kChipSelects; ++cs) keys_.push_back(StreamKey{strm_cmd_, p, cs, 3});
  } else {
    keys_.push_back(StreamKey{strm_cmd_, 0, 0, 3});
  }
  for (std::size_t i = 0; i < keys_.size(); ++i) {
    signal_.push_back(std::make_shared<SampleQueue>(kSignalQueueSamples));
    dev_.setStreamSink(keys_[i], [this, i](ByteView stored) { onStream(i, stored); });
  }
  dev_.addCloseHook([this] { free(); });
  dev_.addReaderWake([this] {
    for (const auto& q : signal_) q->wakeReaders();
  });
}

AIModule::~AIModule() {
  for (const auto& k : keys_) dev_.clearStreamSink(k);
}

void AIModule::free() { killed_ = true; }

// --- conversion ----------------------------------------------------------------------------------

void AIModule::onStream(std::size_t index, ByteView stored) {
  bool warn = false;
  {
    std::lock_guard lock(m_);
    if (killed_) return;
    if (!open_) {
      // Closed: keep the packet; it is converted when the module opens.
      dev_.streams().queue(keys_[index])->push(Bytes(stored.begin(), stored.end()));
      return;
    }
    convertInto(index, stored);
    warn = signal_[index]->takeOverflowStart();
  }
  // Once per overflow burst, and outside the lock: the warning goes through the interpreter.
  if (warn) console::warn(Err::AIQueueOverflowWarning);
}

void AIModule::convertInto(std::size_t index, ByteView stored) {
  const int width = num_channels_.load();
  const std::size_t per_channel = data_.samples_24bit ? kBytes24 : kBytes16;
  const std::size_t per_sample = static_cast<std::size_t>(width) * per_channel;
  if (per_sample == 0) return;
  // A payload that is not a whole number of samples: the whole ones are converted, the rest
  // dropped.
  const std::size_t rows = stored.size() / per_sample;
  const Byte* src = stored.data();
  const double ratio = data_.ai_ratio;
  signal_[index]->push(width, rows, [&](double* out) {
    const std::size_t values = rows * static_cast<std::size_t>(width);
    if (data_.samples_24bit) {
      for (std::size_t v = 0; v < values; ++v) out[v] = count24(src + v * kBytes24) * ratio;
    } else {
      for (std::size_t v = 0; v < values; ++v) out[v] = counts16_.fromBytes(src + v * kBytes16);
    }
  });
}

void AIModule::drainRaw() {
  for (std::size_t i = 0; i < keys_.size(); ++i)
    for (const Bytes& packet : dev_.streams().queue(keys_[i])->take(-1)) convertInto(i, packet);
}

// --- checks --------------------------------------------------------------------------------------

bool AIModule::checkPort(int port) const {
  if (!data_.ai_dict.contains(port)) throw Error(Err::AIPortNotAvaliableError);
  return true;
}

bool AIModule::checkMode(int mode) {
  if (mode < 0 || mode > kMaxMode) throw Error(Err::AIModeNotAvaliableError);
  return true;
}

bool AIModule::checkChannel(int channel) {
  if (channel < kMinChannels || channel > kMaxChannels) throw Error(Err::AIChannelNotAvaliableError);
  return true;
}

bool AIModule::checkChipSelect(std::int64_t cs) {
  if (cs < 0 || cs >= kChipSelects) throw Error(Err::AICSNotAvaliableError);
  return true;
}

bool AIModule::checkTriggerMode(int mode) {
  if (mode < 0 || mode > kMaxTriggerMode) throw Error(Err::AITriggerModeNotAvaliableError);
  return true;
}

int AIModule::triggerModeToMask(int mode) {
  return mode >= 0 && mode <= kMaxTriggerMode ? kTriggerMasks[static_cast<std::size_t>(mode)] : kAllTriggerSources;
}

bool AIModule::checkSamplingRate(int port, double rate) const {
  double limit = 0;  // none
  switch (data_.rate_limit) {
    case AIRateLimit::None:
      break;
    case AIRateLimit::MaxRate:
      limit = data_.ai_max_rate;
      break;
    case AIRateLimit::PerChannelCount:
      limit = limitFor(data_.rate_by_count, static_cast<std::size_t>(std::max(num_channels_.load(), 0)));
      break;
    case AIRateLimit::PerChipSelectCount:
      limit = limitFor(data_.rate_by_count, chipSelectList(port).size());
      break;
  }
  if (!(rate > 0) || (limit > 0 && rate > limit)) throw Error(Err::AIRateNotVaildError);
  return true;
}

std::optional<std::size_t> AIModule::changePortToIndex(int port, int chip_select) const {
  if (chip_select < 0 || chip_select >= kChipSelects) return std::nullopt;
  if (port == 0 || port == 3) return static_cast<std::size_t>(port * 2 + chip_select);
  if (port == 1) return static_cast<std::size_t>(port * 3 + chip_select);
  return std::nullopt;
}

std::vector<int> AIModule::pinMapPorts() const {
  std::set<int> ports;
  for (const auto& [port, refs] : data_.ai_dict)
    for (const auto& ref : refs) ports.insert(ref.first);
  return {ports.begin(), ports.end()};
}

int AIModule::wirePort(int port) const { return data_.slot_ports ? changeToKORUPort(port) : port; }

std::vector<int> AIModule::chipSelectList(int port) const {
  std::lock_guard lock(m_);
  auto it = chip_selects_.find(port);
  return it == chip_selects_.end() ? std::vector<int>{} : it->second;
}

std::vector<int> AIModule::chipSelects(int port) const { return chipSelectList(port); }

std::vector<std::size_t> AIModule::indicesOf(int port) const {
  if (!data_.chip_selects) return {0};
  std::vector<std::size_t> out;
  for (int cs : chipSelectList(port))
    if (auto i = changePortToIndex(port, cs)) out.push_back(*i);
  return out;
}

std::vector<std::shared_ptr<SampleQueue>> AIModule::queuesOf(int port) const {
  std::vector<std::shared_ptr<SampleQueue>> out;
  for (std::size_t i : indicesOf(port)) out.push_back(signal_[i]);
  return out;
}

std::uint64_t AIModule::droppedSamples(int port) const {
  if (!data_.samples_24bit) port = wirePort(port);
  checkPort(port);
  // Samples dropped from the signal queues, and packets dropped while they waited for the module
  // to open (counted in samples of the current channel count).
  const std::uint64_t sample_bytes =
      static_cast<std::uint64_t>(std::max(num_channels_.load(), 1)) * (data_.samples_24bit ? kBytes24 : kBytes16);
  std::uint64_t n = 0;
  for (std::size_t i : indicesOf(port))
    n += signal_[i]->dropped() + dev_.streams().queue(keys_[i])->droppedBytes() / sample_bytes;
  return n;
}

std::vector<double> AIModule::decode16(const Reply& r, std::size_t first) const {
  const auto n = static_cast<std::size_t>(num_channels_.load());
  const ByteView b = r.span(first, n * kBytes16);
  std::vector<double> volts(n);
  for (std::size_t i = 0; i < n; ++i) volts[i] = counts16_.fromBytes(b.data() + i * kBytes16);
  return volts;
}

// --- operations ----------------------------------------------------------------------------------

Op<int> AIModule::open(Call& call, int port) {
  if (data_.opens_locally) {
    std::lock_guard lock(m_);
    if (!open_) {
      drainRaw();
      open_ = true;
    }
    co_return 0;
  }
  checkPort(port);
  const int status = co_await echoStatus(call, OPEN_AI, payloadOf(port), kStatusAt, "AI_open");
  if (status == 0) {
    std::lock_guard lock(m_);
    if (!open_) {
      drainRaw();
      open_ = true;
    }
  }
  co_return status;
}

Op<int> AIModule::close(Call& call, int port) {
  if (data_.opens_locally) {
    open_ = false;
    co_return 0;
  }
  checkPort(port);
  const int status = co_await echoStatus(call, CLOSE_AI, payloadOf(port), kStatusAt, "AI_close");
  if (status == 0) open_ = false;
  co_return status;
}

Op<int> AIModule::openStreaming(Call& call, int port) {
  if (data_.streaming_opens_locally) co_return 0;
  checkPort(port);  // the port as given: no slot conversion here
  co_await call.echo(OPEN_AI_STREAMING, payloadOf(port));
  co_return 0;
}

Op<int> AIModule::startStreaming(Call& call, int port) {
  port = wirePort(port);
  checkPort(port);
  // The stream's rows count from 0 again, from now.
  for (const auto& q : queuesOf(port)) q->restartIndex();
  {
    std::lock_guard lock(m_);
    stream_t0_[port] = std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
  }
  call.sendOnly(strm_cmd_, payloadOf(port));
  co_return 0;
}

Op<int> AIModule::closeStreaming(Call& call, int port) {
  port = wirePort(port);
  checkPort(port);
  co_return co_await echoStatus(call, CLOSE_AI_STREAMING, payloadOf(port), kStatusAt, "AI_closeStreaming");
}

Op<int> AIModule::setMode(Call& call, int port, int mode) {
  port = wirePort(port);
  checkPort(port);
  checkMode(mode);
  mode_ = mode;
  co_return co_await echoStatus(call, SET_AI_MODE, payloadOf(port, mode), kStatusAt, "AI_setMode");
}

Op<int> AIModule::setNumSamples(Call& call, int port, std::int64_t num_samples) {
  port = wirePort(port);
  checkPort(port);
  if (num_samples < 0 || num_samples > kMaxNumSamples)
    throw Error(Err::InputDataNotInRangeError, "num_samples must be 0..4294967295.");
  Bytes payload = payloadOf(port);
  appendBE(payload, static_cast<std::uint32_t>(num_samples));
  co_return co_await echoStatus(call, SET_AI_NUM_SAMPLES, std::move(payload), kStatusAt, "AI_setNumSamples");
}

Op<int> AIModule::setSamplingRate(Call& call, int port, double sampling_rate) {
  port = wirePort(port);
  checkPort(port);
  checkSamplingRate(port, sampling_rate);
  Bytes payload = payloadOf(port);
  appendF32BE(payload, sampling_rate);
  const int status = co_await echoStatus(call, SET_AI_SAMPLING_RATE, std::move(payload),
                                         kStatusAt, "AI_setSamplingRate");
  if (status == 0) {
    std::lock_guard lock(m_);
    rates_[port] = sampling_rate;
  }
  co_return status;
}

Op<std::vector<double>> AIModule::readOnDemand(Call& call, int port) {
  if (data_.samples_24bit) {
    checkPort(port);
    const Bytes r = co_await call.echo(READAI24BIT, payloadOf(port, 0));
    const ByteView b = Reply(r, "AI_readOnDemand").span(kSampleData, kChannels24 * kBytes24);
    std::vector<double> volts(kChannels24);
    for (std::size_t i = 0; i < volts.size(); ++i) volts[i] = count24(b.data() + i * kBytes24) * data_.ai_ratio;
    co_return volts;
  }
  port = wirePort(port);
  checkPort(port);
  std::vector<double> volts;
  const std::vector<int> css = data_.chip_selects ? chipSelectList(port) : std::vector<int>{0};
  for (int cs : css) {
    const Bytes payload = echo_cmd_ == READ_AI_ON_DEMAND ? payloadOf(port, cs) : payloadOf(port);
    const Bytes r = co_await call.echo(echo_cmd_, payload);
    const auto part = decode16(Reply(r, "AI_readOnDemand"), kSampleData);
    volts.insert(volts.end(), part.begin(), part.end());
  }
  co_return volts;
}

Op<SampleRows> AIModule::readStreaming(Call& call, int port, std::int64_t num_samples, double delay) {
  return readRows(call, port, num_samples, delay, false);
}

Op<SampleBlock> AIModule::readStreamingBlock(Call& call, int port, std::int64_t num_samples, double delay) {
  SampleBlock block;
  block.rows = co_await readRows(call, port, num_samples, delay, true);
  const int wire = data_.samples_24bit ? port : wirePort(port);
  std::lock_guard lock(m_);
  if (auto r = rates_.find(wire); r != rates_.end()) block.rate = r->second;
  if (auto t = stream_t0_.find(wire); t != stream_t0_.end()) block.t0 = t->second;
  co_return block;
}

Op<SampleRows> AIModule::readRows(Call& call, int port, std::int64_t num_samples, double delay, bool contiguous) {
  dev_.requireOpen();
  if (!data_.samples_24bit) port = wirePort(port);
  checkPort(port);
  const auto queues = queuesOf(port);
  SampleRows out;
  if (num_samples <= 0 || queues.empty()) co_return out;
  const auto want = static_cast<std::size_t>(num_samples);
  // Wait (at most `delay` seconds, always checking once) until every chip select has enough. With
  // no link (or once the device closed) nothing more can come: what is queued is returned at once.
  const TimePoint deadline = deadlineAfter(delay);
  for (const auto& q : queues) {
    auto enough = q->atLeast(want);
    const TimePoint until = dev_.receiving() && !dev_.killed() ? deadline : Clock::now();
    co_await WaitFor<Unit, SampleQueue::AtLeast>(call.waitMode(), enough, until, dev_.connectionError());
  }
  co_return takeRows(queues, want, contiguous);
}

SampleRows AIModule::takeRows(const std::vector<std::shared_ptr<SampleQueue>>& queues, std::size_t want,
                              bool contiguous) {
  SampleRows out;
  // Rows are taken together from the chip selects of the port, so one reader at a time; as many
  // as every queue can give in one take, so that no queue gives rows the others cannot match.
  std::lock_guard lock(read_m_);
  std::size_t n = want;
  for (const auto& q : queues) n = std::min(n, q->frontRun(contiguous));
  if (n == 0) return out;
  out.first_index = queues.front()->frontIndex();
  std::vector<std::vector<double>> parts(queues.size());
  std::vector<std::size_t> widths(queues.size(), 0);
  for (std::size_t k = 0; k < queues.size(); ++k) {
    parts[k].reserve(n * static_cast<std::size_t>(std::max(queues[k]->frontWidth(), 0)));
    auto visit = [&](int width, const double* values, std::size_t rows) {
      widths[k] = static_cast<std::size_t>(width);
      parts[k].insert(parts[k].end(), values, values + rows * static_cast<std::size_t>(width));
    };
    queues[k]->take(n, visit, contiguous);
  }
  std::size_t width = 0;
  for (auto w : widths) width += w;
  out.rows = n;
  out.width = width;
  if (queues.size() == 1) {
    out.values = std::move(parts[0]);
    out.values.resize(n * width);
  } else {
    out.values.reserve(n * width);
    for (std::size_t row = 0; row < n; ++row)
      for (std::size_t k = 0; k < queues.size(); ++k)
        out.values.insert(out.values.end(), parts[k].begin() + static_cast<std::ptrdiff_t>(row * widths[k]),
                          parts[k].begin() + static_cast<std::ptrdiff_t>((row + 1) * widths[k]));
  }
  return out;
}

Op<int> AIModule::enableChannel(Call& call, int port, int channel) {
  if (data_.fixed_channels) throw Error(Err::APINotSupportError);
  checkPort(port);
  checkChannel(channel);
  const int status = co_await echoStatus(call, SET_AI_ENABLED_CS, payloadOf(port, channel),
                                         kStatusAt, "AI_enableChannel");
  if (status == 0) num_channels_ = channel;
  co_return status;
}

Op<int> AIModule::enableCS(Call& call, int slot, std::vector<std::int64_t> chip_select) {
  if (!data_.chip_selects) throw Error(Err::APINotSupportError);
  const int port = wirePort(slot);
  checkPort(port);
  if (chip_select.empty()) throw Error(Err::AICSNotAvaliableError);
  int mask = 0;
  for (std::int64_t cs : chip_select) {
    checkChipSelect(cs);
    if (mask & (1 << cs)) throw Error(Err::AICSNotAvaliableError);  // listed twice
    mask |= 1 << cs;
  }
  const int status = co_await echoStatus(call, SET_AI_ENABLED_CS, payloadOf(port, mask), kStatusAt, "AI_enableCS");
  if (status == 0) {
    std::lock_guard lock(m_);
    chip_selects_[port].assign(chip_select.begin(), chip_select.end());
  }
  co_return status;
}

Op<int> AIModule::setTriggerMode(Call& call, int port, int mode) {
  if (!data_.external_trigger && usesExternalTrigger(mode)) throw Error(Err::APINotSupportError);
  checkPort(port);
  checkTriggerMode(mode);
  co_return co_await echoStatus(call, AI_SET_TRIG_MODE, payloadOf(port, triggerModeToMask(mode)),
                                kStatusAt, "AI_setTriggerMode");
}

Op<std::vector<double>> AIModule::getDataRTC(Call& call, int port) {
  checkPort(port);
  const Bytes r = co_await call.echo(AI_GET_DATA, payloadOf(port, 0));
  co_return decode16(Reply(r, "_AI_getDataRTC"), kSampleData);
}

namespace {
std::vector<std::int64_t> words32(const Reply& r, std::size_t count) {
  std::vector<std::int64_t> out(count);
  for (std::size_t i = 0; i < count; ++i) out[i] = r.be<std::uint32_t>(1 + 4 * i);
  return out;
}
}  // namespace

Op<std::vector<std::int64_t>> AIModule::getCounter(Call& call, int port) {
  port = wirePort(port);
  const Bytes r = co_await call.echo(GET_AI_COUNTERS, payloadOf(port));
  co_return words32(Reply(r, "_AI_getCounter"), kCounters);
}

Op<int> AIModule::clearBufferStatus(Call& call, int port) {
  port = wirePort(port);
  checkPort(port);
  co_return co_await echoStatus(call, CLEAR_DATA, payloadOf(port), kStatusAt, "_AI_clearBufferStatus");
}

Op<std::vector<std::int64_t>> AIModule::readBufferStatus(Call& call, int port) {
  port = wirePort(port);
  checkPort(port);
  const Bytes r = co_await call.echo(CHECK_BUFFER_STATUS, payloadOf(port));
  co_return words32(Reply(r, "_AI_readBufferStatus"), kBufferWords);
}

Op<bool> AIModule::checkAIPinState(Call& call, int port, std::vector<std::string> allow_state) {
  (void)port;  // every pin of the model's map is checked
  co_await requireMapPinModes(call, data_.ai_dict, std::move(allow_state), Err::AIPortNotAvaliableError);
  co_return true;
}

// --- 24-bit on-demand module -----------------------------------------------------------------------

AI24BitModule::AI24BitModule(Device& dev, const AI24Data& data) : dev_(dev), data_(data) {}

bool AI24BitModule::checkPort(int port) const {
  if (!data_.ai_dict.contains(port)) throw Error(Err::AIPortNotAvaliableError);
  return true;
}

Op<int> AI24BitModule::open(Call&, int) { co_return 0; }
Op<int> AI24BitModule::close(Call&, int) { co_return 0; }

Op<std::vector<double>> AI24BitModule::readOnDemand(Call& call, int port) {
  checkPort(port);
  constexpr int kOffsetCodeRead = 255;
  const Bytes r = co_await call.echo(READAI24BIT, payloadOf(port, kOffsetCodeRead));
  const Reply reply(r, "AI_readOnDemand");
  const double full_scale = reply.at(0) == 0 ? kOffsetFullScale : kOffsetHalfScale;
  const ByteView b = reply.span(kSampleData, kChannels24 * kBytes24);
  std::vector<double> values(kChannels24);
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = offsetCode24(b.data() + i * kBytes24, full_scale);
  co_return values;
}

}  // namespace zelvo
