#include "zelvo/sim/thermal_firmware.hpp"

#include <cmath>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>

#include "zelvo/sim/ai_waveform.hpp"

namespace zelvo::sim {
namespace {

constexpr std::size_t kPortOnly = 1;
constexpr std::size_t kChannelHeader = 2;  // [port, channel]
constexpr std::size_t kF32 = 4;
constexpr int kTCTypeK = 3;
constexpr int kMaxTCType = 7;
constexpr int kMaxRTDType = 1;
constexpr int kMaxFilter = 1;
constexpr int kMaxOversampling = 4;
constexpr Byte kOpenCircuitBit = 1;

Bytes f32Bytes(double v) {
  Bytes out;
  appendF32BE(out, v);
  return out;
}

void requireFinite(double v, const char* what) {
  if (!std::isfinite(v)) throw std::invalid_argument(std::string(what) + " must be a finite number");
}

}  // namespace

double ThermalSignal::at(double t) const {
  const Waveform wobble{WaveKind::Noise, noise, 0, 0, seed};
  return celsius + drift * (t - since) + wobble.at(t);
}

void ThermalFirmware::install(Firmware& fw) {
  fw_ = &fw;
  const ProductSpec& prod = fw.product();
  thermocouple_ = prod.has(ModuleId::Thermocouple);
  channels_ = prod.thermal->channels;
  default_type_ = thermocouple_ ? kTCTypeK : 0;
  for (const auto& entry : prod.thermal->thermal_dict) {
    ThermalPort& p = ports_[entry.first];
    p.channels.resize(static_cast<std::size_t>(channels_));
    for (auto& c : p.channels) c.settings.type = default_type_;
  }
  fw.addRebootHook([this] { reboot(); });

  using namespace thermalcmd;
  // [port] -> [port, status]
  auto portCommand = [this, &fw](int code, bool open) {
    fw.registerHandler(code, [this, open](const Request& r) {
      if (r.payload.size() < kPortOnly) return answer(r, {status::kParser});
      const auto it = ports_.find(r.payload[0]);
      if (it == ports_.end()) return answer(r, {r.payload[0], status::kThermal});
      it->second.open = open;
      return answer(r, {r.payload[0], status::kOk});
    });
  };
  portCommand(OPEN_THERMAL, true);
  portCommand(CLOSE_THERMAL, false);

  // [port, channel, extra...] -> [port, channel, what the body returns]
  using Body = std::function<Bytes(ThermalPort&, ThermalChannel&, ByteView extra)>;
  auto channelCommand = [this, &fw](int code, std::size_t extra, bool thermocouple_only, Body body) {
    fw.registerHandler(code, [this, extra, thermocouple_only, body = std::move(body)](const Request& r) {
      if (r.payload.size() < kChannelHeader + extra) return answer(r, {status::kParser});
      Bytes out{r.payload[0], r.payload[1]};
      const auto it = ports_.find(r.payload[0]);
      if (thermocouple_only && !thermocouple_) {
        out.push_back(status::kNotEnabled);
      } else if (it == ports_.end() || r.payload[1] >= it->second.channels.size()) {
        out.push_back(status::kThermal);
      } else {
        const Bytes tail = body(it->second, it->second.channels[r.payload[1]], ByteView(r.payload).subspan(kChannelHeader));
        out.insert(out.end(), tail.begin(), tail.end());
      }
      return answer(r, std::move(out));
    });
  };
  // A setting of one byte, 0..last.
  auto byteSetting = [&](int code, bool thermocouple_only, int last, int ThermalSettings::*field) {
    channelCommand(code, 1, thermocouple_only, [last, field](ThermalPort&, ThermalChannel& c, ByteView v) -> Bytes {
      if (v[0] > last) return {status::kThermal};
      c.settings.*field = v[0];
      return {status::kOk};
    });
  };
  byteSetting(SET_THERMAL_TYPE, false, thermocouple_ ? kMaxTCType : kMaxRTDType, &ThermalSettings::type);
  byteSetting(SET_THERMAL_NOISE_FILTER, false, kMaxFilter, &ThermalSettings::filter);
  byteSetting(SET_THERMAL_OVER_SAMPLING, true, kMaxOversampling, &ThermalSettings::oversampling);
  channelCommand(SET_THERMAL_JUNCTION_ON, 1, true, [](ThermalPort&, ThermalChannel& c, ByteView v) -> Bytes {
    if (v[0] > 1) return {status::kThermal};
    c.settings.junction_on = v[0] == 1;
    return {status::kOk};
  });
  channelCommand(READ_THERMAL_COUPLE, 0, false,
                 [this](ThermalPort& p, ThermalChannel& c, ByteView) { return f32Bytes(reading(p, c)); });
  channelCommand(READ_THERMAL_JUNCTION, 0, true, [](ThermalPort& p, ThermalChannel& c, ByteView) {
    return f32Bytes(c.settings.junction_on ? p.cold_junction : c.settings.junction_written);
  });
  channelCommand(GET_THERMAL_STATUS, 1, false, [](ThermalPort&, ThermalChannel& c, ByteView) -> Bytes {
    return {c.open_circuit ? kOpenCircuitBit : Byte{0}};
  });
  channelCommand(READ_THERMAL_OFFSET, 0, false,
                 [](ThermalPort&, ThermalChannel& c, ByteView) { return f32Bytes(c.settings.offset); });
  channelCommand(LOAD_THERMAL_OFFSET, 0, false, [](ThermalPort&, ThermalChannel& c, ByteView) {
    c.settings.offset = c.saved_offset;
    return f32Bytes(c.settings.offset);
  });
  // Temperatures written: a finite single-precision value.
  auto temperatureSetting = [&](int code, bool thermocouple_only, std::function<void(ThermalChannel&, double)> set) {
    channelCommand(code, kF32, thermocouple_only, [set = std::move(set)](ThermalPort&, ThermalChannel& c, ByteView v) -> Bytes {
      const double celsius = readF32BE(v);
      if (!std::isfinite(celsius)) return {status::kThermal};
      set(c, celsius);
      return {status::kOk};
    });
  };
  temperatureSetting(WRITE_THERMAL_OFFSET, false, [](ThermalChannel& c, double v) { c.settings.offset = v; });
  temperatureSetting(SAVE_THERMAL_OFFSET, false, [](ThermalChannel& c, double v) { c.saved_offset = v; });
  temperatureSetting(WRITE_THERMAL_JUNCTION, true, [](ThermalChannel& c, double v) { c.settings.junction_written = v; });
}

double ThermalFirmware::reading(const ThermalPort& p, const ThermalChannel& c) const {
  double celsius = c.signal.at(fw_->time().now());
  if (thermocouple_ && !c.settings.junction_on) celsius += c.settings.junction_written - p.cold_junction;
  return celsius + c.settings.offset;
}

void ThermalFirmware::reboot() {
  for (auto& [number, p] : ports_) {
    p.open = false;
    for (auto& c : p.channels) {
      c.settings = ThermalSettings{};
      c.settings.type = default_type_;
      c.settings.offset = c.saved_offset;
    }
  }
}

// --- controls ------------------------------------------------------------------------------------

const ThermalPort& ThermalFirmware::known(int port) const {
  const auto it = ports_.find(port);
  if (it == ports_.end()) throw std::invalid_argument("no thermal port " + std::to_string(port));
  return it->second;
}

const ThermalChannel& ThermalFirmware::known(int port, int channel) const {
  const ThermalPort& p = known(port);
  if (channel < 0 || channel >= channels_)
    throw std::invalid_argument("no thermal channel " + std::to_string(channel) + " (0.." + std::to_string(channels_ - 1) + ")");
  return p.channels[static_cast<std::size_t>(channel)];
}

// The same lookups for a change (the state itself is not const).
ThermalPort& ThermalFirmware::known(int port) { return const_cast<ThermalPort&>(std::as_const(*this).known(port)); }
ThermalChannel& ThermalFirmware::known(int port, int channel) {
  return const_cast<ThermalChannel&>(std::as_const(*this).known(port, channel));
}

std::vector<int> ThermalFirmware::ports() const {
  std::lock_guard lock(fw_->mutex());
  std::vector<int> out;
  for (const auto& entry : ports_) out.push_back(entry.first);
  return out;
}

void ThermalFirmware::setTemperature(int port, int channel, const ThermalSignal& s) {
  requireFinite(s.celsius, "temperature");
  requireFinite(s.drift, "drift");
  requireFinite(s.noise, "noise");
  std::lock_guard lock(fw_->mutex());
  ThermalSignal& signal = known(port, channel).signal;
  signal = s;
  signal.since = fw_->time().now();
}

double ThermalFirmware::temperature(int port, int channel) const {
  std::lock_guard lock(fw_->mutex());
  return known(port, channel).signal.at(fw_->time().now());
}

void ThermalFirmware::setColdJunction(int port, double celsius) {
  requireFinite(celsius, "cold-junction temperature");
  std::lock_guard lock(fw_->mutex());
  known(port).cold_junction = celsius;
}

void ThermalFirmware::setOpenCircuit(int port, int channel, bool fault) {
  std::lock_guard lock(fw_->mutex());
  known(port, channel).open_circuit = fault;
}

ThermalPort ThermalFirmware::port(int port) const {
  std::lock_guard lock(fw_->mutex());
  return known(port);
}

}  // namespace zelvo::sim
