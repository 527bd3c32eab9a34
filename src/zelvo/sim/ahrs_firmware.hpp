// The attitude sensor's firmware side (Aeris-R3-AH).
//
// Model of the device:
// - While started, the orientation turns at the body angular rate tests set (held constant between
//   changes), integrated exactly on the device's time; stopping freezes it, reset puts it back to
//   level with yaw 0.
// - Estimates: orientation as roll, pitch, yaw (radians), angular velocity as the rate set (rad/s),
//   acceleration as the world's gravity (0, 0, gravity) seen in the body frame.
// - AHRS_START is answered by nothing: its code is a stream code, and this firmware streams no
//   packets under it.
// - Replies: [port, status]; estimates [port, status, f32 values in mask-bit order]. A port the
//   product lacks: [port, 11]; estimates while the sensor is not open: [port, 10] without values; a
//   request too short: [80].
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "zelvo/sim/ahrs_motion.hpp"
#include "zelvo/sim/firmware.hpp"

namespace zelvo::sim {

// Command codes, under the names the library gives them.
namespace ahrscmd {
inline constexpr int AHRS_OPEN = 9216;
inline constexpr int AHRS_START = 9217;
inline constexpr int AHRS_STOP = 9218;
inline constexpr int AHRS_CLOSE = 9219;
inline constexpr int AHRS_RESET = 9232;
inline constexpr int AHRS_SET_GNRL = 9233;
inline constexpr int AHRS_VQF_SET_TAU = 9234;
inline constexpr int AHRS_GET_ESTIMATES = 9250;
}  // namespace ahrscmd

struct AhrsPort {
  bool open = false;
  bool started = false;
  double gravity = 9.81;
  double dt = 0.003;
  double z_offset = 0;
  double tau_acc = 3.0;
  double tau_mag = 9.0;
  Vec3 rate{};           // body angular rate, rad/s
  Quaternion attitude;   // as of `since`
  double since = 0;      // device time
  std::uint64_t resets = 0;
};

class AhrsFirmware final : public FirmwareModule {
 public:
  void install(Firmware& fw) override;

  // Controls, callable from any thread; a port the product lacks or a non-finite rate raises
  // std::invalid_argument.
  std::vector<int> ports() const;
  void setAngularRate(int port, const Vec3& rate);
  // The port's state with the orientation brought up to the device's present time.
  AhrsPort port(int port) const;

 private:
  // Brings the orientation up to `now`.
  static void advance(AhrsPort& p, double now);
  AhrsPort& known(int port) const;

  Firmware* fw_ = nullptr;
  mutable std::map<int, AhrsPort> ports_;  // under the firmware's lock
};

}  // namespace zelvo::sim
