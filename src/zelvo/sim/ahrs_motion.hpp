// The rigid-body arithmetic of the emulated attitude sensor: orientation as a unit quaternion
// (body to world), turned by a body-frame angular rate, read out as roll, pitch and yaw (Z-Y-X
// order), and the world's gravity as the body's accelerometer sees it.
#pragma once

#include <array>

namespace zelvo::sim {

using Vec3 = std::array<double, 3>;

struct Quaternion {
  double w = 1, x = 0, y = 0, z = 0;
};

Quaternion multiply(const Quaternion& a, const Quaternion& b);
// The orientation after turning at body rate `rate` (rad/s, constant) for `seconds`.
Quaternion turned(const Quaternion& q, const Vec3& rate, double seconds);
// Roll (about x), pitch (about y), yaw (about z), radians.
Vec3 rollPitchYaw(const Quaternion& q);
// A world-frame vector in the body frame.
Vec3 toBody(const Quaternion& q, const Vec3& world);

}  // namespace zelvo::sim
