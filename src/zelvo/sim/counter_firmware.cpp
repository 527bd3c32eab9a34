#include "zelvo/sim/counter_firmware.hpp"

#include <cmath>
#include <stdexcept>
#include <string>

#include "zelvo/sim/channel_routes.hpp"
#include "zelvo/sim/pwm_firmware.hpp"

namespace zelvo::sim {
namespace {

constexpr Byte kNoChannel = 11;     // pin index error
constexpr Byte kPulseStatus = 26;   // the pulse counter refuses
constexpr double kHalfPeriod = 0.5;
constexpr double kPercent = 100;
constexpr std::size_t kChannelOnly = 1;
constexpr std::size_t kChannelAndByte = 2;

std::int64_t wrap48(std::int64_t v) { return ((v % kPositionSpan) + kPositionSpan) % kPositionSpan; }

}  // namespace

void CounterFirmware::install(Firmware& fw) {
  fw_ = &fw;
  pwm_ = fw.findModule<PwmFirmware>();
  if (pwm_) pwm_->watch([this](int n) { refresh(n); });

  using namespace countercmd;
  auto route = [&](int code, std::size_t need, auto body) {
    routeChannel(fw, code, need, kChannels, kNoChannel,
                 [this, body](const Request& r, int n) -> ChannelOutcome { return body(r, channels_[n].s, n); });
  };
  using S = CounterChannelState&;
  using R = const Request&;
  route(PULSE_OPEN, kChannelOnly, [](R, S c, int) -> ChannelOutcome {
    c.open = true;
    return status::kOk;
  });
  route(PULSE_START, kChannelOnly, [this](R, S c, int n) -> ChannelOutcome {
    if (!c.open) return kPulseStatus;
    c.started = true;
    refresh(n);
    return status::kOk;
  });
  route(PULSE_STOP, kChannelOnly, [this](R, S c, int n) -> ChannelOutcome {
    c.started = false;
    refresh(n);
    return status::kOk;
  });
  route(PULSE_CLOSE, kChannelOnly, [this](R, S c, int n) -> ChannelOutcome {
    c.open = c.started = false;
    refresh(n);
    return status::kOk;
  });
  route(PULSE_SET_EDGE, kChannelAndByte, [this](R r, S c, int n) -> ChannelOutcome {
    if (r.payload[1] > 1) return kPulseStatus;
    c.rising = r.payload[1] == 1;
    refresh(n);
    return status::kOk;
  });
  route(PULSE_SET_VALUE, kChannelAndPosition, [this](R r, S, int n) -> ChannelOutcome {
    const std::int64_t v = positionField(r.payload);
    channels_[n].pulses.preset(now(), v);
    return status::kOk;
  });
  route(PULSE_SET_FRQ_WINDOW, kChannelAndReal, [](R r, S c, int) -> ChannelOutcome {
    const auto ms = windowField(r.payload);
    if (!ms) return kPulseStatus;
    c.window_ms = *ms;
    return status::kOk;
  });
  route(PULSE_READ, kChannelOnly, [this](R, S c, int n) -> ChannelOutcome {
    const Channel& ch = channels_[n];
    return readingBytes(position(ch), ch.pulses.averageRate(now(), c.window_ms / kMsPerSecond));
  });
}

double CounterFirmware::now() const { return fw_->time().now(); }

double CounterFirmware::sourceFrequency(int channel) const {
  const CounterChannelState& s = channels_[channel].s;
  if (!s.wired) return s.input;
  return pwm_ ? pwm_->outputFrequency(channel) : 0;
}

double CounterFirmware::sourceDuty(int channel) const {
  if (!channels_[channel].s.wired || !pwm_) return kHalfPeriod;
  return pwm_->state(channel).duty_cycle / kPercent;
}

void CounterFirmware::refresh(int channel) {
  Channel& c = channels_[channel];
  const double t = now();
  c.pulses.setRate(t, c.s.started ? sourceFrequency(channel) : 0);
  c.pulses.recount(t, c.s.rising ? 0 : sourceDuty(channel), 1);
}

std::int64_t CounterFirmware::position(const Channel& c) const { return wrap48(c.pulses.count(now())); }

// --- controls ------------------------------------------------------------------------------------

CounterFirmware::Channel& CounterFirmware::known(int channel) {
  if (channel < 0 || channel >= kChannels)
    throw std::invalid_argument("the device has no counter channel " + std::to_string(channel));
  return channels_[channel];
}

const CounterFirmware::Channel& CounterFirmware::known(int channel) const {
  return const_cast<CounterFirmware*>(this)->known(channel);
}

CounterChannelState CounterFirmware::state(int channel) const {
  std::lock_guard lock(fw_->mutex());
  const Channel& c = known(channel);
  CounterChannelState s = c.s;
  s.position = position(c);
  s.frequency = c.pulses.averageRate(now(), s.window_ms / kMsPerSecond);
  return s;
}

void CounterFirmware::setInput(int channel, double frequency) {
  if (!(frequency >= 0) || !std::isfinite(frequency)) throw std::invalid_argument("an input frequency is >= 0 and finite");
  std::lock_guard lock(fw_->mutex());
  known(channel).s.input = frequency;
  refresh(channel);
}

void CounterFirmware::wirePwm(int channel, bool wired) {
  std::lock_guard lock(fw_->mutex());
  if (wired && !pwm_) throw std::invalid_argument(fw_->product().class_name + " has no PWM output to wire");
  known(channel).s.wired = wired;
  refresh(channel);
}

void CounterFirmware::setPosition(int channel, std::int64_t position) {
  if (position < 0 || position >= kPositionSpan) throw std::invalid_argument("a counter position is 0..2**48-1");
  std::lock_guard lock(fw_->mutex());
  known(channel).pulses.preset(now(), position);
}

}  // namespace zelvo::sim
