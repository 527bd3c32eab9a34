#include "zelvo/sim/encoder_firmware.hpp"

#include <cmath>
#include <stdexcept>

#include "zelvo/sim/channel_routes.hpp"

namespace zelvo::sim {
namespace {

constexpr int kChannels = 1;
constexpr Byte kNoChannel = 11;      // pin index error
constexpr Byte kEncoderStatus = 27;  // the encoder refuses
constexpr Byte kForward = 1;
constexpr Byte kReverse = 255;
constexpr std::int64_t kSignedLimit = kPositionSpan / 2;
constexpr std::size_t kChannelOnly = 1;
constexpr std::size_t kChannelAndByte = 2;

// Into -2^47..2^47-1, as a 48-bit two's complement counter wraps.
std::int64_t wrapSigned48(std::int64_t v) {
  std::int64_t u = ((v % kPositionSpan) + kPositionSpan) % kPositionSpan;
  return u >= kSignedLimit ? u - kPositionSpan : u;
}

}  // namespace

void EncoderFirmware::install(Firmware& fw) {
  fw_ = &fw;
  using namespace encodercmd;
  auto route = [&](int code, std::size_t need, auto body) {
    routeChannel(fw, code, need, kChannels, kNoChannel,
                 [this, body](const Request& r, int) -> ChannelOutcome { return body(r, s_); });
  };
  using S = EncoderState&;
  using R = const Request&;
  route(ENCODER_OPEN, kChannelOnly, [](R, S s) -> ChannelOutcome {
    s.open = true;
    return status::kOk;
  });
  route(ENCODER_START, kChannelOnly, [this](R, S s) -> ChannelOutcome {
    if (!s.open) return kEncoderStatus;
    s.started = true;
    refresh();
    return status::kOk;
  });
  route(ENCODER_STOP, kChannelOnly, [this](R, S s) -> ChannelOutcome {
    s.started = false;
    refresh();
    return status::kOk;
  });
  route(ENCODER_CLOSE, kChannelOnly, [this](R, S s) -> ChannelOutcome {
    s.open = s.started = false;
    refresh();
    return status::kOk;
  });
  route(ENCODER_SET_DIR, kChannelAndByte, [this](R r, S s) -> ChannelOutcome {
    if (r.payload[1] != kForward && r.payload[1] != kReverse) return kEncoderStatus;
    s.reversed = r.payload[1] == kReverse;
    refresh();
    return status::kOk;
  });
  route(ENCODER_GET_DIR, kChannelOnly, [](R, S s) -> ChannelOutcome { return Bytes{s.reversed ? kReverse : kForward}; });
  route(ENCODER_SET_VALUE, kChannelAndPosition, [this](R r, S) -> ChannelOutcome {
    const std::int64_t v = positionField(r.payload);
    pulses_.preset(now(), wrapSigned48(v));
    return status::kOk;
  });
  route(ENCODER_SET_FRQ_WINDOW, kChannelAndReal, [](R r, S s) -> ChannelOutcome {
    const auto ms = windowField(r.payload);
    if (!ms) return kEncoderStatus;
    s.window_ms = *ms;
    return status::kOk;
  });
  route(ENCODER_READ, kChannelOnly, [this](R, S s) -> ChannelOutcome {
    return readingBytes(position(), std::fabs(pulses_.averageRate(now(), s.window_ms / kMsPerSecond)));
  });
}

double EncoderFirmware::now() const { return fw_->time().now(); }

void EncoderFirmware::refresh() {
  const double t = now();
  pulses_.setRate(t, s_.started ? s_.velocity : 0);
  pulses_.recount(t, 0, s_.reversed ? -1 : 1);
}

std::int64_t EncoderFirmware::position() const { return wrapSigned48(pulses_.count(now())); }

EncoderState EncoderFirmware::state() const {
  std::lock_guard lock(fw_->mutex());
  EncoderState s = s_;
  s.position = position();
  s.frequency = std::fabs(pulses_.averageRate(now(), s.window_ms / kMsPerSecond));
  return s;
}

void EncoderFirmware::setVelocity(double counts_per_second) {
  if (!std::isfinite(counts_per_second)) throw std::invalid_argument("a velocity is finite");
  std::lock_guard lock(fw_->mutex());
  s_.velocity = counts_per_second;
  refresh();
}

void EncoderFirmware::setPosition(std::int64_t position) {
  if (position < -kSignedLimit || position >= kSignedLimit)
    throw std::invalid_argument("an encoder position is -2**47..2**47-1");
  std::lock_guard lock(fw_->mutex());
  pulses_.preset(now(), position);
}

}  // namespace zelvo::sim
