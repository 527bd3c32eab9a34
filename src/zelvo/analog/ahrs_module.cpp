#include "zelvo/analog/ahrs_module.hpp"

#include <array>
#include <numbers>

#include "zelvo/analog/ai_convert.hpp"
#include "zelvo/core/reply.hpp"
#include "zelvo/core/routing.hpp"
#include "zelvo/core/status_exchange.hpp"

namespace zelvo {
namespace {

constexpr std::size_t kStatusAt = 1;
constexpr std::size_t kValuesAt = 2;
constexpr int kDecimals = 4;
constexpr int kStartFlag = 0;  // the second byte of the start request
constexpr std::size_t kAxes = 3;
// Mask bits of the three vectors, in the order their values arrive.
constexpr int kOrientation = 1;
constexpr int kAngularVelocity = 4;
constexpr int kAcceleration = 16;
constexpr int kAll = kOrientation | kAngularVelocity | kAcceleration;
constexpr std::array<int, 7> kModeMasks = {kOrientation,
                                           kAcceleration,
                                           kAngularVelocity,
                                           kOrientation | kAcceleration,
                                           kOrientation | kAngularVelocity,
                                           kAngularVelocity | kAcceleration,
                                           kAll};

double degrees(double radians) { return radians * 180 / std::numbers::pi; }

std::size_t vectorsIn(int mask) {
  return static_cast<std::size_t>((mask & kOrientation ? 1 : 0) + (mask & kAngularVelocity ? 1 : 0) +
                                  (mask & kAcceleration ? 1 : 0));
}

}  // namespace

AHRSModule::AHRSModule(Device& dev, const PairMap& ahrs_dict)
    : dict_(ahrs_dict), unread_(dev, StreamKey{AHRS_START, 0, 0, 1}, Err::AHRSQueueOverflowWarning) {}

bool AHRSModule::checkPort(int port) const {
  if (!dict_.contains(port)) throw Error(Err::AHRSPortNotAvaliableError);
  return true;
}

bool AHRSModule::checkMode(int mode) {
  if (mode < 0 || mode >= static_cast<int>(kModeMasks.size())) throw Error(Err::AHRSModeNotAvaliableError);
  return true;
}

int AHRSModule::modeToMask(int mode) {
  return mode >= 0 && mode < static_cast<int>(kModeMasks.size()) ? kModeMasks[static_cast<std::size_t>(mode)] : kAll;
}

Op<int> AHRSModule::portCommand(Call& call, int cmd, int port, const char* operation) {
  checkPort(port);
  co_return co_await echoStatus(call, cmd, payloadOf(port), kStatusAt, operation);
}

Op<int> AHRSModule::open(Call& call, int port) {
  checkPort(port);
  const Bytes r = co_await call.echo(AHRS_OPEN, payloadOf(port));
  const Reply reply(r, "AHRS_open");
  // The filter settings are applied only when the open succeeded; their own result is not reported.
  if (reply.at(kStatusAt) == 0) (void)co_await setSamplingPeriod(call, port, kAHRSSamplingPeriod);
  co_return reply.status(kStatusAt);
}

Op<int> AHRSModule::start(Call& call, int port) {
  checkPort(port);
  call.sendOnly(AHRS_START, payloadOf(port, kStartFlag));
  co_return 0;
}

Op<int> AHRSModule::stop(Call& call, int port) { co_return co_await portCommand(call, AHRS_STOP, port, "AHRS_stop"); }
Op<int> AHRSModule::close(Call& call, int port) { co_return co_await portCommand(call, AHRS_CLOSE, port, "AHRS_close"); }
Op<int> AHRSModule::reset(Call& call, int port) { co_return co_await portCommand(call, AHRS_RESET, port, "AHRS_reset"); }

Op<std::vector<double>> AHRSModule::estimate(Call& call, int port, int mask, const char* operation) {
  checkPort(port);
  const Bytes r = co_await call.echo(AHRS_GET_ESTIMATES, payloadOf(port, mask));
  // Exactly the values of the vectors asked for: a reply that holds fewer is a short reply.
  const std::size_t count = vectorsIn(mask) * kAxes;
  const ByteView values = Reply(r, operation).span(kValuesAt, count * sizeof(float));
  std::vector<double> out;
  out.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const double v = readF32BE(values.subspan(i * sizeof(float)));
    const bool angle = (mask & kOrientation) && i < kAxes;  // the orientation comes first
    out.push_back(roundDecimal(angle ? degrees(v) : v, kDecimals));
  }
  co_return out;
}

Op<std::vector<double>> AHRSModule::getOrientation(Call& call, int port) {
  co_return co_await estimate(call, port, kOrientation, "AHRS_getOrientation");
}

Op<std::vector<double>> AHRSModule::getAcceleration(Call& call, int port) {
  co_return co_await estimate(call, port, kAcceleration, "AHRS_getAcceleration");
}

Op<std::vector<double>> AHRSModule::getAngularVelocity(Call& call, int port) {
  co_return co_await estimate(call, port, kAngularVelocity, "AHRS_getAngularVelocity");
}

Op<std::vector<double>> AHRSModule::getEstimate(Call& call, int port, int mode) {
  checkPort(port);
  checkMode(mode);
  co_return co_await estimate(call, port, modeToMask(mode), "AHRS_getEstimate");
}

Op<int> AHRSModule::setSamplingPeriod(Call& call, int port, double sampling_period) {
  co_return co_await setGeneral(call, port, kAHRSGravity, sampling_period, kAHRSZOffset);
}

Op<int> AHRSModule::setGeneral(Call& call, int port, double gravity, double dt, double z_offset) {
  checkPort(port);
  Bytes payload = payloadOf(port);
  appendF32Field(payload, gravity, "gravity");
  appendF32Field(payload, dt, "dt");
  appendF32Field(payload, z_offset, "z_offset");
  co_return co_await echoStatus(call, AHRS_SET_GNRL, std::move(payload), kStatusAt, "_AHRS_setGeneral");
}

Op<int> AHRSModule::setTau(Call& call, int port, double accelerator_decay_time, double magnetometer_decay_time) {
  checkPort(port);
  Bytes payload = payloadOf(port);
  appendF32Field(payload, accelerator_decay_time, "accelerator_decay_time");
  appendF32Field(payload, magnetometer_decay_time, "magnetometer_decay_time");
  co_return co_await echoStatus(call, AHRS_VQF_SET_TAU, std::move(payload), kStatusAt, "_AHRS_VQF_setTau");
}

}  // namespace zelvo
