// Interpolated moves: linear over two to four axes, circular over two, helical over axes 0 and 1
// with axes 2 and 3 following. The main axis's speed and ramp drive the path.
#include <algorithm>
#include <chrono>
#include <cmath>

#include "zelvo/motion/mcx514_bits.hpp"
#include "zelvo/motion/mcx514_checks.hpp"
#include "zelvo/motion/mcx514_module.hpp"

namespace zelvo {

using namespace mcx514;

namespace {

// Pause between two reads of the calculation's progress.
constexpr double kCalculationPoll = 0.001;
constexpr int kLinearModes[] = {MOTION_61_LHK2, MOTION_62_LHK3, MOTION_63_LHK4};  // 2, 3, 4 axes
constexpr int kFewestLinearAxes = 2;

void refuseRepeatedAxes(int x_axis, int y_axis) {
  checkAxis(x_axis);
  checkAxis(y_axis);
  if (x_axis == y_axis) throw Error(Err::MotionAxisError, "Axis " + std::to_string(x_axis) + " is named twice.");
}

// The values of a helix that end in signed 32-bit fields.
void checkHelicalPoints(std::int64_t cx, std::int64_t cy, std::int64_t fx, std::int64_t fy, std::int64_t pitch3,
                        std::int64_t pitch4) {
  checkI32(cx, "center_point_x");
  checkI32(cy, "center_point_y");
  checkI32(fx, "finish_point_x");
  checkI32(fy, "finish_point_y");
  checkI32(pitch3, "pitch_axis3");
  checkI32(pitch4, "pitch_axis4");
}

}  // namespace

Op<int> MCX514Module::mainAxisRamp(Call& call, int port, int axis, std::int64_t speed, std::int64_t accel,
                                   std::int64_t decel) {
  StepStatus st;
  st.add(co_await initialSpeed(call, port, axis, accel));
  st.add(co_await put(call, port, MOTION_05_DV, axis, speed));
  st.add(co_await put(call, port, MOTION_02_AC, axis, accel));
  st.add(co_await put(call, port, MOTION_03_DC, axis, decel));
  co_return st.value();
}

Op<int> MCX514Module::linearInterpo(Call& call, int port, std::vector<LinearAxis> axes, std::int64_t speed,
                                    std::int64_t accel, std::int64_t decel) {
  const int p = wirePort(port);
  for (const LinearAxis& a : axes) {
    mcx514::checkAxis(a.axis);
    checkI32(a.dest, "destination");
  }
  int used = 0;
  for (const LinearAxis& a : axes) {
    if (used & (1 << a.axis)) throw Error(Err::MotionAxisError, "Axis " + std::to_string(a.axis) + " is named twice.");
    used |= 1 << a.axis;
  }
  checkU32(speed, "speed");
  checkRate(speed, "speed");
  checkRate(accel, "accel");
  checkRate(decel, "decel");
  std::sort(axes.begin(), axes.end(), [](const LinearAxis& x, const LinearAxis& y) { return x.axis < y.axis; });
  records_.with([&](MCX514Records& r) {
    MotionLinearInterpolation& l = r.linear_interpo;
    std::int64_t* slots[][2] = {{&l.main_axis, &l.main_dest}, {&l.second_axis, &l.second_dest},
                                {&l.third_axis, &l.third_dest}, {&l.fourth_axis, &l.fourth_dest}};
    for (std::size_t i = 0; i < axes.size(); ++i) {
      *slots[i][0] = axes[i].axis;
      *slots[i][1] = axes[i].dest;
    }
    l.speed = speed;
    l.acceleration = accel;
    l.deceleration = decel;
    l.mode = static_cast<std::int64_t>(axes.size());
  });
  StepStatus st;
  BitEdit word;
  for (const LinearAxis& a : axes) {
    st.add(co_await axisModeFromRecord(call, p, a.axis));
    word.bit(a.axis, 1);
  }
  if (axes.size() == 2) word.bit(ipm::kTwoAxes, 1);
  if (axes.size() == 3) word.bit(ipm::kThreeAxes, 1);
  st.add(co_await put(call, p, MOTION_2A_IPM, 0, word.applyTo(0)));
  st.add(co_await mainAxisRamp(call, p, axes.front().axis, speed, accel, decel));
  for (const LinearAxis& a : axes) st.add(co_await put(call, p, MOTION_06_TP, a.axis, a.dest));
  st.add(co_await command(call, p, MOTION_6D_DECEN, 0));
  co_return st.value();
}

Op<int> MCX514Module::cfg2AxisLinearInterpo(Call& call, int port, int axis1, std::int64_t dest_posi1, int axis2,
                                            std::int64_t dest_posi2, std::int64_t speed, std::int64_t accel,
                                            std::int64_t decel) {
  return linearInterpo(call, port, {{axis1, dest_posi1}, {axis2, dest_posi2}}, speed, accel, decel);
}

Op<int> MCX514Module::cfg3AxisLinearInterpo(Call& call, int port, int axis1, std::int64_t dest_posi1, int axis2,
                                            std::int64_t dest_posi2, int axis3, std::int64_t dest_posi3,
                                            std::int64_t speed, std::int64_t accel, std::int64_t decel) {
  return linearInterpo(call, port, {{axis1, dest_posi1}, {axis2, dest_posi2}, {axis3, dest_posi3}}, speed, accel,
                       decel);
}

Op<int> MCX514Module::cfg4AxisLinearInterpo(Call& call, int port, int axis1, std::int64_t dest_posi1, int axis2,
                                            std::int64_t dest_posi2, int axis3, std::int64_t dest_posi3, int axis4,
                                            std::int64_t dest_posi4, std::int64_t speed, std::int64_t accel,
                                            std::int64_t decel) {
  return linearInterpo(call, port,
                       {{axis1, dest_posi1}, {axis2, dest_posi2}, {axis3, dest_posi3}, {axis4, dest_posi4}}, speed,
                       accel, decel);
}

Op<int> MCX514Module::startLinearInterpo(Call& call, int port) {
  const int p = wirePort(port);
  const std::int64_t mode = records_.with([](const MCX514Records& r) { return r.linear_interpo.mode; });
  if (mode < kFewestLinearAxes || mode > kAxes)
    throw Error(Err::InputDataNotInRangeError, "linear_interpo.mode must be 2, 3 or 4.");
  co_return co_await command(call, p, kLinearModes[mode - kFewestLinearAxes], 0);
}

Op<int> MCX514Module::cfgCircularInterpo(Call& call, int port, int x_axis, int y_axis, std::int64_t center_point_x,
                                         std::int64_t center_point_y, std::int64_t finish_point_x,
                                         std::int64_t finish_point_y, int dir, std::int64_t speed,
                                         std::int64_t accel, std::int64_t decel) {
  const int p = wirePort(port);
  refuseRepeatedAxes(x_axis, y_axis);
  checkI32(center_point_x, "center_point_x");
  checkI32(center_point_y, "center_point_y");
  checkI32(finish_point_x, "finish_point_x");
  checkI32(finish_point_y, "finish_point_y");
  checkDirection(dir);
  checkRate(speed, "speed");
  checkRate(accel, "accel");
  checkRate(decel, "decel");
  const int main_axis = std::min(x_axis, y_axis);
  records_.with([&](MCX514Records& r) {
    MotionCircularInterpolation& c = r.circular_interpo;
    c.main_axis = main_axis;
    c.second_axis = std::max(x_axis, y_axis);
    c.center_point_x = center_point_x;
    c.center_point_y = center_point_y;
    c.finish_point_x = finish_point_x;
    c.finish_point_y = finish_point_y;
    c.direction = dir;
    c.speed = speed;
    c.acceleration = accel;
    c.deceleration = decel;
  });
  StepStatus st;
  st.add(co_await axisModeFromRecord(call, p, x_axis));
  st.add(co_await axisModeFromRecord(call, p, y_axis));
  const BitEdit word =
      BitEdit().bit(x_axis, 1).bit(y_axis, 1).bit(ipm::kTwoAxes, 1).bit(ipm::kSwapped, x_axis > y_axis ? 1 : 0);
  st.add(co_await put(call, p, MOTION_2A_IPM, 0, word.applyTo(0)));
  st.add(co_await mainAxisRamp(call, p, main_axis, speed, accel, decel));
  st.add(co_await put(call, p, MOTION_08_CP, x_axis, center_point_x));
  st.add(co_await put(call, p, MOTION_06_TP, x_axis, finish_point_x));
  st.add(co_await put(call, p, MOTION_08_CP, y_axis, center_point_y));
  st.add(co_await put(call, p, MOTION_06_TP, y_axis, finish_point_y));
  co_return st.value();
}

Op<int> MCX514Module::startCircularInterpo(Call& call, int port) {
  const int p = wirePort(port);
  const std::int64_t dir = records_.with([](const MCX514Records& r) { return r.circular_interpo.direction; });
  co_return co_await command(call, p, dir == 0 ? MOTION_64_CHKCW : MOTION_65_CHKCCW, 0);
}

Op<int> MCX514Module::writeHelicalInterpolation(Call& call, int port, std::int64_t center_point_x,
                                                std::int64_t center_point_y, std::int64_t finish_point_x,
                                                std::int64_t finish_point_y, int en_axis3, std::int64_t pitch_axis3,
                                                int en_axis4, std::int64_t pitch_axis4, std::int64_t rotation_number,
                                                std::int64_t speed, int dir) {
  checkMotionPort(port);
  checkRate(speed, "speed");
  records_.with([&](MCX514Records& r) {
    MotionHelicalInterpolation& h = r.helical_interpo;
    h.center_point_axis1 = center_point_x;
    h.center_point_axis2 = center_point_y;
    h.finish_point_axis1 = finish_point_x;
    h.finish_point_axis2 = finish_point_y;
    h.enable_axis3 = en_axis3;
    h.pitch_axis3 = pitch_axis3;
    h.enable_axis4 = en_axis4;
    h.pitch_axis4 = pitch_axis4;
    h.rotation_number = rotation_number;
    h.circular_speed = speed;
    h.circular_direction = dir;
  });
  constexpr int kX = 0, kY = 1, kZ3 = 2, kZ4 = 3;
  StepStatus st;
  for (int axis = kX; axis < kAxes; ++axis) {
    if ((axis == kZ3 && en_axis3 != 1) || (axis == kZ4 && en_axis4 != 1)) continue;
    st.add(co_await axisModeFromRecord(call, port, axis));
  }
  const BitEdit word = BitEdit().bit(kX, 1).bit(kY, 1).bit(kZ3, en_axis3).bit(kZ4, en_axis4).bit(ipm::kTwoAxes, 1)
                           .bit(ipm::kHelical, 1);
  st.add(co_await put(call, port, MOTION_2A_IPM, 0, word.applyTo(0)));
  st.add(co_await initialSpeed(call, port, kX, axisRecord(kX).acceleration));
  st.add(co_await put(call, port, MOTION_05_DV, kX, speed));
  st.add(co_await put(call, port, MOTION_1A_HLN, 0, rotation_number));
  st.add(co_await put(call, port, MOTION_06_TP, kX, finish_point_x));
  st.add(co_await put(call, port, MOTION_08_CP, kX, center_point_x));
  st.add(co_await put(call, port, MOTION_06_TP, kY, finish_point_y));
  st.add(co_await put(call, port, MOTION_08_CP, kY, center_point_y));
  if (en_axis3 == 1) st.add(co_await put(call, port, MOTION_06_TP, kZ3, pitch_axis3));
  if (en_axis4 == 1) st.add(co_await put(call, port, MOTION_06_TP, kZ4, pitch_axis4));
  co_return st.value();
}

Op<int> MCX514Module::awaitHelicalCalculation(Call& call, int port, double limit_ms) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    if ((co_await get(call, port, MOTION_E8_RR0, 0) & 1) == 0) co_return 0;
    const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
    if (elapsed.count() >= limit_ms) co_return errorInfo(Err::ReceivePacketTimeoutError).code;
    co_await call.sleep(kCalculationPoll);
  }
}

Op<int> MCX514Module::cfgHelicalInterpo(Call& call, int port, std::int64_t center_point_x,
                                        std::int64_t center_point_y, std::int64_t finish_point_x,
                                        std::int64_t finish_point_y, int en_axis3, std::int64_t pitch_axis3,
                                        int en_axis4, std::int64_t pitch_axis4, std::int64_t rotation_number,
                                        std::int64_t speed, int dir, double calculation_timeout) {
  checkDirection(dir);
  if (!std::isfinite(calculation_timeout) || calculation_timeout < 0)
    throw Error(Err::InputDataNotInRangeError, "calculation_timeout must be a finite number of milliseconds >= 0.");
  const int p = wirePort(port);
  checkEnable(en_axis3);
  checkEnable(en_axis4);
  checkHelicalPoints(center_point_x, center_point_y, finish_point_x, finish_point_y, pitch_axis3, pitch_axis4);
  checkU16(rotation_number, "rotation_number");
  checkRate(speed, "speed");
  StepStatus st;
  st.add(co_await writeHelicalInterpolation(call, p, center_point_x, center_point_y, finish_point_x, finish_point_y,
                                            en_axis3, pitch_axis3, en_axis4, pitch_axis4, rotation_number, speed,
                                            dir));
  st.add(co_await command(call, p, dir == 0 ? MOTION_6B_HLPCW : MOTION_6C_HLPCCW, 0));
  const int waited = co_await awaitHelicalCalculation(call, p, calculation_timeout);
  if (waited != 0) {
    st.add(waited);  // the earlier result stays
    co_return st.value();
  }
  const std::int64_t result = co_await get(call, p, MOTION_3B_HLV, 0);
  records_.with([&](MCX514Records& r) { r.helical_interpo.calculation_result = result; });
  co_return st.value();
}

Op<int> MCX514Module::startHelicalInterpo(Call& call, int port) {
  const int p = wirePort(port);
  const MotionHelicalInterpolation h = records_.with([](const MCX514Records& r) { return r.helical_interpo; });
  StepStatus st;
  st.add(co_await writeHelicalInterpolation(call, p, h.center_point_axis1, h.center_point_axis2, h.finish_point_axis1,
                                            h.finish_point_axis2, static_cast<int>(h.enable_axis3), h.pitch_axis3,
                                            static_cast<int>(h.enable_axis4), h.pitch_axis4, h.rotation_number,
                                            h.circular_speed, static_cast<int>(h.circular_direction)));
  st.add(co_await put(call, p, MOTION_1B_HLV, 0, h.calculation_result));
  st.add(co_await command(call, p, h.circular_direction == 0 ? MOTION_69_HLCW : MOTION_6A_HLCCW, 0));
  co_return st.value();
}

}  // namespace zelvo
