// The public configuration operations: each translates and checks its arguments, records what it
// configures and runs its register steps.
#include "zelvo/motion/mcx514_bits.hpp"
#include "zelvo/motion/mcx514_checks.hpp"
#include "zelvo/motion/mcx514_module.hpp"

namespace zelvo {

using namespace mcx514;

Op<int> MCX514Module::open(Call& call, int port) {
  const int p = wirePort(port);
  co_return co_await put(call, p, MOTION_21_P1M, kAllAxes, kPIOState);
}

Op<int> MCX514Module::close(Call&, int port) {
  wirePort(port);
  co_return 0;
}

Op<int> MCX514Module::cfgAxis(Call& call, int port, int axis, int stepper_output, int axis_dir, int encoder_dir,
                              int servo_on_polarity) {
  const int p = wirePort(port);
  mcx514::checkAxis(axis);
  checkStepperOutput(stepper_output);
  checkDirection(axis_dir);
  checkDirection(encoder_dir);
  checkPolarity(servo_on_polarity);
  note(axis, Setting::StepperOutput, stepper_output);
  note(axis, Setting::ServoOnPolarity, servo_on_polarity);
  StepStatus st;
  st.add(co_await setAxisModeAndDirection(call, p, axis, stepper_output, axis_dir));
  st.add(co_await setEncoderDirection(call, p, axis, encoder_dir));
  co_return st.value();
}

Op<int> MCX514Module::cfgLimit(Call& call, int port, int axis, int en_forward, int en_reverse, int limit_polarity) {
  const int p = wirePort(port);
  mcx514::checkAxis(axis);
  checkEnable(en_forward);
  checkEnable(en_reverse);
  checkPolarity(limit_polarity);
  StepStatus st;
  st.add(co_await setLimitEnable(call, p, axis, en_forward, en_reverse));
  st.add(co_await setLimitPolarity(call, p, axis, limit_polarity));
  co_return st.value();
}

Op<int> MCX514Module::cfgHome(Call& call, int port, int axis, int en_home, int home_polarity) {
  const int p = wirePort(port);
  mcx514::checkAxis(axis);
  checkEnable(en_home);
  checkPolarity(home_polarity);
  StepStatus st;
  st.add(co_await setHomeLimitEnable(call, p, axis, en_home));
  st.add(co_await setHomePolarity(call, p, axis, home_polarity));
  co_return st.value();
}

Op<int> MCX514Module::cfgInposi(Call& call, int port, int axis, int en_inposi, int inposi_polarity) {
  const int p = wirePort(port);
  mcx514::checkAxis(axis);
  checkEnable(en_inposi);
  checkPolarity(inposi_polarity);
  StepStatus st;
  st.add(co_await setInpositionLimitEnable(call, p, axis, en_inposi));
  st.add(co_await setInpositionPolarity(call, p, axis, inposi_polarity));
  co_return st.value();
}

Op<int> MCX514Module::cfgAlarm(Call& call, int port, int axis, int en_alarm, int alarm_polarity) {
  const int p = wirePort(port);
  mcx514::checkAxis(axis);
  checkEnable(en_alarm);
  checkPolarity(alarm_polarity);
  StepStatus st;
  st.add(co_await setAlarmLimitEnable(call, p, axis, en_alarm));
  st.add(co_await setAlarmPolarity(call, p, axis, alarm_polarity));
  co_return st.value();
}

Op<int> MCX514Module::cfgEncoder(Call& call, int port, int axis, int encoder_z_polarity) {
  const int p = wirePort(port);
  mcx514::checkAxis(axis);
  checkPolarity(encoder_z_polarity);
  co_return co_await encoderZ(call, p, axis, encoder_z_polarity);
}

Op<int> MCX514Module::cfgJerkAndAccelMode(Call&, int port, int axis, std::int64_t jerk, int accel_mode) {
  wirePort(port);
  mcx514::checkAxis(axis);
  checkU32(jerk, "jerk");
  checkAccelerationMode(accel_mode);
  withAxis(axis, [&](MotionAxis& a) {
    a.jerk = jerk;
    a.acceleration_mode = accel_mode;
  });
  co_return 0;
}

Op<int> MCX514Module::cfgAxisMove(Call& call, int port, int axis, int mode, std::int64_t target_posi,
                                  std::int64_t velo, std::int64_t accel, std::int64_t decel) {
  const int p = wirePort(port);
  mcx514::checkAxis(axis);
  checkOperationMode(mode);
  checkI32(target_posi, "target_posi");
  checkRate(velo, "velo");
  checkRate(accel, "accel");
  checkRate(decel, "decel");
  // The ramp is recorded first, so that the initial speed follows the new acceleration.
  withAxis(axis, [&](MotionAxis& a) {
    a.operation_mode = mode;
    a.acceleration = accel;
    a.deceleration = decel;
  });
  StepStatus st;
  st.add(co_await writeTargetPosition(call, p, axis, target_posi));
  st.add(co_await writeVelocity(call, p, axis, velo));
  st.add(co_await writeAcceleration(call, p, axis, accel, decel));
  st.add(co_await setInstantLimitStop(call, p, axis, 1));
  co_return st.value();
}

Op<int> MCX514Module::cfgFindRef(Call& call, int port, int axis, int search_type, int search_dir,
                                 std::int64_t search_velo, std::int64_t search_accle, double approach_velo_percent,
                                 int en_reset_posi, std::int64_t offset_posi) {
  const int p = wirePort(port);
  mcx514::checkAxis(axis);
  checkSearchType(search_type);
  checkSearchDirection(search_dir);
  checkRate(search_velo, "search_velo");
  checkRate(search_accle, "search_accle");
  checkPercent(approach_velo_percent, "approach_velo_percent");
  checkEnable(en_reset_posi);
  checkI32(search_dir == 0 ? -offset_posi : offset_posi, "offset_posi");
  const MotionAxis rec = withAxis(axis, [&](MotionAxis& a) {
    a.search_type = search_type;
    a.search_velocity = search_velo;
    a.search_accerleration = search_accle;
    a.acceleration = search_accle;  // before the initial speed is derived from it
    a.deceleration = search_accle;
    return a;
  });
  const MotionSettings& s = rec.motion_dict;
  StepStatus st;
  st.add(co_await axisModeFromRecord(call, p, axis));
  st.add(co_await writeTargetPosition(call, p, axis, rec.target_position));
  st.add(co_await writeVelocity(call, p, axis, search_velo));
  st.add(co_await writeAcceleration(call, p, axis, search_accle, search_accle));
  st.add(co_await setAutoHome1(call, p, axis, search_type, search_dir,
                               static_cast<int>(s.integer(Setting::FinalApproachDirection)), approach_velo_percent,
                               offset_posi));
  st.add(co_await setAutoHome2(call, p, axis, en_reset_posi));
  st.add(co_await writeHomeSpeed(call, p, axis, approach_velo_percent, search_velo));
  st.add(co_await writeOffsetPosition(call, p, axis, offset_posi, search_dir));
  co_return st.value();
}

Op<int> MCX514Module::cfgBreakPoint(Call& call, int port, int axis, int mode, int breakpoint_polarity,
                                    std::int64_t start_posi, std::int64_t pulse_width, std::int64_t pulse_period,
                                    std::int64_t pulse_number) {
  const int p = wirePort(port);
  mcx514::checkAxis(axis);
  checkBreakPointMode(mode);
  checkPolarity(breakpoint_polarity);
  checkI32(start_posi, "start_posi");
  checkU16(pulse_width, "pulse_width");
  checkU16(pulse_period, "pulse_period");
  checkU16(pulse_number, "pulse_number");
  withAxis(axis, [&](MotionAxis& a) {
    a.breakpoint_mode = mode;
    a.breakpoint_polarity = breakpoint_polarity;
    a.breakpoint_start_position = start_posi;
    a.breakpoint_pulse_width = pulse_width;
    a.breakpoint_pulse_period = pulse_period;
    a.breakpoint_pulse_number = pulse_number;
  });
  StepStatus st;
  st.add(co_await put(call, p, MOTION_17_SP1, axis, pulse_width, pulse_period));
  st.add(co_await put(call, p, MOTION_18_SP2, axis, pulse_number));
  st.add(co_await editWord(call, p, axis, MOTION_42_P2M, MOTION_22_P2M,
                           BitEdit().bit(kP2MPulseLowActive, breakpoint_polarity == 0 ? 1 : 0).bit(kP2MSplitPulseOut, 1)));
  BitEdit compare;
  for (int bit = 0; bit < kMRMCompareBits; ++bit) compare.bit(bit, 0);
  st.add(co_await editWord(call, p, axis, MOTION_40_MRM, MOTION_20_MRM, compare.bit(kMRMCompareMR0, 1)));
  std::int64_t position = start_posi;
  if (mode == 1) position += co_await readLogicalPosition(call, p, axis);
  st.add(co_await put(call, p, MOTION_10_MR0, axis, checkI32(position, "break-point position")));
  st.add(co_await put(call, p, MOTION_26_S0M, axis, kBreakPointAction));
  co_return st.value();
}

Op<int> MCX514Module::cfgCapture(Call& call, int port, int axis, int capture_type, int mode) {
  const int p = wirePort(port);
  mcx514::checkAxis(axis);
  checkCaptureType(capture_type);
  checkCaptureMode(mode);
  withAxis(axis, [&](MotionAxis& a) {
    a.capture_type = capture_type;
    a.capture_mode = mode;
  });
  co_return co_await put(call, p, MOTION_29_S3M, axis, kCaptureAction[mode][capture_type]);
}

Op<int> MCX514Module::rstEncoderPosi(Call& call, int port, int axis, std::int64_t encoder_posi) {
  const int p = wirePort(port);
  mcx514::checkAxis(axis);
  checkI32(encoder_posi, "encoder_posi");
  withAxis(axis, [&](MotionAxis& a) { a.encoder_position = encoder_posi; });
  StepStatus st;
  st.add(co_await logicalPosition(call, p, axis, encoder_posi));
  st.add(co_await put(call, p, MOTION_0A_RP, axis, encoder_posi));
  co_return st.value();
}

Op<int> MCX514Module::setLogicalPosi(Call& call, int port, int axis, std::int64_t counter) {
  const int p = wirePort(port);
  mcx514::checkAxis(axis);
  checkI32(counter, "counter");
  co_return co_await logicalPosition(call, p, axis, counter);
}

}  // namespace zelvo
