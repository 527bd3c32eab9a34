// AHRS: the orientation, acceleration and angular velocity the sensor fusion in the firmware
// estimates. The host opens the sensor, tunes the fusion filter, starts and stops it, and polls the
// present estimates. Orientation leaves the firmware in radians and reaches the application in
// degrees.
#pragma once

#include <vector>

#include "zelvo/catalogue/catalogue.hpp"
#include "zelvo/core/call.hpp"
#include "zelvo/core/unread_stream.hpp"

namespace zelvo {

// Command codes: core/command_table.def; AHRS_START is a stream code (routing.hpp). The firmware
// also knows these, which no operation sends.
inline constexpr int AHRS_VQF_SET_ENABLING = 9235;
inline constexpr int AHRS_VQF_SET_GYRO_BIAS = 9236;
inline constexpr int AHRS_VQF_SET_REST_DETECT = 9237;
inline constexpr int AHRS_VQF_SET_MAG_DETECT = 9238;
inline constexpr int AHRS_VQF_SET_MAG_REF = 9239;
inline constexpr int AHRS_VQF_SET_MAG_REJECT = 9240;
inline constexpr int AHRS_DEBUG = 9248;
inline constexpr int AHRS_GET_RAW_DATA = 9249;
inline constexpr int AHRS_GET_COUNTER = 9251;

// Fusion settings AHRS_open applies.
inline constexpr double kAHRSGravity = 9.81;
inline constexpr double kAHRSSamplingPeriod = 0.003;
inline constexpr double kAHRSZOffset = 0.001;

class AHRSModule {
 public:
  AHRSModule(Device& dev, const PairMap& ahrs_dict);

  bool checkPort(int port) const;
  static bool checkMode(int mode);
  // Mask bits of the vectors a mode selects (any mode outside 0..6 selects all three).
  static int modeToMask(int mode);

  Op<int> open(Call& call, int port);
  Op<int> start(Call& call, int port);
  Op<int> stop(Call& call, int port);
  Op<int> close(Call& call, int port);
  Op<int> reset(Call& call, int port);
  Op<std::vector<double>> getOrientation(Call& call, int port);  // degrees
  Op<std::vector<double>> getAcceleration(Call& call, int port);
  Op<std::vector<double>> getAngularVelocity(Call& call, int port);
  Op<std::vector<double>> getEstimate(Call& call, int port, int mode);
  Op<int> setSamplingPeriod(Call& call, int port, double sampling_period);
  Op<int> setGeneral(Call& call, int port, double gravity, double dt, double z_offset);
  Op<int> setTau(Call& call, int port, double accelerator_decay_time, double magnetometer_decay_time);

  // Packets the device sent under AHRS_START that were dropped (the queue nobody reads was full).
  std::uint64_t droppedStreamPackets() const { return unread_.dropped(); }

 private:
  Op<int> portCommand(Call& call, int cmd, int port, const char* operation);
  // The values of an estimate request, the orientation (if selected) converted to degrees.
  Op<std::vector<double>> estimate(Call& call, int port, int mask, const char* operation);

  const PairMap& dict_;
  UnreadStream unread_;
};

}  // namespace zelvo
