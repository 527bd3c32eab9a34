#include "zelvo/analog/thermal_module.hpp"

#include "zelvo/analog/ai_convert.hpp"
#include "zelvo/core/reply.hpp"
#include "zelvo/system/pin_modes.hpp"

namespace zelvo {
namespace {

constexpr std::size_t kPortStatusAt = 1;     // open and close: [port, status]
constexpr std::size_t kChannelStatusAt = 2;  // per-channel settings: [port, channel, status]
constexpr std::size_t kValueAt = 2;          // per-channel values: [port, channel, f32]
constexpr int kSensorDecimals = 3;
constexpr int kMaxFilterMode = 1;    // 0 60 Hz, 1 50 Hz
constexpr int kMaxSamplingMode = 4;  // 1, 2, 4, 8 or 16 samples
constexpr int kMaxTCType = 7;        // B, E, J, K, N, R, S, T
constexpr int kMaxRTDType = 1;       // two- or four-wire, three-wire
// GET_THERMAL_STATUS's third byte: which status the firmware reports.
constexpr int kStatusFaultBits = 2;
constexpr int kStatusWhole = 1;
constexpr int kOpenCircuitBit = 1;

bool inRange(int v, int last) { return v >= 0 && v <= last; }

// Pin modes that let a thermal port open: unused, or plain digital I/O.
std::vector<std::string> openableModes() { return {kIdlePinMode, "DI", "DO"}; }

}  // namespace

ThermalModule::ThermalModule(Device&, const ThermalData& data) : data_(data) {}

std::vector<int> ThermalModule::pinMapPorts() const {
  std::vector<int> out;
  for (const auto& entry : pinsByDevicePort(data_.thermal_dict)) out.push_back(entry.first);
  return out;
}

// --- checks --------------------------------------------------------------------------------------

bool ThermalModule::checkPort(int port) const {
  if (!data_.thermal_dict.contains(port)) throw Error(Err::ThermalPortNotAvaliableError);
  return true;
}

bool ThermalModule::checkChipSelect(int channel) const {
  if (channel < 0 || channel >= data_.channels) throw Error(Err::ThermalChipSelectNotAvaliableError);
  return true;
}

bool ThermalModule::checkFilterMode(int mode) {
  if (!inRange(mode, kMaxFilterMode)) throw Error(Err::ThermalModeNotVaildError);
  return true;
}

bool ThermalModule::checkSamplingMode(int mode) {
  if (!inRange(mode, kMaxSamplingMode)) throw Error(Err::ThermalModeNotVaildError);
  return true;
}

bool ThermalModule::checkTCType(int type) {
  if (!inRange(type, kMaxTCType)) throw Error(Err::ThermalTypeNotVaildError);
  return true;
}

bool ThermalModule::checkRTDType(int type) {
  if (!inRange(type, kMaxRTDType)) throw Error(Err::ThermalTypeNotVaildError);
  return true;
}

void ThermalModule::checkChannel(int port, int channel) const {
  checkPort(port);
  checkChipSelect(channel);
}

Op<bool> ThermalModule::checkPinState(Call& call, int, std::vector<std::string> allow_state) {
  co_await requireMapPinModes(call, data_.thermal_dict, std::move(allow_state), Err::ThermalPortNotAvaliableError);
  co_return true;
}

// --- exchanges -----------------------------------------------------------------------------------

Op<int> ThermalModule::statusOf(Call& call, int cmd, int port, int channel, Bytes extra, const char* operation) {
  checkChannel(port, channel);
  Bytes payload = payloadOf(port, channel);
  payload.insert(payload.end(), extra.begin(), extra.end());
  const Bytes r = co_await call.echo(cmd, std::move(payload));
  co_return Reply(r, operation).at(kChannelStatusAt);
}

Op<double> ThermalModule::valueOf(Call& call, int cmd, int port, int channel, const char* operation) {
  checkChannel(port, channel);
  const Bytes r = co_await call.echo(cmd, payloadOf(port, channel));
  co_return readF32BE(Reply(r, operation).span(kValueAt, sizeof(float)));
}

Op<int> ThermalModule::setTemperature(Call& call, int cmd, int port, int channel, double temperature,
                                      const char* operation) {
  checkChannel(port, channel);
  Bytes value;
  appendF32Field(value, temperature, "temperature");
  co_return co_await statusOf(call, cmd, port, channel, std::move(value), operation);
}

// --- both kinds ----------------------------------------------------------------------------------

Op<int> ThermalModule::open(Call& call, int port) {
  checkPort(port);
  if (data_.opens_locally) co_return 0;
  co_await checkPinState(call, port, openableModes());
  const Bytes r = co_await call.echo(OPEN_THERMAL, payloadOf(port));
  co_return Reply(r, "Thermal_open").at(kPortStatusAt);
}

Op<int> ThermalModule::close(Call& call, int port) {
  if (data_.opens_locally) co_return 0;
  checkPort(port);
  const Bytes r = co_await call.echo(CLOSE_THERMAL, payloadOf(port));
  co_return Reply(r, "Thermal_close").at(kPortStatusAt);
}

Op<double> ThermalModule::readSensor(Call& call, int port, int channel) {
  const double celsius = co_await valueOf(call, READ_THERMAL_COUPLE, port, channel, "Thermal_readSensor");
  co_return roundDecimal(celsius, kSensorDecimals);
}

Op<int> ThermalModule::getStatus(Call& call, int port, int channel) {
  const bool fault_bits = data_.status_open_circuit_only;
  const int status = co_await statusOf(call, GET_THERMAL_STATUS, port, channel,
                                       payloadOf(fault_bits ? kStatusFaultBits : kStatusWhole), "Thermal_getStatus");
  co_return fault_bits ? status & kOpenCircuitBit : status;
}

Op<int> ThermalModule::setNoiseFilter(Call& call, int port, int channel, int mode) {
  checkChannel(port, channel);
  checkFilterMode(mode);
  co_return co_await statusOf(call, SET_THERMAL_NOISE_FILTER, port, channel, payloadOf(mode), "_Thermal_setNoiseFilter");
}

Op<double> ThermalModule::readOffset(Call& call, int port, int channel) {
  co_return co_await valueOf(call, READ_THERMAL_OFFSET, port, channel, "_Thermal_readOffset");
}

Op<int> ThermalModule::writeOffset(Call& call, int port, int channel, double temperature) {
  co_return co_await setTemperature(call, WRITE_THERMAL_OFFSET, port, channel, temperature, "_Thermal_writeOffset");
}

Op<double> ThermalModule::loadOffset(Call& call, int port, int channel) {
  co_return co_await valueOf(call, LOAD_THERMAL_OFFSET, port, channel, "_Thermal_loadOffset");
}

Op<int> ThermalModule::saveOffset(Call& call, int port, int channel, double temperature) {
  co_return co_await setTemperature(call, SAVE_THERMAL_OFFSET, port, channel, temperature, "_Thermal_saveOffset");
}

// --- thermocouples -------------------------------------------------------------------------------

Op<int> ThermalModule::setOverSampling(Call& call, int port, int channel, int mode) {
  checkChannel(port, channel);
  checkSamplingMode(mode);
  co_return co_await statusOf(call, SET_THERMAL_OVER_SAMPLING, port, channel, payloadOf(mode), "Thermal_setOverSampling");
}

Op<int> ThermalModule::setTCType(Call& call, int port, int channel, int type) {
  checkChannel(port, channel);
  checkTCType(type);
  co_return co_await statusOf(call, SET_THERMAL_TYPE, port, channel, payloadOf(type), "Thermal_setType");
}

Op<double> ThermalModule::readJunction(Call& call, int port, int channel) {
  co_return co_await valueOf(call, READ_THERMAL_JUNCTION, port, channel, "_Thermal_readJunction");
}

Op<int> ThermalModule::setJunctionOn(Call& call, int port, int channel, bool on) {
  co_return co_await statusOf(call, SET_THERMAL_JUNCTION_ON, port, channel, payloadOf(on ? 1 : 0), "_Thermal_setJunctionOn");
}

Op<int> ThermalModule::writeJunction(Call& call, int port, int channel, double temperature) {
  co_return co_await setTemperature(call, WRITE_THERMAL_JUNCTION, port, channel, temperature, "_Thermal_writeJunction");
}

// --- resistance thermometers ---------------------------------------------------------------------

Op<int> ThermalModule::setRTDType(Call& call, int port, int channel, int type) {
  checkChannel(port, channel);
  checkRTDType(type);
  co_return co_await statusOf(call, SET_THERMAL_TYPE, port, channel, payloadOf(type), "Thermal_setType");
}

}  // namespace zelvo
