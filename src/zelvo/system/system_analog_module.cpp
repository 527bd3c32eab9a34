#include "zelvo/system/system_analog_module.hpp"

#include "zelvo/core/reply.hpp"
#include "zelvo/core/status_exchange.hpp"

namespace zelvo {
namespace {

constexpr double kThermoUnitsPerDegree = 128;  // the board thermometer counts 1/128 degree Celsius
constexpr std::size_t kAxes = 3;
constexpr std::size_t kResetStatusAt = 1;
constexpr int kResetPort = 0;

}  // namespace

SystemAnalogModule::SystemAnalogModule(Device&) {}

Op<int> SystemAnalogModule::readBattery(Call& call) {
  const Bytes r = co_await call.echo(GET_BATTERY, {});
  const int millivolts = Reply(r, "Wifi_readBattery").be<std::uint16_t>(0);
  std::lock_guard lock(m_);
  battery_ = millivolts;
  co_return millivolts;
}

Op<double> SystemAnalogModule::readThermo(Call& call) {
  const Bytes r = co_await call.echo(GET_THERMOMETER, {});
  const double celsius = Reply(r, "_Wifi_readThermo").be<std::int16_t>(0) / kThermoUnitsPerDegree;
  std::lock_guard lock(m_);
  thermo_ = celsius;
  co_return celsius;
}

Op<std::vector<int>> SystemAnalogModule::readAcceleration(Call& call) {
  const Bytes r = co_await call.echo(READ_ACCELERATION, {});
  const Reply reply(r, "_Wifi_readAcceleration");
  std::vector<int> axes;
  for (std::size_t i = 0; i < kAxes; ++i) axes.push_back(reply.be<std::uint16_t>(2 * i));
  co_return axes;
}

Op<int> SystemAnalogModule::resetAIBuffer(Call& call) {
  co_return co_await echoStatus(call, AI_RESET_BUFFER, payloadOf(kResetPort), kResetStatusAt, "_Wifi_resetAIBuffer");
}

std::optional<int> SystemAnalogModule::battery() const {
  std::lock_guard lock(m_);
  return battery_;
}

std::optional<double> SystemAnalogModule::thermo() const {
  std::lock_guard lock(m_);
  return thermo_;
}

}  // namespace zelvo
