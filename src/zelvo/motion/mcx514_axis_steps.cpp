// The internal register-level operations: each checks port and axis, records its values in the
// axis record and writes its registers; several public operations are made of them.
#include <algorithm>
#include <cmath>
#include <utility>

#include "zelvo/motion/mcx514_bits.hpp"
#include "zelvo/motion/mcx514_checks.hpp"
#include "zelvo/motion/mcx514_module.hpp"

namespace zelvo {
namespace {

using namespace mcx514;

// The initial speed of a ramp with this acceleration (which must be at least 1).
std::int64_t initialSpeedFor(std::int64_t acceleration) {
  checkRate(acceleration, "acceleration");
  return static_cast<std::int64_t>(std::sqrt(static_cast<double>(acceleration)) * kInitialSpeedFactor);
}

std::int64_t magnitude(std::int64_t v) { return v < 0 ? -v : v; }

}  // namespace

Op<int> MCX514Module::setAxisModeAndDirection(Call& call, int port, int axis, int stepper_output,
                                              int axis_direction) {
  checkPortAndAxis(port, axis);
  note(axis, Setting::InverseMotionDirection, axis_direction);
  const int dir = axis_direction & 1;
  BitEdit e;
  e.bit(wr3::kManualDeceleration, 0).bit(wr3::kAsymmetric, 0).bit(wr3::kSCurve, 0).bit(wr3::kPulseLevel, 0);
  if (stepper_output == 0)
    e.bit(wr3::kPulseMode0, 1).bit(wr3::kPulseMode1, 1).bit(wr3::kOnePulseDirection, dir).bit(wr3::kTwoPulseDirection, 0);
  else
    e.bit(wr3::kPulseMode0, 0).bit(wr3::kPulseMode1, 0).bit(wr3::kOnePulseDirection, 0).bit(wr3::kTwoPulseDirection, dir);
  co_return co_await editWR3(call, port, axis, e);
}

Op<int> MCX514Module::axisModeFromRecord(Call& call, int port, int axis) {
  const MotionSettings s = axisRecord(axis).motion_dict;
  co_return co_await setAxisModeAndDirection(call, port, axis, static_cast<int>(s.integer(Setting::StepperOutput)),
                                             static_cast<int>(s.integer(Setting::InverseMotionDirection)));
}

Op<int> MCX514Module::setEncoderDirection(Call& call, int port, int axis, int encoder_direction) {
  checkPortAndAxis(port, axis);
  note(axis, Setting::InverseEncoderDirection, encoder_direction);
  co_return co_await editWR3(call, port, axis, BitEdit().bit(wr3::kEncoderInverse, encoder_direction));
}

Op<int> MCX514Module::setLimitEnable(Call& call, int port, int axis, int forward_enable, int reverse_enable) {
  checkPortAndAxis(port, axis);
  note(axis, Setting::ForwardEnable, forward_enable);
  note(axis, Setting::ReverseEnable, reverse_enable);
  co_return co_await editWR2(
      call, port, axis, BitEdit().bit(wr2::kLimitEnable, forward_enable | reverse_enable).bit(wr2::kLimitInstantStop, 0));
}

// A setting held in one bit of WR2: recorded in the axis record, then that bit edited.
Op<int> MCX514Module::wr2Setting(Call& call, int port, int axis, Setting setting, int bit, int value) {
  checkPortAndAxis(port, axis);
  note(axis, setting, value);
  co_return co_await editWR2(call, port, axis, BitEdit().bit(bit, value));
}

Op<int> MCX514Module::setLimitPolarity(Call& call, int port, int axis, int limit_polarity) {
  checkPortAndAxis(port, axis);
  note(axis, Setting::ForwardPolarity, limit_polarity);
  note(axis, Setting::ReversePolarity, limit_polarity);
  co_return co_await editWR2(call, port, axis, BitEdit().bit(wr2::kLimitLevel, limit_polarity));
}

Op<int> MCX514Module::setHomeLimitEnable(Call& call, int port, int axis, int home_enable) {
  return wr2Setting(call, port, axis, Setting::HomeEnable, wr2::kHomeEnable, home_enable);
}

Op<int> MCX514Module::setHomePolarity(Call& call, int port, int axis, int home_polarity) {
  return wr2Setting(call, port, axis, Setting::HomePolarity, wr2::kHomeLevel, home_polarity);
}

Op<int> MCX514Module::setInpositionLimitEnable(Call& call, int port, int axis, int inposition_enable) {
  return wr2Setting(call, port, axis, Setting::InpositionEnable, wr2::kInpositionEnable, inposition_enable);
}

Op<int> MCX514Module::setInpositionPolarity(Call& call, int port, int axis, int inposition_polarity) {
  return wr2Setting(call, port, axis, Setting::InpositionPolarity, wr2::kInpositionLevel, inposition_polarity);
}

Op<int> MCX514Module::setAlarmLimitEnable(Call& call, int port, int axis, int alarm_enable) {
  return wr2Setting(call, port, axis, Setting::AlarmEnable, wr2::kAlarmEnable, alarm_enable);
}

Op<int> MCX514Module::setAlarmPolarity(Call& call, int port, int axis, int alarm_polarity) {
  return wr2Setting(call, port, axis, Setting::AlarmPolarity, wr2::kAlarmLevel, alarm_polarity);
}

Op<int> MCX514Module::setInstantLimitStop(Call& call, int port, int axis, int stop) {
  checkPortAndAxis(port, axis);
  withAxis(axis, [&](MotionAxis& a) { a.stop = stop; });
  co_return co_await editWR2(call, port, axis, BitEdit().bit(wr2::kLimitInstantStop, stop));
}

Op<int> MCX514Module::writeTargetPosition(Call& call, int port, int axis, std::int64_t target_position) {
  checkPortAndAxis(port, axis);
  checkI32(target_position, "target_position");
  withAxis(axis, [&](MotionAxis& a) { a.target_position = target_position; });
  co_return co_await put(call, port, MOTION_06_TP, axis, target_position);
}

Op<int> MCX514Module::initialSpeed(Call& call, int port, int axis, std::int64_t acceleration) {
  co_return co_await put(call, port, MOTION_04_SV, axis, initialSpeedFor(acceleration));
}

Op<int> MCX514Module::writeVelocity(Call& call, int port, int axis, std::int64_t velocity) {
  checkPortAndAxis(port, axis);
  checkRate(velocity, "velocity");
  const std::int64_t acceleration = withAxis(axis, [&](MotionAxis& a) {
    a.velocity = velocity;
    return a.acceleration;
  });
  const std::int64_t sv = initialSpeedFor(acceleration);  // refused before anything is sent
  StepStatus st;
  st.add(co_await put(call, port, MOTION_05_DV, axis, magnitude(velocity)));
  st.add(co_await put(call, port, MOTION_04_SV, axis, sv));
  co_return st.value();
}

Op<int> MCX514Module::writeAcceleration(Call& call, int port, int axis, std::int64_t acceleration,
                                        std::int64_t deceleration) {
  checkPortAndAxis(port, axis);
  checkRate(acceleration, "acceleration");
  checkRate(deceleration, "deceleration");
  const std::pair<std::int64_t, std::int64_t> form = withAxis(axis, [&](MotionAxis& a) {
    a.acceleration = acceleration;
    a.deceleration = deceleration;
    return std::pair(a.acceleration_mode, a.jerk);
  });
  const std::int64_t mode = form.first, jerk = form.second;
  StepStatus st;
  if (mode == 0) {
    st.add(co_await put(call, port, MOTION_02_AC, axis, acceleration));
    st.add(co_await put(call, port, MOTION_03_DC, axis, deceleration));
    // Equal rates clear the asymmetric and S-curve forms an earlier setting may have left.
    const int asymmetric = acceleration != deceleration ? 1 : 0;
    st.add(co_await editWR3(call, port, axis,
                            BitEdit().bit(wr3::kManualDeceleration, 0).bit(wr3::kAsymmetric, asymmetric).bit(wr3::kSCurve, 0)));
  } else {
    checkU32(jerk, "jerk");
    st.add(co_await put(call, port, MOTION_00_JK, axis, jerk));
    st.add(co_await put(call, port, MOTION_01_DJ, axis, jerk));
    st.add(co_await editWR3(call, port, axis,
                            BitEdit().bit(wr3::kManualDeceleration, 0).bit(wr3::kAsymmetric, 0).bit(wr3::kSCurve, 1)));
  }
  co_return st.value();
}

Op<int> MCX514Module::writeDriveMode(Call& call, int port, int axis, std::int64_t operation_mode, std::int64_t velocity) {
  checkPortAndAxis(port, axis);
  const int direction = velocity >= 0 ? 0 : 1;
  withAxis(axis, [&](MotionAxis& a) {
    a.operation_mode = operation_mode;
    a.velocity = velocity;
    if (operation_mode != 0 && operation_mode != 1) a.velocity_move_direction = direction;  // a continuous move
  });
  int drive = direction == 0 ? MOTION_52_DRVVP : MOTION_53_DRVVM;
  if (operation_mode == 0) drive = MOTION_54_DRVAB;
  if (operation_mode == 1) drive = MOTION_50_DRVRL;
  co_return co_await command(call, port, drive, axis);
}

Op<int> MCX514Module::writeHomeSpeed(Call& call, int port, int axis, double approach_velocity_percent,
                                     std::int64_t search_velocity) {
  checkPortAndAxis(port, axis);
  checkPercent(approach_velocity_percent, "approach_velocity_percent");
  const double exact = approach_velocity_percent / 100.0 * static_cast<double>(magnitude(search_velocity));
  const std::int64_t speed = exact < 1 ? 1 : static_cast<std::int64_t>(std::min(exact, 1e18));
  checkU32(speed, "home search speed");
  note(axis, Setting::ApproachVelocityPercent, approach_velocity_percent);
  co_return co_await put(call, port, MOTION_14_HV, axis, speed);
}

Op<int> MCX514Module::writeOffsetPosition(Call& call, int port, int axis, std::int64_t offset_position,
                                          std::int64_t initial_search_direction) {
  checkPortAndAxis(port, axis);
  const std::int64_t offset = initial_search_direction == 0 ? -offset_position : offset_position;
  checkI32(offset, "offset_position");
  note(axis, Setting::OffsetPosition, static_cast<double>(offset_position));
  note(axis, Setting::InitialSearchDirection, static_cast<double>(initial_search_direction));
  co_return co_await put(call, port, MOTION_06_TP, axis, offset);
}

Op<int> MCX514Module::setAutoHome1(Call& call, int port, int axis, int search_type, int initial_search_direction,
                                   int final_approach_direction, double approach_velocity_percent,
                                   std::int64_t offset_position) {
  checkPortAndAxis(port, axis);
  withAxis(axis, [&](MotionAxis& a) {
    a.motion_dict.set(Setting::InitialSearchDirection, initial_search_direction);
    a.motion_dict.set(Setting::FinalApproachDirection, final_approach_direction);
    a.motion_dict.set(Setting::ApproachVelocityPercent, approach_velocity_percent);
    a.motion_dict.set(Setting::OffsetPosition, static_cast<double>(offset_position));
  });
  const int d = initial_search_direction != 0 ? 1 : 0;
  const int approach = approach_velocity_percent != 0 ? 1 : 0;
  BitEdit e;
  if (search_type == 0)
    e.bit(h1m::kStep1, 1).bit(h1m::kStep1Direction, d).bit(h1m::kStep2, 1).bit(h1m::kStep3, approach)
        .bit(h1m::kStep3Direction, final_approach_direction);
  else if (search_type == 1)
    e.bit(h1m::kStep2, 1).bit(h1m::kStep2Direction, d);
  else if (search_type == 2)
    e.bit(h1m::kStep1, 1).bit(h1m::kStep1Direction, d).bit(h1m::kStep2Direction, 1).bit(h1m::kStep3, approach)
        .bit(h1m::kStep3Direction, initial_search_direction).bit(h1m::kStep1Limit, 1);
  e.bit(h1m::kOffset, offset_position != 0 ? 1 : 0);
  StepStatus st;
  st.add(co_await put(call, port, MOTION_23_H1M, axis, e.applyTo(0)));
  st.add(co_await setInstantLimitStop(call, port, axis, 1));
  co_return st.value();
}

Op<int> MCX514Module::setAutoHome2(Call& call, int port, int axis, int reset_position_enable) {
  checkPortAndAxis(port, axis);
  note(axis, Setting::EnableResetPosition, reset_position_enable);
  const BitEdit e = BitEdit().bit(h2m::kResetLogical, reset_position_enable).bit(h2m::kResetReal, reset_position_enable);
  co_return co_await put(call, port, MOTION_24_H2M, axis, e.applyTo(0));
}

Op<int> MCX514Module::logicalPosition(Call& call, int port, int axis, std::int64_t counter) {
  co_return co_await put(call, port, MOTION_09_LP, axis, counter);
}

Op<int> MCX514Module::enableServoOnAt(Call& call, int port, int axis, int en_servo_on) {
  checkPortAndAxis(port, axis);
  checkEnable(en_servo_on);
  const bool active_low = axisRecord(axis).motion_dict.integer(Setting::ServoOnPolarity) == 0;
  const int level = active_low ? en_servo_on ^ 1 : en_servo_on;
  StepStatus st;
  // The position write-back after the line changes must not undo a position set meanwhile.
  const PortLocks::Held held = co_await locks_.acquire(call, port);
  st.add(co_await put(call, port, MOTION_1C_GPIO, axis, kServoLineMask, level));
  const std::int64_t position = co_await readLogicalPosition(call, port, axis);
  st.add(co_await logicalPosition(call, port, axis, position));
  co_return st.value();
}

Op<int> MCX514Module::encoderZ(Call& call, int port, int axis, int encoder_z_polarity) {
  note(axis, Setting::EncoderZPolarity, encoder_z_polarity);
  co_return co_await editWR2(call, port, axis, BitEdit().bit(wr2::kZLevel, encoder_z_polarity == 0 ? 1 : 0));
}

Op<int> MCX514Module::sendAllConfiguration(Call& call, int port, int axis) {
  checkPortAndAxis(port, axis);
  const MotionSettings s = axisRecord(axis).motion_dict;
  auto v = [&](Setting k) { return static_cast<int>(s.integer(k)); };
  StepStatus st;
  st.add(co_await axisModeFromRecord(call, port, axis));
  st.add(co_await encoderZ(call, port, axis, v(Setting::EncoderZPolarity)));
  st.add(co_await setHomeLimitEnable(call, port, axis, v(Setting::HomeEnable)));
  st.add(co_await setLimitEnable(call, port, axis, v(Setting::ForwardEnable), v(Setting::ReverseEnable)));
  st.add(co_await setAlarmLimitEnable(call, port, axis, v(Setting::AlarmEnable)));
  st.add(co_await setInpositionLimitEnable(call, port, axis, v(Setting::InpositionEnable)));
  st.add(co_await setHomePolarity(call, port, axis, v(Setting::HomePolarity)));
  st.add(co_await setLimitPolarity(call, port, axis, v(Setting::ForwardPolarity)));
  st.add(co_await setAlarmPolarity(call, port, axis, v(Setting::AlarmPolarity)));
  st.add(co_await setInpositionPolarity(call, port, axis, v(Setting::InpositionPolarity)));
  co_return st.value();
}

}  // namespace zelvo
