#include "zelvo/sim/ai_firmware.hpp"

#include <cmath>
#include <stdexcept>
#include <string>

#include "zelvo/sim/ai_stream.hpp"
#include "zelvo/sim/ai_streamer.hpp"

namespace zelvo::sim {
namespace {

constexpr std::size_t kPortOnly = 1;         // [port]
constexpr std::size_t kPortAndByte = 2;      // [port, value]
constexpr std::size_t kPortAndWord = 5;      // [port, 4-byte value]
constexpr int kCountBytes16 = 2;
constexpr int kCountBytes24 = 3;
constexpr unsigned kAllChipSelects = (1u << kAiChipSelects) - 1;
constexpr int kTriggerMaskMax = 7;           // command | RTC alarm | external input

template <class... T>
void appendWords(Bytes& out, T... values) {
  (appendBE(out, static_cast<std::uint32_t>(values)), ...);  // counters wrap modulo 2^32
}

std::string portList(const std::map<int, AiPort>& ports) {
  std::string out;
  for (const auto& entry : ports) out += (out.empty() ? "" : ", ") + std::to_string(entry.first);
  return out;
}

}  // namespace

AiFirmware::AiFirmware() = default;
AiFirmware::~AiFirmware() = default;

void AiFirmware::install(Firmware& fw) {
  fw_ = &fw;
  const ProductSpec& prod = fw.product();
  if (prod.ai) {
    model_.chip_selects = prod.ai->chip_selects;
    model_.variable = prod.ai->ai_variable;
    model_.streams = true;
    model_.wide = prod.ai->samples_24bit;
    model_.max_rate = prod.ai->ai_max_rate;
    model_.ratio = prod.ai->ai_ratio;
    for (const auto& entry : prod.ai->ai_dict) ports_[entry.first];
  } else if (prod.ai24) {
    model_.offset_code = true;
    for (const auto& entry : prod.ai24->ai_dict) ports_[entry.first];
  }
  if (model_.streams) {
    streamer_ = std::make_unique<AiStreamer>(fw, mutex_, ports_, streamFormat());
    registerSettings();
  }
  registerReads();
}

// --- command table -------------------------------------------------------------------------------

void AiFirmware::route(int code, std::size_t need, Body body, Answer answers) {
  fw_->registerHandler(code, [this, need, answers, body = std::move(body)](const Request& r) -> Replies {
    const bool silent = answers == Answer::Never;
    if (r.payload.size() < need) return silent ? Replies{} : answer(r, {status::kParser});
    std::lock_guard lock(mutex_);
    const auto it = ports_.find(r.payload[0]);
    if (it == ports_.end()) return silent ? Replies{} : answer(r, {r.payload[0], status::kAi});
    Outcome out = body(r, it->first, it->second);
    if (const Byte* s = std::get_if<Byte>(&out)) return answer(r, {r.payload[0], *s});
    return std::get<Replies>(std::move(out));
  });
}

void AiFirmware::registerSettings() {
  using namespace aicmd;
  using P = AiPort&;
  using R = const Request&;
  route(OPEN_AI, kPortOnly, [](R, int, P p) -> Outcome {
    p.open = true;
    return status::kOk;
  });
  route(CLOSE_AI, kPortOnly, [this](R, int, P p) -> Outcome {
    p.open = false;
    stopStream(p);
    return status::kOk;
  });
  route(SET_AI_SAMPLING_RATE, kPortAndWord, [this](R r, int, P p) -> Outcome {
    const double rate = readF32BE(ByteView(r.payload).subspan(1));
    if (!(rate >= kAiMinRate && rate <= model_.max_rate)) return status::kAi;  // NaN fails both
    p.rate = rate;
    return status::kOk;
  });
  route(SET_AI_MODE, kPortAndByte, [](R r, int, P p) -> Outcome {
    if (r.payload[1] >= kAiModeCount) return status::kAi;
    p.mode = static_cast<AiMode>(r.payload[1]);
    return status::kOk;
  });
  route(SET_AI_NUM_SAMPLES, kPortAndWord, [](R r, int, P p) -> Outcome {
    p.num_samples = readBE<std::uint32_t>(ByteView(r.payload).subspan(1));
    return status::kOk;
  });
  route(SET_AI_ENABLED_CS, kPortAndByte, [this](R r, int, P p) -> Outcome {
    const unsigned value = r.payload[1];
    if (model_.chip_selects) {
      if (value == 0 || (value & ~kAllChipSelects) != 0) return status::kAi;
      p.cs_mask = value;
    } else {
      if (value < 1 || value > kAiChannels) return status::kAi;
      p.channels = static_cast<int>(value);
    }
    return status::kOk;
  });
  route(AI_SET_TRIG_MODE, kPortAndByte, [](R r, int, P p) -> Outcome {
    if (r.payload[1] < 1 || r.payload[1] > kTriggerMaskMax) return status::kAi;
    p.trigger_mask = r.payload[1];
    return status::kOk;
  });
  route(OPEN_AI_STREAMING, kPortOnly, [](R, int, P) -> Outcome { return status::kOk; });
  route(CLOSE_AI_STREAMING, kPortOnly, [this](R, int, P p) -> Outcome {
    stopStream(p);
    return status::kOk;
  });
  route(CLEAR_DATA, kPortOnly, [](R, int, P p) -> Outcome {
    p.counters = {};
    p.reads = {};
    return status::kOk;
  });
  route(CHECK_BUFFER_STATUS, kPortOnly, [this](R, int n, P p) -> Outcome { return bufferStatus(n, p); });
  route(GET_AI_COUNTERS, kPortOnly, [this](R, int n, P p) -> Outcome { return counters(n, p); });
  const int start = model_.wide ? AI_START_STREAMING_24BIT : model_.variable ? START_AI_STREAMING_VARIABLE : START_AI_STREAMING;
  route(start, kPortOnly, [this](R r, int, P p) -> Outcome { return startStreaming(r, p); },
        Answer::Never);
}

void AiFirmware::registerReads() {
  using namespace aicmd;
  using P = AiPort&;
  using R = const Request&;
  // [port, chip select] -> [port, chip select, 8 channels]; an invalid chip select -> [port, 52].
  auto readChipSelect = [this](bool echo_cs) {
    return [this, echo_cs](R r, int, P p) -> Outcome {
      const int cs = r.payload[1];
      if (!validChipSelect(cs)) return status::kAi;
      const int channels = echo_cs || model_.chip_selects ? kAiChannels : p.channels;
      return readOnDemand(r, p, cs, channels, echo_cs ? r.payload[1] : status::kOk);
    };
  };
  if (model_.offset_code || model_.wide) {
    // [port, mode byte] -> [port, 0, 8 channels of 3 bytes]; the mode byte is not examined.
    route(READAI24BIT, kPortAndByte,
          [this](R r, int, P p) -> Outcome { return readOnDemand(r, p, 0, kAiChannels, status::kOk); });
    return;
  }
  if (model_.variable) {
    route(READ_AI_ON_DEMAND_VARIABLE, kPortOnly,
          [this](R r, int, P p) -> Outcome { return readOnDemand(r, p, 0, p.channels, status::kOk); });
  } else {
    route(READ_AI_ON_DEMAND, kPortAndByte, readChipSelect(true));
  }
  route(AI_GET_DATA, kPortAndByte, readChipSelect(false));
}

// --- handlers ------------------------------------------------------------------------------------

Replies AiFirmware::readOnDemand(const Request& r, AiPort& p, int chip_select, int channels, Byte second) {
  const auto cs = static_cast<std::size_t>(chip_select);
  Bytes out{r.payload[0], second};
  const double t = static_cast<double>(p.reads[cs]) / p.rate;
  appendSample(out, p.waves[cs], channels, t, fw_->time().now() - t, readFormat(r.payload[0]));
  ++p.reads[cs];
  ++p.counters.on_demand_reads;
  return answer(r, std::move(out));
}

// A start is never answered, whatever happens (see Answer::Never). A start the port cannot carry
// out (mode on demand, N = 0, not open on a model that needs OPEN_AI, already streaming) is
// ignored.
Replies AiFirmware::startStreaming(const Request& r, AiPort& p) {
  const bool bounded = p.mode == AiMode::NSamples;
  if (p.stream.active || p.mode == AiMode::OnDemand || (model_.variable && !p.open) || (bounded && p.num_samples == 0))
    return {};
  AiStreamRun run;
  run.active = true;
  run.generation = p.stream.generation + 1;
  run.code = r.code;
  run.chip_selects = model_.chip_selects ? p.chipSelects() : std::vector<int>{0};
  run.rate = p.rate;
  run.channels = streamChannels(p);
  if (bounded) run.total = p.num_samples;
  run.samples_per_packet = samplesPerPacket(run.rate, run.channels, streamFormat().bytes());
  run.start = AiClock::now();
  run.origin = fw_->time().now();
  p.stream = std::move(run);
  ++p.counters.streams_started;
  streamer_->poke();
  return {};
}

void AiFirmware::stopStream(AiPort& p) {
  if (!p.stream.active) return;
  p.stream.active = false;
  streamer_->poke();
}

// [port, samples due but not sent yet, samples per packet, stalls, streaming (0/1)]
Replies AiFirmware::bufferStatus(int number, const AiPort& p) const {
  const AiStreamRun& run = p.stream;
  std::uint64_t buffered = 0;
  if (run.active && !streamer_->unthrottled()) {
    const std::uint64_t due = samplesDue(run, AiClock::now());
    buffered = due > run.sent ? due - run.sent : 0;
  }
  Bytes out{static_cast<Byte>(number)};
  appendWords(out, buffered, run.samples_per_packet, p.counters.stalls, run.active ? 1 : 0);
  return {Reply{aicmd::CHECK_BUFFER_STATUS, std::move(out)}};
}

// [port, samples per chip select 0..2, packets per chip select 0..2, on-demand reads, streams
// started, stalls]
Replies AiFirmware::counters(int number, const AiPort& p) const {
  const AiCounters& c = p.counters;
  Bytes out{static_cast<Byte>(number)};
  appendWords(out, c.samples[0], c.samples[1], c.samples[2], c.packets[0], c.packets[1], c.packets[2],
              c.on_demand_reads, c.streams_started, c.stalls);
  return {Reply{aicmd::GET_AI_COUNTERS, std::move(out)}};
}

// --- model choices -------------------------------------------------------------------------------

bool AiFirmware::validChipSelect(int cs) const { return model_.chip_selects ? cs >= 0 && cs < kAiChipSelects : cs == 0; }

int AiFirmware::readChannels(const AiPort& p) const { return model_.variable ? p.channels : kAiChannels; }

int AiFirmware::streamChannels(const AiPort& p) const { return model_.chip_selects ? kAiChannels : p.channels; }

SampleFormat AiFirmware::readFormat(int port) const {
  if (model_.offset_code) return SampleFormat::offsetCode(port == 0 ? kAiOffsetScalePort0 : kAiOffsetScaleOther);
  return streamFormat();
}

SampleFormat AiFirmware::streamFormat() const {
  return SampleFormat::counts(model_.wide ? kCountBytes24 : kCountBytes16, model_.ratio);
}

// --- controls ------------------------------------------------------------------------------------

void AiFirmware::checkTarget(int port, int chip_select, int channel) const {
  if (!ports_.count(port))
    throw std::invalid_argument("no analog input port " + std::to_string(port) + " (ports: " + portList(ports_) + ")");
  if (!validChipSelect(chip_select))
    throw std::invalid_argument("no chip select " + std::to_string(chip_select) + " (" +
                                (model_.chip_selects ? "0, 1 or 2" : "only 0 on this model") + ")");
  if (channel != -1 && (channel < 0 || channel >= kAiChannels))
    throw std::invalid_argument("no channel " + std::to_string(channel) + " (0.." + std::to_string(kAiChannels - 1) + ")");
}

std::vector<int> AiFirmware::ports() const {
  std::lock_guard lock(mutex_);
  std::vector<int> out;
  for (const auto& entry : ports_) out.push_back(entry.first);
  return out;
}

void AiFirmware::setWaveform(int port, int chip_select, int channel, const Waveform& w) {
  checkWaveform(w);
  std::lock_guard lock(mutex_);
  checkTarget(port, chip_select, channel);
  Waveform& slot = ports_.at(port).waves[static_cast<std::size_t>(chip_select)][static_cast<std::size_t>(channel)];
  auto wired = std::move(slot.wired);  // the wiring is not the waveform's: it stays
  slot = w;
  slot.wired = std::move(wired);
}

void AiFirmware::setWired(int port, int chip_select, int channel, std::shared_ptr<const WiredSignal> signal) {
  std::lock_guard lock(mutex_);
  checkTarget(port, chip_select, channel);
  ports_.at(port).waves[static_cast<std::size_t>(chip_select)][static_cast<std::size_t>(channel)].wired = std::move(signal);
}

Waveform AiFirmware::waveform(int port, int chip_select, int channel) const {
  std::lock_guard lock(mutex_);
  checkTarget(port, chip_select, channel);
  return ports_.at(port).waves[static_cast<std::size_t>(chip_select)][static_cast<std::size_t>(channel)];
}

AiPortStatus AiFirmware::status(int port) const {
  std::lock_guard lock(mutex_);
  checkTarget(port, 0);
  const AiPort& p = ports_.at(port);
  AiPortStatus s;
  s.open = p.open;
  s.mode = static_cast<int>(p.mode);
  s.rate = p.rate;
  s.num_samples = p.num_samples;
  s.channels = p.channels;
  s.chip_selects = model_.chip_selects ? p.chipSelects() : std::vector<int>{0};
  s.trigger_mask = p.trigger_mask;
  s.streaming = p.stream.active;
  s.samples_streamed = p.stream.sent;
  s.packets_sent = p.stream.packets;
  return s;
}

std::vector<std::int64_t> AiFirmware::nextRead(int port, int chip_select) const {
  std::lock_guard lock(mutex_);
  checkTarget(port, chip_select);
  const AiPort& p = ports_.at(port);
  const auto cs = static_cast<std::size_t>(chip_select);
  const SampleFormat fmt = readFormat(port);
  const double t = static_cast<double>(p.reads[cs]) / p.rate;
  const double origin = fw_->time().now() - t;  // wired channels: what they carry now
  std::vector<std::int64_t> out;
  for (int ch = 0; ch < readChannels(p); ++ch)
    out.push_back(fmt.raw(p.waves[cs][static_cast<std::size_t>(ch)].at(t, origin)));
  return out;
}

std::vector<std::vector<std::int64_t>> AiFirmware::streamSamples(int port, int chip_select, std::uint64_t start,
                                                                 std::size_t count) const {
  std::lock_guard lock(mutex_);
  if (!model_.streams) throw std::invalid_argument(fw_->product().class_name + " does not stream analog input");
  checkTarget(port, chip_select);
  const AiPort& p = ports_.at(port);
  const ChannelWaves& waves = p.waves[static_cast<std::size_t>(chip_select)];
  const SampleFormat fmt = streamFormat();
  std::vector<std::vector<std::int64_t>> out;
  for (std::uint64_t n = start; n < start + count; ++n) {
    auto& sample = out.emplace_back();
    const double t = static_cast<double>(n) / p.rate;
    for (int ch = 0; ch < streamChannels(p); ++ch)
      sample.push_back(fmt.raw(waves[static_cast<std::size_t>(ch)].at(t, p.stream.origin)));
  }
  return out;
}

void AiFirmware::setRate(int port, double rate) {
  std::lock_guard lock(mutex_);
  checkTarget(port, 0);
  if (!(rate >= kAiMinRate) || !std::isfinite(rate)) throw std::invalid_argument("a rate is a finite number of Hz, at least 0.01");
  ports_.at(port).rate = rate;
}

void AiFirmware::setUnthrottled(bool on) {
  std::lock_guard lock(mutex_);
  if (!model_.streams) throw std::invalid_argument(fw_->product().class_name + " does not stream analog input");
  streamer_->setUnthrottled(on);
}

bool AiFirmware::unthrottled() const {
  std::lock_guard lock(mutex_);
  return streamer_ && streamer_->unthrottled();
}

}  // namespace zelvo::sim
