#include "zelvo/sim/pwm_firmware.hpp"

#include <cmath>
#include <stdexcept>
#include <string>

#include "zelvo/sim/channel_routes.hpp"

namespace zelvo::sim {
namespace {

constexpr Byte kNoChannel = 11;   // pin index error
constexpr Byte kPwmStatus = 25;   // the PWM peripheral refuses
constexpr double kMaxFrequency = 1e6;
constexpr double kMaxDutyCycle = 100;
constexpr std::size_t kChannelOnly = 1;
constexpr std::size_t kChannelAndReal = 5;

double realAt1(const Request& r) { return readF32BE(ByteView(r.payload).subspan(1)); }

}  // namespace

void PwmFirmware::install(Firmware& fw) {
  fw_ = &fw;
  using namespace pwmcmd;
  auto route = [&](int code, std::size_t need, auto body) {
    routeChannel(fw, code, need, kChannels, kNoChannel,
                 [this, body](const Request& r, int n) -> ChannelOutcome { return body(r, channels_[n], n); });
  };
  using S = PwmChannelState&;
  using R = const Request&;
  route(OPEN_PWM, kChannelOnly, [](R, S c, int) -> ChannelOutcome {
    c.open = true;
    return status::kOk;
  });
  route(START_PWM, kChannelOnly, [this](R, S c, int n) -> ChannelOutcome {
    if (!c.open) return kPwmStatus;
    c.started = true;
    changed(n);
    return status::kOk;
  });
  route(STOP_PWM, kChannelOnly, [this](R, S c, int n) -> ChannelOutcome {
    c.started = false;
    changed(n);
    return status::kOk;
  });
  route(CLOSE_PWM, kChannelOnly, [this](R, S c, int n) -> ChannelOutcome {
    c.open = c.started = false;
    changed(n);
    return status::kOk;
  });
  route(SET_PWM_FREQUENCY, kChannelAndReal, [this](R r, S c, int n) -> ChannelOutcome {
    const double f = realAt1(r);
    if (!(f > 0 && f <= kMaxFrequency)) return kPwmStatus;
    c.frequency = f;
    changed(n);
    return status::kOk;
  });
  route(SET_PWM_DUTY_CYCLE, kChannelAndReal, [this](R r, S c, int n) -> ChannelOutcome {
    const double d = realAt1(r);
    if (!(d >= 0 && d <= kMaxDutyCycle)) return kPwmStatus;
    c.duty_cycle = d;
    changed(n);
    return status::kOk;
  });
}

void PwmFirmware::changed(int channel) {
  for (const Watcher& w : watchers_) w(channel);
}

void PwmFirmware::watch(Watcher w) {
  std::lock_guard lock(fw_->mutex());
  watchers_.push_back(std::move(w));
}

const PwmChannelState& PwmFirmware::known(int channel) const {
  if (channel < 0 || channel >= kChannels) throw std::invalid_argument("the device has no PWM channel " + std::to_string(channel));
  return channels_[static_cast<std::size_t>(channel)];
}

PwmChannelState PwmFirmware::state(int channel) const {
  std::lock_guard lock(fw_->mutex());
  return known(channel);
}

double PwmFirmware::outputFrequency(int channel) const {
  std::lock_guard lock(fw_->mutex());
  const PwmChannelState& c = known(channel);
  return c.open && c.started ? c.frequency : 0;
}

}  // namespace zelvo::sim
