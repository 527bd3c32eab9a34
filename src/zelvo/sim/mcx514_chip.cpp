#include "zelvo/sim/mcx514_chip.hpp"

#include <cmath>
#include <numbers>
#include <utility>

#include "zelvo/sim/mcx514_map.hpp"

namespace zelvo::sim {
namespace {

using namespace mcx;

constexpr int kAxisMask = 0x0F;
constexpr int kPathBit = 8, kErrorShift = 4;
// IPM bits besides the axes.
constexpr int kSwapped = 4;
constexpr int kZ3 = 2, kZ4 = 3;
constexpr double kTurn = 2 * std::numbers::pi;

McxChip::Data value32(std::int64_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  return {static_cast<Byte>(u >> 24), static_cast<Byte>(u >> 16), static_cast<Byte>(u >> 8), static_cast<Byte>(u)};
}
McxChip::Data value16(std::int64_t v) { return {0, 0, static_cast<Byte>(v >> 8), static_cast<Byte>(v)}; }
McxChip::Data status(Byte s) { return {0, 0, 0, s}; }

int lowestAxis(int mask) {
  for (int i = 0; i < kMcxAxes; ++i)
    if (mask & (1 << i)) return i;
  return 0;
}

}  // namespace

std::int64_t McxChip::chipReg(int code) const {
  const auto it = regs_.find(code);
  return it == regs_.end() ? 0 : it->second;
}

void McxChip::settle(double t) {
  if (path_ && path_->endTime() <= t) endPath(path_->endTime());
  for (McxAxis& a : axes_) a.settle(t);
}

std::uint16_t McxChip::rr0(double t) const {
  std::uint16_t w = 0;
  for (int i = 0; i < kMcxAxes; ++i) {
    if (axis(i).driving()) w = static_cast<std::uint16_t>(w | (1U << i));
    if (axis(i).failed()) w = static_cast<std::uint16_t>(w | (1U << (kErrorShift + i)));
  }
  if (path_) w = static_cast<std::uint16_t>(w | (1U << kPathBit));
  if (t < calc_end_) w |= 1;  // the helical calculation
  return w;
}

int McxChip::pendingHolds() const {
  int mask = 0;
  for (int i = 0; i < kMcxAxes; ++i)
    if ((held_ & (1 << i)) && pending_[static_cast<std::size_t>(i)] != 0) mask |= 1 << i;
  return mask;
}

McxChip::Data McxChip::request(double t, int code, Byte axis_byte, const Data& data) {
  settle(t);
  const Register* r = findRegister(code);
  if (!r) return status(kMotionStatus);
  const int axes = axis_byte & kAxisMask;
  const std::int64_t v = decodeData(r->form, data.data());
  const bool per_axis = r->kind == Kind::AxisData || r->kind == Kind::AxisCommand || r->kind == Kind::Sync ||
                        r->kind == Kind::Bit;
  if (per_axis && axes == 0) return status(kMotionStatus);
  Data out = status(0);
  switch (r->kind) {
    case Kind::AxisData:
      for (int i = 0; i < kMcxAxes; ++i)
        if (axes & (1 << i)) axis(i).write(t, code, v);
      break;
    case Kind::ChipData:
      regs_[code] = v;
      if (code == MOTION_E0_WR0) {  // the command register: low byte a command, bits 8..11 its axes
        const int command = static_cast<int>(v & 0xFF), mask = static_cast<int>((v >> 8) & kAxisMask);
        const Register* c = findRegister(command);
        if (c && c->kind == Kind::AxisCommand)
          for (int i = 0; i < kMcxAxes; ++i)
            if (mask & (1 << i)) axisCommand(t, command, i);
        if (c && c->kind == Kind::ChipCommand) out = status(chipCommand(t, command, static_cast<Byte>(mask)));
      }
      break;
    case Kind::Read: {
      const std::int64_t value = read(t, code, lowestAxis(axes), data[3]);
      out = (r->form == Form::U16) ? value16(value) : value32(value);
      break;
    }
    case Kind::AxisCommand:
      for (int i = 0; i < kMcxAxes; ++i)
        if (axes & (1 << i)) axisCommand(t, code, i);
      break;
    case Kind::ChipCommand:
      out = status(chipCommand(t, code, axis_byte));
      break;
    case Kind::Sync:
      if ((code & 0xF0) != kSyncActivate)
        for (int i = 0; i < kMcxAxes; ++i)
          if (axes & (1 << i)) axis(i).sync(t, code & kSyncUnits, (code & 0xF0) == kSyncEnable);
      break;
    case Kind::Bit: {
      const bool wr2 = code < kFirstWR3Bit;
      for (int i = 0; i < kMcxAxes; ++i)
        if (axes & (1 << i))
          axis(i).setBit(t, wr2 ? MOTION_E2_WR2 : MOTION_E3_WR3, code - (wr2 ? kFirstWR2Bit : kFirstWR3Bit), v & 1);
      break;
    }
  }
  settle(t);
  return out;
}

std::int64_t McxChip::peek(double t, int code, int axis_index) {
  settle(t);
  const Register* r = findRegister(code);
  if (!r) return 0;
  if (r->kind == Kind::Read) return read(t, code, axis_index, 0);
  if (r->kind == Kind::ChipData) return chipReg(code);
  return axis(axis_index).reg(code);
}

std::int64_t McxChip::read(double t, int code, int i, int page) {
  McxAxis& a = axis(i);
  switch (code) {
    case MOTION_30_LP:
      return a.logical(t);
    case MOTION_31_RP:
      return a.real(t);
    case MOTION_32_CV:
      return std::llround(a.speed(t));
    case MOTION_33_CA:
      return std::llround(std::fabs(a.acceleration(t)));
    case MOTION_38_CT:
      return a.reg(MOTION_16_TM);
    case MOTION_39_TX:
      return chipReg(MOTION_19_TX);
    case MOTION_3A_CHLN:
      return chipReg(MOTION_1A_HLN);
    case MOTION_3B_HLV:
      return t >= calc_end_ ? calc_result_ : calc_done_;
    case MOTION_48_UI:
      return a.rr3(t);
    case MOTION_E8_RR0:
      return rr0(t);
    case MOTION_E9_RR1:
      return a.rr1(t);
    case MOTION_EA_RR2:
      return a.rr2();
    case MOTION_EB_RR3:
      return page == 0 ? a.rr3(t) : a.gpio();
    case MOTION_EC_RR4:
    case MOTION_ED_RR5:
    case MOTION_EE_RR6:
    case MOTION_EF_RR7:
      return 0;
    default:
      break;
  }
  // The rest read back what was written: MR0..MR3, WR1..WR3, MRM, P1M, P2M, AC, SV, DV, TP, SP1.
  static const std::map<int, int> kWritten = {
      {MOTION_34_MR0, MOTION_10_MR0}, {MOTION_35_MR1, MOTION_11_MR1}, {MOTION_36_MR2, MOTION_12_MR2},
      {MOTION_37_MR3, MOTION_13_MR3}, {MOTION_3D_WR1, MOTION_E1_WR1}, {MOTION_3E_WR2, MOTION_E2_WR2},
      {MOTION_3F_WR3, MOTION_E3_WR3}, {MOTION_40_MRM, MOTION_20_MRM}, {MOTION_41_P1M, MOTION_21_P1M},
      {MOTION_42_P2M, MOTION_22_P2M}, {MOTION_43_AC, MOTION_02_AC},   {MOTION_44_SV, MOTION_04_SV},
      {MOTION_45_DV, MOTION_05_DV},   {MOTION_46_TP, MOTION_06_TP},   {MOTION_47_SP1, MOTION_17_SP1}};
  const auto it = kWritten.find(code);
  return it == kWritten.end() ? 0 : a.reg(it->second);
}

void McxChip::axisCommand(double t, int code, int i) {
  McxAxis& a = axis(i);
  const auto bit = 1 << i;
  switch (code) {
    case MOTION_50_DRVRL:
    case MOTION_51_DRVNR:
    case MOTION_52_DRVVP:
    case MOTION_53_DRVVM:
    case MOTION_54_DRVAB:
      if (held_ & bit)
        pending_[static_cast<std::size_t>(i)] = code;
      else
        a.startDrive(t, code);
      return;
    case MOTION_56_DRVSBRK:
    case MOTION_57_DRVFBRK: {
      const bool at_once = code == MOTION_57_DRVFBRK;
      pending_[static_cast<std::size_t>(i)] = 0;
      if (path_ && path_->uses(i)) return stopPath(t, at_once);
      if (at_once)
        a.instantStop(t);
      else
        a.decelerateStop(t);
      return;
    }
    case MOTION_5A_HMSRC:
      a.startHoming(t);
      return;
    case MOTION_70_VINC:
    case MOTION_71_VDEC:
      a.changeSpeed(t, code);
      return;
    case MOTION_77_DHOLD:
      held_ |= bit;
      return;
    case MOTION_79_R2CLR:
      a.clearErrors();
      return;
    default:
      return;  // direction signal, timer, split pulse, page selection: nothing that moves
  }
}

Byte McxChip::chipCommand(double t, int code, Byte axis_byte) {
  switch (code) {
    case MOTION_78_DFREE:
      for (int i = 0; i < kMcxAxes; ++i) {
        if (!(axis_byte & (1 << i))) continue;
        held_ &= ~(1 << i);
        if (const int pending = std::exchange(pending_[static_cast<std::size_t>(i)], 0)) axis(i).startDrive(t, pending);
      }
      return 0;
    case MOTION_60_LHK1:
    case MOTION_61_LHK2:
    case MOTION_62_LHK3:
    case MOTION_63_LHK4:
    case MOTION_64_CHKCW:
    case MOTION_65_CHKCCW:
    case MOTION_69_HLCW:
    case MOTION_6A_HLCCW:
      return startPath(t, code);
    case MOTION_6B_HLPCW:
    case MOTION_6C_HLPCCW:
      startCalculation(t, code == MOTION_6B_HLPCW);
      return 0;
    case MOTION_6D_DECEN:
    case MOTION_6E_DECDIS:
      path_deceleration_ = code == MOTION_6D_DECEN;
      return 0;
    case MOTION_FE_HDRST:
      reset();
      return 0;
    default:
      return 0;  // pattern interpolation, single steps, I2C: accepted, nothing moves
  }
}

void McxChip::startCalculation(double t, bool clockwise) {
  const McxAxis &x = axis(0), &y = axis(1);
  const ArcPlan plan = planArc(static_cast<double>(x.reg(MOTION_08_CP)), static_cast<double>(y.reg(MOTION_08_CP)),
                               static_cast<double>(x.reg(MOTION_06_TP)), static_cast<double>(y.reg(MOTION_06_TP)),
                               clockwise, static_cast<int>(chipReg(MOTION_1A_HLN)), false);
  calc_done_ = t >= calc_end_ ? calc_result_ : calc_done_;
  calc_result_ = std::llround(plan.radius * plan.sweep);
  calc_end_ = calc_seconds_ ? t + *calc_seconds_ : std::numeric_limits<double>::infinity();
}

Byte McxChip::startPath(double t, int code) {
  const int axes = static_cast<int>(chipReg(MOTION_2A_IPM) & kAxisMask);
  const bool helical = code == MOTION_69_HLCW || code == MOTION_6A_HLCCW;
  const bool circular = code == MOTION_64_CHKCW || code == MOTION_65_CHKCCW;
  const int used = helical ? (axes | 0b11) : axes;
  if (used == 0 || path_) return kMotionStatus;
  for (int i = 0; i < kMcxAxes; ++i)
    if ((used & (1 << i)) && axis(i).driving()) return kMotionStatus;

  AxisValues start{}, end{};
  AxisOffsets finish{};
  for (int i = 0; i < kMcxAxes; ++i) {
    const auto k = static_cast<std::size_t>(i);
    start[k] = axis(i).logical(t);
    finish[k] = static_cast<double>(axis(i).reg(MOTION_06_TP));
  }
  const McxAxis& main = axis(lowestAxis(used));
  Ramp::Limits l;
  l.start = static_cast<double>(main.reg(MOTION_04_SV));
  l.drive = static_cast<double>(main.reg(MOTION_05_DV));
  l.acceleration = static_cast<double>(main.reg(MOTION_02_AC));
  const std::int64_t dc = main.reg(MOTION_03_DC);
  l.deceleration = static_cast<double>(dc > 0 ? dc : main.reg(MOTION_02_AC));
  l.end = path_deceleration_ ? l.start : l.drive;

  double length = 0;
  PathDrive::Shape shape;
  if (!circular && !helical) {
    double sum = 0;
    for (int i = 0; i < kMcxAxes; ++i)
      if (used & (1 << i)) sum += finish[static_cast<std::size_t>(i)] * finish[static_cast<std::size_t>(i)];
    length = std::sqrt(sum);
    shape = [finish, length](double s) {
      AxisOffsets o{};
      for (std::size_t i = 0; i < o.size(); ++i) o[i] = length > 0 ? finish[i] * s / length : 0;
      return o;
    };
    for (int i = 0; i < kMcxAxes; ++i) {
      const auto k = static_cast<std::size_t>(i);
      end[k] = start[k] + ((used & (1 << i)) ? static_cast<std::int64_t>(finish[k]) : 0);
    }
  } else {
    int xa = helical ? 0 : lowestAxis(used), ya = helical ? 1 : lowestAxis(used & ~(1 << xa));
    if (!helical && (chipReg(MOTION_2A_IPM) >> kSwapped) & 1) std::swap(xa, ya);
    const auto xi = static_cast<std::size_t>(xa), yi = static_cast<std::size_t>(ya);
    const double cx = static_cast<double>(axis(xa).reg(MOTION_08_CP)), cy = static_cast<double>(axis(ya).reg(MOTION_08_CP));
    const bool cw = code == MOTION_64_CHKCW || code == MOTION_69_HLCW;
    const int turns = helical ? static_cast<int>(chipReg(MOTION_1A_HLN)) : 0;
    const ArcPlan plan = planArc(cx, cy, finish[xi], finish[yi], cw, turns, !helical);
    length = plan.radius * plan.sweep;
    if (helical && chipReg(MOTION_1B_HLV) > 0) length = static_cast<double>(chipReg(MOTION_1B_HLV));
    const AxisOffsets pitch = finish;
    const int z_axes = helical ? (axes & ((1 << kZ3) | (1 << kZ4))) : 0;
    shape = [plan, length, xi, yi, cx, cy, pitch, z_axes](double s) {
      AxisOffsets o{};
      const double swept = length > 0 ? plan.sweep * s / length : 0;
      const double angle = plan.start_angle + (plan.clockwise ? -swept : swept);
      o[xi] = cx + plan.radius * std::cos(angle);
      o[yi] = cy + plan.radius * std::sin(angle);
      for (std::size_t z = kZ3; z <= kZ4; ++z)
        if (z_axes & (1 << z)) o[z] = pitch[z] * swept / kTurn;
      return o;
    };
    for (int i = 0; i < kMcxAxes; ++i) end[static_cast<std::size_t>(i)] = start[static_cast<std::size_t>(i)];
    end[xi] += static_cast<std::int64_t>(finish[xi]);
    end[yi] += static_cast<std::int64_t>(finish[yi]);
    for (std::size_t z = kZ3; z <= kZ4; ++z)
      if (z_axes & (1 << z)) end[z] += std::llround(pitch[z] * plan.sweep / kTurn);
  }
  const int moving = helical ? (0b11 | (axes & 0b1100)) : used;
  path_ = std::make_shared<PathDrive>(t, moving, start, end, length, std::move(shape), Ramp::run(l, length));
  for (int i = 0; i < kMcxAxes; ++i)
    if (moving & (1 << i)) axis(i).followPath(path_, i);
  return 0;
}

void McxChip::endPath(double t) {
  const AxisValues at = path_->positionsAt(t);
  for (int i = 0; i < kMcxAxes; ++i)
    if (path_->uses(i)) axis(i).leavePath(t, at[static_cast<std::size_t>(i)]);
  path_.reset();
}

void McxChip::stopPath(double t, bool at_once) {
  if (at_once) return endPath(t);
  const McxAxis& main = axis(lowestAxis(path_->axes()));
  const std::int64_t dc = main.reg(MOTION_03_DC);
  path_ = path_->stopping(t, static_cast<double>(main.reg(MOTION_04_SV)),
                          static_cast<double>(dc > 0 ? dc : main.reg(MOTION_02_AC)));
  for (int i = 0; i < kMcxAxes; ++i)
    if (path_->uses(i)) axis(i).followPath(path_, i);
}

void McxChip::reset() {
  std::array<InputSignals, kMcxAxes> inputs;
  std::array<double, kMcxAxes> ratios{};
  for (int i = 0; i < kMcxAxes; ++i) {
    for (std::size_t k = 0; k < kMcxInputs; ++k) inputs[static_cast<std::size_t>(i)][k] = axis(i).input(static_cast<McxInput>(k));
    ratios[static_cast<std::size_t>(i)] = axis(i).encoderRatio();
  }
  axes_ = {};
  regs_.clear();
  path_.reset();
  held_ = 0;
  pending_ = {};
  path_deceleration_ = false;
  for (int i = 0; i < kMcxAxes; ++i) {
    for (std::size_t k = 0; k < kMcxInputs; ++k) axis(i).input(static_cast<McxInput>(k)) = inputs[static_cast<std::size_t>(i)][k];
    axis(i).setEncoderRatio(0, ratios[static_cast<std::size_t>(i)]);
  }
}

}  // namespace zelvo::sim
