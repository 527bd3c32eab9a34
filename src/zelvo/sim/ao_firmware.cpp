#include "zelvo/sim/ao_firmware.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <stdexcept>
#include <string>

#include "zelvo/sim/ai_firmware.hpp"

namespace zelvo::sim {
namespace {

// Payload bytes of the requests, the port included.
constexpr std::size_t kPortOnly = 1;
constexpr std::size_t kPortAndByte = 2;
constexpr std::size_t kF32 = 4;
constexpr std::size_t kPortAndF32 = kPortOnly + kF32;
constexpr std::size_t kChannelLevel = kPortAndByte + kF32;       // [port, channel, f32]
constexpr std::size_t kAllLevels = kPortOnly + kAoChannels * kF32;  // [port, 8 x f32]
constexpr std::size_t kSettingHeader = 3;                         // [port, 0, channel or count]
constexpr std::size_t kFormParams = 5;
constexpr std::size_t kFormParamRequest = kSettingHeader + kFormParams * kF32;
constexpr Byte kReserved = 0;

bool within(double v, const AoRange& r) { return std::isfinite(v) && v >= r.low && v <= r.high; }

double f32At(const Request& r, std::size_t at) { return readF32BE(ByteView(r.payload).subspan(at)); }

Bytes wordPair(std::uint64_t a, std::uint64_t b) {
  Bytes out;
  appendBE(out, static_cast<std::uint32_t>(a));  // counters wrap modulo 2^32
  appendBE(out, static_cast<std::uint32_t>(b));
  return out;
}

}  // namespace

// What an output channel puts out, as the analog input wired to it measures it.
class AoFirmware::OutputSignal final : public WiredSignal {
 public:
  OutputSignal(std::shared_ptr<const Bank> bank, int port, int channel)
      : bank_(std::move(bank)), port_(port), channel_(channel) {}
  double at(double device_seconds) const override {
    std::lock_guard lock(bank_->m);
    return bank_->ports.at(port_).outputAt(channel_, device_seconds);
  }

 private:
  std::shared_ptr<const Bank> bank_;
  int port_, channel_;
};

AoFirmware::AoFirmware() : bank_(std::make_shared<Bank>()) {}

void AoFirmware::install(Firmware& fw) {
  fw_ = &fw;
  const AOData& ao = *fw.product().ao;
  for (const auto& entry : ao.ao_dict) bank_->ports[entry.first].span = spanFor(ao.ao_volt_min, ao.ao_volt_max);
  registerLevels();
  registerGenerator();
  registerBuffer();
}

void AoFirmware::route(int code, std::size_t need, Body body, bool setter, bool answers) {
  fw_->registerHandler(code, [this, code, need, setter, answers, body = std::move(body)](const Request& r) -> Replies {
    if (r.payload.empty()) return answers ? answer(r, {status::kParser}) : Replies{};
    const Byte number = r.payload[0];
    Bytes out{number};
    {
      std::lock_guard lock(bank_->m);
      const auto it = bank_->ports.find(number);
      if (it == bank_->ports.end()) {
        out.push_back(status::kAo);
      } else {
        if (setter) {
          auto& log = bank_->setters[number];
          log.emplace_back(code, r.payload);
          if (log.size() > kAoRecordedSetters) log.pop_front();
        }
        if (r.payload.size() < need) {
          out.push_back(status::kParser);
        } else {
          const Bytes tail = body(r, it->second, fw_->time().now());
          out.insert(out.end(), tail.begin(), tail.end());
        }
      }
    }
    return answers ? answer(r, std::move(out)) : Replies{};
  });
}

// --- on-demand levels --------------------------------------------------------------------------------

void AoFirmware::registerLevels() {
  using namespace aocmd;
  using R = const Request&;
  route(OPEN_AO, kPortOnly, [](R, AoPort& p, double) -> Bytes {
    p.open = true;
    return {status::kOk};
  });
  route(CLOSE_AO, kPortOnly, [](R, AoPort& p, double now) -> Bytes {
    p.stopAt(now);
    p.open = p.prepared = false;
    for (auto& c : p.channels) c.level = 0;
    return {status::kOk};
  });
  route(WRITE_AO_BY_CHANNEL, kChannelLevel, [](R r, AoPort& p, double) -> Bytes {
    const Byte ch = r.payload[1];
    const double v = f32At(r, kPortAndByte);
    if (ch >= kAoChannels || !within(v, kAoSpans[static_cast<std::size_t>(p.span)])) return {status::kAo};
    p.channels[ch].level = v;
    return {status::kOk};
  }, true);
  route(WRITE_AO_SYNCHRONIZED, kAllLevels, [](R r, AoPort& p, double) -> Bytes {
    std::array<double, kAoChannels> v{};
    for (std::size_t ch = 0; ch < v.size(); ++ch) {
      v[ch] = f32At(r, kPortOnly + ch * kF32);
      if (!within(v[ch], kAoSpans[static_cast<std::size_t>(p.span)])) return {status::kAo};
    }
    for (std::size_t ch = 0; ch < v.size(); ++ch) p.channels[ch].level = v[ch];
    return {status::kOk};
  }, true);
  route(SET_AO_SPAN, kPortAndByte, [](R r, AoPort& p, double) -> Bytes {
    if (r.payload[1] >= kAoSpans.size()) return {status::kAo};
    p.span = r.payload[1];
    return {status::kOk};
  }, true);
  route(GET_AO_VALUES, kPortOnly, [](R, AoPort& p, double now) {
    Bytes out{kReserved};
    for (int ch = 0; ch < kAoChannels; ++ch) appendF32BE(out, p.outputAt(ch, now));
    return out;
  });
}

// --- the generator -----------------------------------------------------------------------------------

void AoFirmware::registerGenerator() {
  using namespace aocmd;
  using R = const Request&;
  const double max_rate = fw_->product().ao->ao_rate;
  // Settings the generator takes at its start: refused while it runs.
  auto idleSetting = [this](int code, std::size_t need, std::function<bool(R, AoPort&)> set) {
    route(code, need, [set = std::move(set)](R r, AoPort& p, double now) -> Bytes {
      if (p.stateAt(now) == AoState::Running || !set(r, p)) return {status::kAo};
      return {status::kOk};
    }, true);
  };
  idleSetting(SET_AO_MODE, kPortAndByte, [](R r, AoPort& p) {
    if (r.payload[1] >= kAoModeCount) return false;
    p.mode = static_cast<AoMode>(r.payload[1]);
    return true;
  });
  idleSetting(SET_AO_SAMPLING_RATE, kPortAndF32, [max_rate](R r, AoPort& p) {
    const double rate = f32At(r, kPortOnly);
    if (!(rate > 0 && rate <= max_rate)) return false;  // NaN fails too
    p.rate = rate;
    return true;
  });
  idleSetting(SET_AO_NUM_SAMPLES, kPortAndF32, [](R r, AoPort& p) {
    p.num_samples = readBE<std::uint32_t>(ByteView(r.payload).subspan(kPortOnly));
    return true;
  });
  idleSetting(SET_AO_ENABLED_CHANNELS, kSettingHeader, [](R r, AoPort& p) {
    p.enabled = r.payload[2];
    return true;
  });
  route(SET_AO_FORM, kSettingHeader + 1, [](R r, AoPort& p, double) -> Bytes {
    const Byte ch = r.payload[2], form = r.payload[3];
    if (ch >= kAoChannels || form >= kAoFormCount) return {status::kAo};
    p.channels[ch].form = static_cast<AoForm>(form);
    return {status::kOk};
  }, true);
  route(SET_AO_FORM_PARAM, kFormParamRequest, [](R r, AoPort& p, double) -> Bytes {
    const Byte ch = r.payload[2];
    std::array<double, kFormParams> v{};
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = f32At(r, kSettingHeader + i * kF32);
    if (ch >= kAoChannels || !std::all_of(v.begin(), v.end(), [](double x) { return std::isfinite(x); }))
      return {status::kAo};
    p.channels[ch].params = AoFormParams{v[0], v[1], v[2], v[3], v[4]};
    return {status::kOk};
  }, true);
  route(OPEN_AO_STREAMING, kPortOnly, [](R, AoPort& p, double) {
    p.prepared = true;
    Bytes out{static_cast<Byte>(p.mode)};
    appendF32BE(out, p.rate);
    return out;
  });
  route(START_AO_STREAMING, kPortOnly, [](R, AoPort& p, double now) {
    p.startAt(now);
    return Bytes{};
  }, false, false);
  route(STOP_AO_STREAMING, kPortOnly, [](R, AoPort& p, double now) -> Bytes {
    p.stopAt(now);
    return {status::kOk};
  });
  route(CLOSE_AO_STREAMING, kPortOnly, [](R, AoPort& p, double now) -> Bytes {
    p.stopAt(now);
    p.prepared = false;
    return {status::kOk};
  });
  route(GET_AO_MODE, kPortOnly, [](R, AoPort& p, double) -> Bytes { return {static_cast<Byte>(p.mode)}; });
  route(GET_AO_STATE, kPortOnly, [](R, AoPort& p, double now) -> Bytes { return {static_cast<Byte>(p.stateAt(now))}; });
  route(GET_AO_COUNTERS, kPortOnly, [](R, AoPort& p, double now) {
    const auto c = p.countersAt(now);
    return wordPair(c[0], c[1]);
  });
}

// --- the value buffer --------------------------------------------------------------------------------

void AoFirmware::registerBuffer() {
  using namespace aocmd;
  using R = const Request&;
  route(INIT_AO_BUFFER, kPortOnly, [](R, AoPort& p, double) {
    p.buffer.clear();
    Bytes out;
    appendBE(out, static_cast<std::uint32_t>(kAoBufferValues));
    out.push_back(status::kOk);
    return out;
  });
  route(SET_AO_PUSH_TO_BUFFER, kSettingHeader, [](R r, AoPort& p, double) -> Bytes {
    const std::size_t n = r.payload[2];
    if (r.payload.size() < kSettingHeader + n * kF32) return {status::kParser};
    if (p.buffer.size() + n > kAoBufferValues) return {status::kAo};
    for (std::size_t i = 0; i < n; ++i) p.buffer.push_back(f32At(r, kSettingHeader + i * kF32));
    return {status::kOk};
  }, true);
}

// --- controls ----------------------------------------------------------------------------------------

const AoPort& AoFirmware::known(int port) const {
  const auto it = bank_->ports.find(port);
  if (it == bank_->ports.end()) throw std::invalid_argument("no analog output port " + std::to_string(port));
  return it->second;
}

std::vector<int> AoFirmware::ports() const {
  std::lock_guard lock(bank_->m);
  std::vector<int> out;
  for (const auto& entry : bank_->ports) out.push_back(entry.first);
  return out;
}

AoPort AoFirmware::port(int port) const {
  std::lock_guard lock(bank_->m);
  return known(port);
}

AoState AoFirmware::state(int port) const {
  const double now = fw_->time().now();
  std::lock_guard lock(bank_->m);
  return known(port).stateAt(now);
}

std::array<double, kAoChannels> AoFirmware::outputs(int port) const {
  const double now = fw_->time().now();
  std::lock_guard lock(bank_->m);
  const AoPort& p = known(port);
  std::array<double, kAoChannels> out{};
  for (int ch = 0; ch < kAoChannels; ++ch) out[static_cast<std::size_t>(ch)] = p.outputAt(ch, now);
  return out;
}

std::array<std::uint64_t, 2> AoFirmware::counters(int port) const {
  const double now = fw_->time().now();
  std::lock_guard lock(bank_->m);
  return known(port).countersAt(now);
}

std::vector<AoSetter> AoFirmware::setters(int port) const {
  std::lock_guard lock(bank_->m);
  known(port);
  const auto it = bank_->setters.find(port);
  return it == bank_->setters.end() ? std::vector<AoSetter>{} : std::vector<AoSetter>(it->second.begin(), it->second.end());
}

void AoFirmware::setWiredToInputs(bool on) {
  auto* ai = fw_->findModule<AiFirmware>();
  if (!ai) throw std::invalid_argument(fw_->product().class_name + " has no analog inputs to wire the outputs to");
  const std::vector<int> inputs = ai->ports();
  for (int port : ports()) {
    if (std::find(inputs.begin(), inputs.end(), port) == inputs.end()) continue;
    for (int ch = 0; ch < kAoChannels; ++ch)
      ai->setWired(port, 0, ch, on ? std::make_shared<OutputSignal>(bank_, port, ch) : nullptr);
  }
  wired_ = on;
}

bool AoFirmware::wiredToInputs() const { return wired_; }

}  // namespace zelvo::sim
