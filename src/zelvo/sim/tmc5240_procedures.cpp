// The drive firmware's procedures, run as steps on the ramp generator.
#include <cmath>

#include "zelvo/sim/tmc5240_drive.hpp"
#include "zelvo/sim/tmc5240_map.hpp"

namespace zelvo::sim {
namespace {

using namespace tmc;

constexpr int kPositioning = 0, kVelocityForward = 1, kVelocityBackward = 2, kHold = 3;
constexpr std::int64_t kResetFlag = 1;
// The steps of a search.
constexpr int kOnto = 0, kBackOff = 1, kApproach = 2, kOffset = 3, kReset = 4;

}  // namespace

const std::vector<int>& TmcDrive::parameterRegisters() {
  static const std::vector<int> kList = {
      TVST_00_GCONF,  TVST_0A_DRV_CONF, TVST_10_IHOLD_IRUN, TVST_11_TPOWERDOWN, TVST_2A_D1,
      TVST_2B_VSTOP,  TVST_30_D2,       TVST_3A_ENC_CONST,  TVST_52_OTW_OV_VTH, TVST_60_MSLUT0,
      TVST_61_MSLUT1, TVST_62_MSLUT2,   TVST_63_MSLUT3,     TVST_64_MSLUT4,     TVST_65_MSLUT5,
      TVST_66_MSLUT6, TVST_67_MSLUT7,   TVST_68_MSLUTSEL,   TVST_69_MSLUTSTART, TVST_6C_CHOPCONF,
      TVST_70_PWMCONF, TVST_74_SG4_THRS};
  return kList;
}

void TmcDrive::set(int address, std::int64_t value) { regs_[address] = fitRegister(*findRegister(address), value); }

void TmcDrive::finishProcedure(int state) {
  proc_ = Procedure{};
  watch_.reset();
  state_ = state;
}

void TmcDrive::goTo(double t, std::int64_t target, std::int64_t speed, std::int64_t acceleration,
                    std::int64_t deceleration) {
  set(TVST_2D_XTARGET, target);
  set(TVST_27_VMAX, speed);
  set(TVST_26_AMAX, acceleration);
  set(TVST_28_DMAX, deceleration);
  set(TVST_20_RAMPMODE, kPositioning);
  regenerate(t);
  if (!motion_) arrived(t);  // already there
}

void TmcDrive::seek(double t, TmcInput in, bool to_actuated, int dir, std::int64_t speed) {
  if (actuated(in, position(t)) == to_actuated) {  // nothing to seek
    ++proc_.step;
    return runStep(t);
  }
  set(TVST_26_AMAX, proc_.acceleration);
  set(TVST_28_DMAX, proc_.acceleration);
  set(TVST_27_VMAX, speed);
  set(TVST_20_RAMPMODE, dir > 0 ? kVelocityForward : kVelocityBackward);
  regenerate(t);
  watch_ = Watch{in, to_actuated};
}

void TmcDrive::runStep(double t) {
  if (proc_.kind != Kind::Search) return;
  switch (proc_.step) {
    case kOnto:
      return seek(t, proc_.input, true, proc_.dir, proc_.speed);
    case kBackOff:
      return seek(t, proc_.input, false, -proc_.approach_dir, proc_.approach);
    case kApproach:
      return seek(t, proc_.input, true, proc_.approach_dir, proc_.approach);
    case kOffset:
      if (proc_.offset != 0)
        return goTo(t, position(t) + proc_.offset, proc_.speed, proc_.acceleration, proc_.acceleration);
      ++proc_.step;
      [[fallthrough]];
    case kReset:
    default:
      if (proc_.reset) {
        set(TVST_20_RAMPMODE, kHold);
        write(t, TVST_21_XACTUAL, 0);
        write(t, TVST_39_XENC, 0);
        set(TVST_2D_XTARGET, 0);
      }
      set(TVST_20_RAMPMODE, kHold);
      return finishProcedure(kFinished);
  }
}

void TmcDrive::arrived(double t) {
  switch (proc_.kind) {
    case Kind::Position:
      return finishProcedure(kFinished);
    case Kind::Scan:
      if (proc_.a == proc_.b) return finishProcedure(kFinished);
      ++proc_.step;
      return goTo(t, proc_.step % 2 == 1 ? proc_.b : proc_.a, proc_.speed, proc_.acceleration, proc_.acceleration);
    case Kind::Search:
      if (proc_.step == kOffset) {
        ++proc_.step;
        runStep(t);
      }
      return;
    default:
      return;
  }
}

void TmcDrive::velocityMove(double t, std::int64_t speed, std::int64_t acceleration, std::int64_t deceleration,
                            int dir) {
  settle(t);
  finishProcedure(kRunning);
  proc_.kind = Kind::Velocity;
  set(TVST_26_AMAX, acceleration);
  set(TVST_28_DMAX, deceleration);
  set(TVST_27_VMAX, speed);
  set(TVST_20_RAMPMODE, dir == 0 ? kVelocityForward : kVelocityBackward);
  regenerate(t);
}

void TmcDrive::positionMove(double t, std::int64_t position_or_distance, std::int64_t speed,
                            std::int64_t acceleration, std::int64_t deceleration, int mode) {
  settle(t);
  finishProcedure(kRunning);
  proc_.kind = Kind::Position;
  const std::int64_t target = mode == 1 ? position(t) + position_or_distance : position_or_distance;
  goTo(t, target, speed, acceleration, deceleration);
}

void TmcDrive::scanMove(double t, std::int64_t position_0, std::int64_t position_1, std::int64_t speed,
                        std::int64_t acceleration) {
  settle(t);
  finishProcedure(kRunning);
  proc_.kind = Kind::Scan;
  proc_.a = position_0;
  proc_.b = position_1;
  proc_.speed = speed;
  proc_.acceleration = acceleration;
  goTo(t, position_0, speed, acceleration, acceleration);
}

void TmcDrive::findLimit(double t, int mode, std::int64_t search, std::int64_t approach, std::int64_t acceleration,
                         std::int64_t offset, bool reset) {
  const bool right = (mode & 1) != 0;
  // The left switch is physically backward: the motor runs backward to reach it, forward with shaft.
  const int dir = (right ? 1 : -1) * (shaft() ? -1 : 1);
  findSignal(t, right ? TmcInput::Right : TmcInput::Left, search, approach, acceleration, dir > 0 ? 0 : 1,
             dir > 0 ? 0 : 1, offset, reset);
}

void TmcDrive::findSignal(double t, TmcInput in, std::int64_t search, std::int64_t approach, std::int64_t acceleration,
                          int search_dir, int approach_dir, std::int64_t offset, bool reset) {
  settle(t);
  finishProcedure(kRunning);
  proc_.kind = Kind::Search;
  proc_.input = in;
  proc_.dir = search_dir == 0 ? 1 : -1;
  proc_.approach_dir = approach_dir == 0 ? 1 : -1;
  proc_.speed = search;
  proc_.approach = approach;
  proc_.acceleration = acceleration;
  proc_.offset = offset;
  proc_.reset = reset;
  runStep(t);
}

void TmcDrive::stopProcess(double t) {
  settle(t);
  finishProcedure(kIdle);
  const double v = velocity(t);
  const std::int64_t x = position(t);
  set(TVST_20_RAMPMODE, kHold);
  set(TVST_2D_XTARGET, x);
  motion_.reset();
  rest_ = x;
  if (v != 0)
    begin(t, x, v < 0 ? -1 : 1, Ramp::stopping(std::abs(v), 0, static_cast<double>(reg(TVST_26_AMAX))), std::nullopt,
          false);
}

void TmcDrive::factoryReset(double t) {
  stopProcess(t);
  const TmcDrive fresh;
  for (int address : parameterRegisters()) set(address, fresh.reg(address));
  regs_[TVST_01_GSTAT] = reg(TVST_01_GSTAT) | kResetFlag;
}

}  // namespace zelvo::sim
