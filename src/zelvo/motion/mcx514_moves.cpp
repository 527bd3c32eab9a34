// Moves: starting one axis or several together, stopping, changing a running move, the home
// search, break-point and capture switches, and the servo line.
#include <exception>

#include "zelvo/motion/mcx514_bits.hpp"
#include "zelvo/motion/mcx514_checks.hpp"
#include "zelvo/motion/mcx514_module.hpp"

namespace zelvo {

using namespace mcx514;

namespace {

std::int64_t magnitude(std::int64_t v) { return v < 0 ? -v : v; }

}  // namespace

Op<int> MCX514Module::startSingleAxisMove(Call& call, int port, int axis) {
  const int p = wirePort(port);
  mcx514::checkAxis(axis);
  const MotionAxis rec = axisRecord(axis);
  co_return co_await writeDriveMode(call, p, axis, rec.operation_mode, rec.velocity);
}

Op<int> MCX514Module::prepareAxis(Call& call, int port, int axis, const MotionAxis& rec) {
  StepStatus st;
  st.add(co_await axisModeFromRecord(call, port, axis));
  st.add(co_await writeTargetPosition(call, port, axis, rec.target_position));
  st.add(co_await writeVelocity(call, port, axis, rec.velocity));
  st.add(co_await writeAcceleration(call, port, axis, rec.acceleration, rec.deceleration));
  st.add(co_await setInstantLimitStop(call, port, axis, 1));
  co_return st.value();
}

Op<int> MCX514Module::startMultiAxisMove(Call& call, int port, std::vector<int> axis_list) {
  const int p = wirePort(port);
  int mask = 0;
  for (int axis : axis_list) {
    mcx514::checkAxis(axis);
    if (mask & (1 << axis)) throw Error(Err::MotionAxisError, "Axis " + std::to_string(axis) + " is listed twice.");
    mask |= 1 << axis;
  }
  StepStatus st;
  int held = 0;
  std::exception_ptr failure;
  try {
    for (int axis : axis_list) {
      const MotionAxis rec = axisRecord(axis);
      st.add(co_await prepareAxis(call, p, axis, rec));
      held |= 1 << axis;  // from the moment the hold may have reached the chip
      st.add(co_await command(call, p, MOTION_77_DHOLD, axis));
      st.add(co_await writeDriveMode(call, p, axis, rec.operation_mode, rec.velocity));
    }
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) {
    // No axis may stay held with a pending drive: stop the held ones, then release them.
    for (int axis = 0; axis < kAxes; ++axis)
      if (held & (1 << axis)) (void)co_await command(call, p, MOTION_57_DRVFBRK, axis);
    if (held != 0) (void)co_await command(call, p, MOTION_78_DFREE, held);
    std::rethrow_exception(failure);
  }
  st.add(co_await command(call, p, MOTION_78_DFREE, mask));
  co_return st.value();
}

Op<int> MCX514Module::stop(Call& call, int port, int axis, int mode) {
  const int p = wirePort(port);
  mcx514::checkAxis(axis);
  checkStopMode(mode);
  withAxis(axis, [&](MotionAxis& a) { a.stop_decl = mode; });
  co_return co_await command(call, p, mode == 0 ? MOTION_56_DRVSBRK : MOTION_57_DRVFBRK, axis);
}

Op<int> MCX514Module::overrideAxisPosi(Call& call, int port, int axis, std::int64_t new_position) {
  const int p = wirePort(port);
  mcx514::checkAxis(axis);
  checkI32(new_position, "new_position");
  co_return co_await writeTargetPosition(call, p, axis, new_position);
}

Op<int> MCX514Module::overrideAxisAccel(Call& call, int port, int axis, std::int64_t new_accel,
                                        std::int64_t new_decel) {
  const int p = wirePort(port);
  mcx514::checkAxis(axis);
  checkRate(new_accel, "new_accel");
  checkRate(new_decel, "new_decel");
  co_return co_await writeAcceleration(call, p, axis, new_accel, new_decel);
}

Op<int> MCX514Module::overrideAxisVelocity(Call& call, int port, int axis, std::int64_t new_velo) {
  const int p = wirePort(port);
  mcx514::checkAxis(axis);
  checkRate(new_velo, "new_velo");
  const int direction = new_velo >= 0 ? 0 : 1;  // the boundary a continuous move starts with
  const bool reverse = withAxis(axis, [&](MotionAxis& a) {
    a.velocity = new_velo;
    if (a.operation_mode != 2 || a.velocity_move_direction == direction) return false;
    a.velocity_move_direction = direction;
    return true;
  });
  if (!reverse) co_return co_await put(call, p, MOTION_05_DV, axis, magnitude(new_velo));
  // Reversal: after the decelerating stop, SYNC1 starts the drive the other way.
  StepStatus st;
  st.add(co_await put(call, p, MOTION_00_JK, axis, 0));
  st.add(co_await put(call, p, MOTION_27_S1M, axis, direction == 0 ? kReverseToForwardAction : kReverseToBackwardAction));
  st.add(co_await command(call, p, MOTION_82_SYNC1EN, axis));
  st.add(co_await command(call, p, MOTION_56_DRVSBRK, axis));
  st.add(co_await put(call, p, MOTION_05_DV, axis, magnitude(new_velo)));
  co_return st.value();
}

Op<int> MCX514Module::findRef(Call& call, int port, int axis) {
  const int p = wirePort(port);
  mcx514::checkAxis(axis);
  co_return co_await command(call, p, MOTION_5A_HMSRC, axis);
}

Op<int> MCX514Module::enableBreakPoint(Call& call, int port, int axis, int en_break) {
  const int p = wirePort(port);
  mcx514::checkAxis(axis);
  checkEnable(en_break);
  co_return co_await command(call, p, en_break == 1 ? MOTION_81_SYNC0EN : MOTION_91_SYNC0DIS, axis);
}

Op<int> MCX514Module::enableCapture(Call& call, int port, int axis, int en_capture) {
  const int p = wirePort(port);
  mcx514::checkAxis(axis);
  checkEnable(en_capture);
  co_return co_await command(call, p, en_capture == 1 ? MOTION_88_SYNC3EN : MOTION_98_SYNC3DIS, axis);
}

Op<int> MCX514Module::enableServoOn(Call& call, int port, int axis) {
  const int p = wirePort(port);
  co_return co_await enableServoOnAt(call, p, axis, 1);
}

Op<int> MCX514Module::enableServoOff(Call& call, int port, int axis) {
  const int p = wirePort(port);
  co_return co_await enableServoOnAt(call, p, axis, 0);
}

}  // namespace zelvo
