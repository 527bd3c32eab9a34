#include "zelvo/sim/ahrs_motion.hpp"

#include <algorithm>
#include <cmath>

namespace zelvo::sim {

Quaternion multiply(const Quaternion& a, const Quaternion& b) {
  return {a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z, a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
          a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x, a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w};
}

Quaternion turned(const Quaternion& q, const Vec3& rate, double seconds) {
  const double speed = std::sqrt(rate[0] * rate[0] + rate[1] * rate[1] + rate[2] * rate[2]);
  const double angle = speed * seconds;
  if (speed == 0 || angle == 0) return q;
  const double s = std::sin(angle / 2) / speed;
  Quaternion r = multiply(q, Quaternion{std::cos(angle / 2), rate[0] * s, rate[1] * s, rate[2] * s});
  // Renormalised: long runs of small steps must not let the length drift.
  const double n = std::sqrt(r.w * r.w + r.x * r.x + r.y * r.y + r.z * r.z);
  return {r.w / n, r.x / n, r.y / n, r.z / n};
}

Vec3 rollPitchYaw(const Quaternion& q) {
  const double roll = std::atan2(2 * (q.w * q.x + q.y * q.z), 1 - 2 * (q.x * q.x + q.y * q.y));
  const double pitch = std::asin(std::clamp(2 * (q.w * q.y - q.z * q.x), -1.0, 1.0));
  const double yaw = std::atan2(2 * (q.w * q.z + q.x * q.y), 1 - 2 * (q.y * q.y + q.z * q.z));
  return {roll, pitch, yaw};
}

Vec3 toBody(const Quaternion& q, const Vec3& world) {
  // q* v q, with v as a pure quaternion.
  const Quaternion conj{q.w, -q.x, -q.y, -q.z};
  const Quaternion r = multiply(multiply(conj, Quaternion{0, world[0], world[1], world[2]}), q);
  return {r.x, r.y, r.z};
}

}  // namespace zelvo::sim
