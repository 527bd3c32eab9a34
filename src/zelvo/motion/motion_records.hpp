// The host-side records of the motion modules: one MotionAxis per axis (the values later
// operations and the configuration file reuse) and the interpolation records. Each field list is
// written once (the X lists below) and gives the C++ members, their initial values and the Python
// attributes.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <utility>

#include "zelvo/motion/motion_settings.hpp"

namespace zelvo {

// X(name, initial, meaning)
#define ZELVO_MOTION_AXIS_FIELDS(X)                                                           \
  X(acceleration, 100000, "acceleration written to the chip")                                 \
  X(deceleration, 100000, "deceleration written to the chip")                                 \
  X(target_position, 0, "target of position moves")                                          \
  X(encoder_position, 0, "last value written by Motion_rstEncoderPosi")                       \
  X(velocity, 10000, "drive speed; its sign selects the direction of velocity moves")         \
  X(velocity_move_direction, 0, "direction of the running velocity move (0 forward, 1 back)") \
  X(jerk, 1, "jerk for S-curve acceleration")                                                 \
  X(search_velocity, 10000, "home search speed")                                              \
  X(search_accerleration, 100000, "home search acceleration")                                 \
  X(acceleration_mode, 0, "0 trapezoidal, otherwise S-curve")                                 \
  X(operation_mode, 0, "0 absolute position, 1 relative position, 2 velocity (continuous)")   \
  X(stop_decl, 0, "last stop mode")                                                           \
  X(stop, 0, "last instant-limit-stop setting")                                               \
  X(search_type, 0, "home search type")                                                       \
  X(destinate_position, 0, "not used by any operation")                                       \
  X(capture_type, 0, "position capture: which counter")                                       \
  X(capture_mode, 0, "position capture: which edge")                                          \
  X(breakpoint_mode, 0, "0 absolute, 1 relative to the logical position")                    \
  X(breakpoint_polarity, 1, "break-point output pulse polarity")                              \
  X(breakpoint_start_position, 0, "break-point comparison position")                          \
  X(breakpoint_pulse_width, 0, "break-point pulse width")                                     \
  X(breakpoint_pulse_period, 0, "break-point pulse period")                                   \
  X(breakpoint_pulse_number, 0, "break-point pulse count")

struct MotionAxis {
#define ZELVO_FIELD(name, initial, meaning) std::int64_t name = initial;
  ZELVO_MOTION_AXIS_FIELDS(ZELVO_FIELD)
#undef ZELVO_FIELD
  MotionSettings motion_dict;
};

#define ZELVO_LINEAR_INTERPOLATION_FIELDS(X)                          \
  X(main_axis, 0, "first axis (the one whose speed and ramp apply)") \
  X(main_dest, 0, "its destination")                                 \
  X(second_axis, 1, "second axis")                                   \
  X(second_dest, 1, "its destination")                               \
  X(third_axis, 2, "third axis")                                     \
  X(third_dest, 2, "its destination")                                \
  X(fourth_axis, 3, "fourth axis")                                   \
  X(fourth_dest, 3, "its destination")                               \
  X(speed, 1000, "drive speed")                                      \
  X(acceleration, 10000, "acceleration")                             \
  X(deceleration, 10000, "deceleration")                             \
  X(mode, 2, "number of axes: 2, 3 or 4")

#define ZELVO_CIRCULAR_INTERPOLATION_FIELDS(X)                    \
  X(main_axis, 0, "the smaller of the two axes")                 \
  X(second_axis, 1, "the other axis")                            \
  X(finish_point_x, 2, "finish point on the x axis")             \
  X(finish_point_y, 3, "finish point on the y axis")             \
  X(center_point_x, 0, "center on the x axis")                   \
  X(center_point_y, 0, "center on the y axis")                   \
  X(speed, 1000, "drive speed")                                  \
  X(acceleration, 10000, "acceleration")                         \
  X(deceleration, 10000, "deceleration")                         \
  X(direction, 0, "0 clockwise, 1 counter-clockwise")

#define ZELVO_HELICAL_INTERPOLATION_FIELDS(X)                                  \
  X(finish_point_axis1, 0, "finish point of axis 0")                          \
  X(finish_point_axis2, 0, "finish point of axis 1")                          \
  X(center_point_axis1, 0, "center of axis 0")                                \
  X(center_point_axis2, 0, "center of axis 1")                                \
  X(circular_direction, 0, "0 clockwise, 1 counter-clockwise")                \
  X(circular_speed, 0, "drive speed")                                         \
  X(enable_axis3, 1, "1: axis 2 follows the helix")                           \
  X(pitch_axis3, 0, "axis 2's travel per turn")                               \
  X(enable_axis4, 0, "1: axis 3 follows the helix")                           \
  X(pitch_axis4, 0, "axis 3's travel per turn")                               \
  X(rotation_number, 0, "full turns")                                         \
  X(calculation_result, 0, "the chip's helical calculation, sent with the start")

#define ZELVO_FIELD(name, initial, meaning) std::int64_t name = initial;
struct MotionLinearInterpolation {
  ZELVO_LINEAR_INTERPOLATION_FIELDS(ZELVO_FIELD)
};
struct MotionCircularInterpolation {
  ZELVO_CIRCULAR_INTERPOLATION_FIELDS(ZELVO_FIELD)
};
struct MotionHelicalInterpolation {
  ZELVO_HELICAL_INTERPOLATION_FIELDS(ZELVO_FIELD)
};
#undef ZELVO_FIELD

// A value shared by operations running on several threads (and by Python attribute access):
// every access holds its lock.
template <class T>
class Guarded {
 public:
  template <class F>
  decltype(auto) with(F&& f) {
    std::lock_guard lock(m_);
    return std::forward<F>(f)(value_);
  }
  template <class F>
  decltype(auto) with(F&& f) const {
    std::lock_guard lock(m_);
    return std::forward<F>(f)(value_);
  }
  T snapshot() const {
    std::lock_guard lock(m_);
    return value_;
  }

 private:
  mutable std::mutex m_;
  T value_{};
};

}  // namespace zelvo
