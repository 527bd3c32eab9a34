#include "zelvo/sim/ahrs_firmware.hpp"

#include <cmath>
#include <functional>
#include <stdexcept>
#include <string>

namespace zelvo::sim {
namespace {

constexpr std::size_t kPortOnly = 1;
constexpr std::size_t kF32 = 4;
constexpr Byte kPinIndexStatus = 11;
// Mask bits of the estimate vectors, in the order their values go out.
constexpr Byte kOrientation = 1;
constexpr Byte kAngularVelocity = 4;
constexpr Byte kAcceleration = 16;

void appendVector(Bytes& out, const Vec3& v) {
  for (double x : v) appendF32BE(out, x);
}

// The f32 values of a request after the port byte.
std::vector<double> floatsAfterPort(const Request& r, std::size_t count) {
  std::vector<double> out;
  for (std::size_t i = 0; i < count; ++i) out.push_back(readF32BE(ByteView(r.payload).subspan(kPortOnly + i * kF32)));
  return out;
}

}  // namespace

void AhrsFirmware::install(Firmware& fw) {
  fw_ = &fw;
  for (const auto& entry : *fw.product().ahrs_dict) ports_[entry.first];
  using namespace ahrscmd;
  // [port, need - 1 more bytes] -> what the body answers after the port; `answers` false: no reply.
  using Body = std::function<Bytes(const Request&, AhrsPort&)>;
  auto route = [this, &fw](int code, std::size_t need, Body body, bool answers = true) {
    fw.registerHandler(code, [this, need, answers, body = std::move(body)](const Request& r) -> Replies {
      if (r.payload.size() < need) return answers ? answer(r, {status::kParser}) : Replies{};
      const auto it = ports_.find(r.payload[0]);
      if (it == ports_.end()) return answers ? answer(r, {r.payload[0], kPinIndexStatus}) : Replies{};
      advance(it->second, fw_->time().now());
      Bytes out{r.payload[0]};
      const Bytes tail = body(r, it->second);
      out.insert(out.end(), tail.begin(), tail.end());
      return answers ? answer(r, std::move(out)) : Replies{};
    });
  };
  route(AHRS_OPEN, kPortOnly, [](const Request&, AhrsPort& p) -> Bytes {
    p.open = true;
    return {status::kOk};
  });
  route(AHRS_CLOSE, kPortOnly, [](const Request&, AhrsPort& p) -> Bytes {
    p.open = p.started = false;
    return {status::kOk};
  });
  route(AHRS_START, kPortOnly, [](const Request&, AhrsPort& p) -> Bytes {
    p.started = p.open;
    return {};
  }, false);
  route(AHRS_STOP, kPortOnly, [](const Request&, AhrsPort& p) -> Bytes {
    p.started = false;
    return {status::kOk};
  });
  route(AHRS_RESET, kPortOnly, [](const Request&, AhrsPort& p) -> Bytes {
    p.attitude = Quaternion{};
    ++p.resets;
    return {status::kOk};
  });
  route(AHRS_SET_GNRL, kPortOnly + 3 * kF32, [](const Request& r, AhrsPort& p) -> Bytes {
    const auto v = floatsAfterPort(r, 3);
    p.gravity = v[0];
    p.dt = v[1];
    p.z_offset = v[2];
    return {status::kOk};
  });
  route(AHRS_VQF_SET_TAU, kPortOnly + 2 * kF32, [](const Request& r, AhrsPort& p) -> Bytes {
    const auto v = floatsAfterPort(r, 2);
    p.tau_acc = v[0];
    p.tau_mag = v[1];
    return {status::kOk};
  });
  route(AHRS_GET_ESTIMATES, kPortOnly + 1, [](const Request& r, AhrsPort& p) -> Bytes {
    if (!p.open) return {status::kNotEnabled};
    const Byte mask = r.payload[1];
    Bytes out{status::kOk};
    if (mask & kOrientation) appendVector(out, rollPitchYaw(p.attitude));
    if (mask & kAngularVelocity) appendVector(out, p.rate);
    if (mask & kAcceleration) appendVector(out, toBody(p.attitude, Vec3{0, 0, p.gravity}));
    return out;
  });
}

void AhrsFirmware::advance(AhrsPort& p, double now) {
  if (p.started) p.attitude = turned(p.attitude, p.rate, now - p.since);
  p.since = now;
}

AhrsPort& AhrsFirmware::known(int port) const {
  const auto it = ports_.find(port);
  if (it == ports_.end()) throw std::invalid_argument("no AHRS port " + std::to_string(port));
  return it->second;
}

std::vector<int> AhrsFirmware::ports() const {
  std::lock_guard lock(fw_->mutex());
  std::vector<int> out;
  for (const auto& entry : ports_) out.push_back(entry.first);
  return out;
}

void AhrsFirmware::setAngularRate(int port, const Vec3& rate) {
  for (double r : rate)
    if (!std::isfinite(r)) throw std::invalid_argument("an angular rate is a finite number of rad/s");
  std::lock_guard lock(fw_->mutex());
  AhrsPort& p = known(port);
  advance(p, fw_->time().now());  // the old rate up to now, the new one from now on
  p.rate = rate;
}

AhrsPort AhrsFirmware::port(int port) const {
  std::lock_guard lock(fw_->mutex());
  AhrsPort& p = known(port);
  advance(p, fw_->time().now());
  return p;
}

}  // namespace zelvo::sim
