// AOModule: construction, checks and the basic level (open, close, writes).
#include "zelvo/analog/ao_module.hpp"

#include <algorithm>

#include "zelvo/core/routing.hpp"
#include "zelvo/core/status_exchange.hpp"
#include "zelvo/system/pin_modes.hpp"
#include "zelvo/system/system_module.hpp"

namespace zelvo {
namespace {

constexpr int kMaxMode = 2;  // 0 on demand, 1 N samples, 2 continuous
constexpr int kMaxSpan = 4;  // 0..5 V, 0..10 V, +-5 V, +-10 V, +-2.5 V
constexpr int kFirstForm = 1;  // 1 rectangle, 2 triangle, 3 sine (0, a DC level, is not offered)
constexpr int kLastForm = 3;
constexpr std::size_t kStatusAt = 1;

}  // namespace

AOModule::AOModule(Device& dev, const AOData& data)
    : data_(data), unread_(dev, StreamKey{START_AO_STREAMING, 0, 0, 1}, Err::AOQueueOverflowWarning) {}

// --- queries and checks ----------------------------------------------------------------------------

std::vector<int> AOModule::getPort() const {
  std::vector<int> out;
  for (const auto& entry : data_.ao_dict) out.push_back(entry.first);
  return out;
}

std::vector<int> AOModule::pinMapPorts() const {
  std::vector<int> out;
  for (const auto& entry : pinsByDevicePort(data_.ao_dict)) out.push_back(entry.first);
  return out;
}

bool AOModule::checkPort(int port) const {
  if (!data_.ao_dict.contains(port)) throw Error(Err::AOPortNotAvaliableError);
  return true;
}

bool AOModule::checkMode(int mode) {
  if (mode < 0 || mode > kMaxMode) throw Error(Err::AOModeNotVaildError);
  return true;
}

bool AOModule::checkSpan(int span) {
  if (span < 0 || span > kMaxSpan) throw Error(Err::AOSpanNotVaildError);
  return true;
}

bool AOModule::checkChannel(int channel) {
  if (channel < 0 || channel >= kAOChannels) throw Error(Err::AOChannelNotAvaliableError);
  return true;
}

bool AOModule::checkForm(int form) {
  if (form < kFirstForm || form > kLastForm) throw Error(Err::AOFormNotAvaliableError);
  return true;
}

bool AOModule::checkSamplingRate(double rate) const {
  // A rate of zero or less cannot be generated either.
  if (!(rate > 0) || rate > data_.ao_rate) throw Error(Err::AORateNotVaildError);
  return true;
}

bool AOModule::checkNumOfValues(int n) { return n <= kAOMaxPushValues; }

void AOModule::checkVolts(double value) const {
  if (value < data_.ao_volt_min || value > data_.ao_volt_max)
    throw Error(Err::InputDataNotInRangeError, std::to_string(value) + " V is outside " + std::to_string(data_.ao_volt_min) +
                                                   " .. " + std::to_string(data_.ao_volt_max) + " V.");
}

int AOModule::wirePort(int port) const { return data_.slot_ports ? changeToKORUPort(port) : port; }

Op<int> AOModule::statusOf(Call& call, int cmd, Bytes payload, const char* operation) {
  return echoStatus(call, cmd, std::move(payload), kStatusAt, operation);
}

// --- basic level ---------------------------------------------------------------------------------

Op<bool> AOModule::checkPinState(Call& call, int, std::vector<std::string> allow_state) {
  co_await requireMapPinModes(call, data_.ao_dict, std::move(allow_state), Err::AOPortNotAvaliableError);
  co_return true;
}

Op<int> AOModule::open(Call& call, int port) {
  port = wirePort(port);
  checkPort(port);
  if (data_.opens_locally) co_return 0;
  if (data_.checks_pins_on_open) co_await checkPinState(call, port, std::vector<std::string>(1, kIdlePinMode));
  co_return co_await statusOf(call, OPEN_AO, payloadOf(port), "AO_open");
}

Op<int> AOModule::close(Call& call, int port) {
  port = wirePort(port);
  checkPort(port);
  if (data_.opens_locally) co_return 0;
  co_return co_await statusOf(call, CLOSE_AO, payloadOf(port), "AO_close");
}

Op<int> AOModule::writeOneChannel(Call& call, int port, int channel, double value) {
  port = wirePort(port);
  checkPort(port);
  checkChannel(channel);
  checkVolts(value);
  Bytes payload = payloadOf(port, channel);
  appendF32BE(payload, value);
  co_return co_await statusOf(call, WRITE_AO_BY_CHANNEL, std::move(payload), "AO_writeOneChannel");
}

Op<int> AOModule::writeAllChannels(Call& call, int port, std::vector<double> values) {
  port = wirePort(port);
  checkPort(port);
  for (double v : values) checkVolts(v);  // as given, before the list is brought to eight values
  values.resize(kAOChannels, 0.0);
  Bytes payload = payloadOf(port);
  for (double v : values) appendF32BE(payload, v);
  co_return co_await statusOf(call, WRITE_AO_SYNCHRONIZED, std::move(payload), "AO_writeAllChannels");
}

}  // namespace zelvo
