#include "zelvo/sim/tmc5240_drive.hpp"

#include <cmath>

#include "zelvo/sim/tmc5240_map.hpp"

namespace zelvo::sim {
namespace {

using namespace tmc;

// RAMPMODE values.
constexpr int kPositioning = 0, kVelocityForward = 1, kVelocityBackward = 2, kHold = 3;
// GCONF and SWMODE bits.
constexpr int kShaft = 4;
constexpr int kStopLeftEnable = 0, kStopRightEnable = 1, kLeftLevel = 2, kRightLevel = 3, kSwap = 4;
// GSTAT: the reset flag set at power-on; the SPI status bits.
constexpr std::int64_t kResetFlag = 1;
constexpr int kStandstill = 3, kVelocityReached = 4, kPositionReached = 5, kStopLeft = 6, kStopRight = 7;
// RAMPSTAT bits.
constexpr int kStatusStopLeft = 0, kStatusStopRight = 1, kRampPositionReached = 9, kRampVelocityReached = 8;
constexpr int kIfcntBits = 8;
constexpr double kEncoderUnit = 65536;
constexpr double kPulseSlack = 1e-7;

// The base configuration the chip returns to at a factory reset (and starts with).
struct Default {
  int address;
  std::int64_t value;
};
constexpr Default kDefaults[] = {
    {TVST_00_GCONF, 8},         {TVST_0A_DRV_CONF, 32},         {TVST_10_IHOLD_IRUN, 461315},
    {TVST_11_TPOWERDOWN, 10},   {TVST_2A_D1, 10},               {TVST_2B_VSTOP, 10},
    {TVST_30_D2, 10},           {TVST_3A_ENC_CONST, 65536},     {TVST_52_OTW_OV_VTH, 194121509},
    {TVST_60_MSLUT0, 2863314260}, {TVST_61_MSLUT1, 1251300522}, {TVST_62_MSLUT2, 608774441},
    {TVST_63_MSLUT3, 269500962}, {TVST_64_MSLUT4, 4227858431},  {TVST_65_MSLUT5, 3048961917},
    {TVST_66_MSLUT6, 1227445590}, {TVST_67_MSLUT7, 4211234},    {TVST_68_MSLUTSEL, 4294934614},
    {TVST_69_MSLUTSTART, 16187392}, {TVST_6C_CHOPCONF, 4260179}, {TVST_70_PWMCONF, 3293315102},
    {TVST_74_SG4_THRS, 0},
};

bool bit(std::int64_t w, int b) { return (w >> b) & 1; }
int sign(std::int64_t v) { return v < 0 ? -1 : 1; }

}  // namespace

TmcDrive::TmcDrive() {
  for (const Default& d : kDefaults) regs_[d.address] = fitRegister(*findRegister(d.address), d.value);
  regs_[TVST_01_GSTAT] = kResetFlag;
  regs_[TVST_20_RAMPMODE] = kHold;
}

std::int64_t TmcDrive::reg(int address) const {
  const auto it = regs_.find(address);
  return it == regs_.end() ? 0 : it->second;
}

bool TmcDrive::shaft() const { return bit(reg(TVST_00_GCONF), kShaft); }

// --- positions -----------------------------------------------------------------------------------

std::int64_t TmcDrive::xAt(const Motion& m, double t) const {
  auto steps = static_cast<std::int64_t>(std::floor(m.ramp.distanceAt(t - m.t0) + kPulseSlack));
  if (m.end) steps = std::min(steps, (*m.end - m.x0) * m.dir);
  return m.x0 + m.dir * steps;
}

std::int64_t TmcDrive::position(double t) const { return motion_ ? xAt(*motion_, t) : rest_; }

double TmcDrive::velocity(double t) const {
  return motion_ ? motion_->dir * motion_->ramp.speedAt(t - motion_->t0) : 0.0;
}

std::int64_t TmcDrive::encoder(double t) const {
  const double factor = static_cast<double>(reg(TVST_3A_ENC_CONST)) / kEncoderUnit * (shaft() ? -1 : 1);
  return enc_anchor_ + std::llround(factor * static_cast<double>(position(t) - x_anchor_));
}

void TmcDrive::reanchor(double t) {
  enc_anchor_ = encoder(t);
  x_anchor_ = position(t);
}

// --- inputs --------------------------------------------------------------------------------------

bool TmcDrive::actuated(TmcInput in, std::int64_t x) const {
  const InputSignal& s = inputs_[static_cast<std::size_t>(in)];
  if (s.forced) return *s.forced == s.wired_high;
  return s.placed.actuatedAt(physical(x));
}

bool TmcDrive::level(TmcInput in, std::int64_t x) const {
  const InputSignal& s = inputs_[static_cast<std::size_t>(in)];
  if (s.forced) return *s.forced;
  return s.placed.actuatedAt(physical(x)) == s.wired_high;
}

TmcInput TmcDrive::stopSwitch(int dir) const {
  const bool swapped = bit(reg(TVST_34_SWMODE), kSwap);
  return (dir > 0) != swapped ? TmcInput::Right : TmcInput::Left;
}

bool TmcDrive::stopActive(int dir, std::int64_t x) const {
  const std::int64_t sw = reg(TVST_34_SWMODE);
  if (!bit(sw, dir > 0 ? kStopRightEnable : kStopLeftEnable)) return false;
  const TmcInput in = stopSwitch(dir);
  const InputSignal& s = inputs_[static_cast<std::size_t>(in)];
  if (!s.forced && s.placed.shape == PlacedSwitch::Shape::None) return false;  // open: never active
  return level(in, x) == bit(sw, dir > 0 ? kRightLevel : kLeftLevel);
}

std::optional<std::int64_t> TmcDrive::edge(TmcInput in, std::int64_t from, int dir, bool to_actuated) const {
  const InputSignal& s = inputs_[static_cast<std::size_t>(in)];
  if (s.forced) return std::nullopt;
  const int pdir = shaft() ? -dir : dir;
  const auto p = s.placed.nextEdge(physical(from), pdir, to_actuated);
  if (!p) return std::nullopt;
  return shaft() ? -*p : *p;
}

std::uint16_t TmcDrive::switchLevels(double t) const {
  const std::int64_t x = position(t);
  std::uint16_t w = 0;
  if (level(TmcInput::Left, x)) w |= 1;
  if (level(TmcInput::Right, x)) w |= 2;
  if (level(TmcInput::Home, x)) w |= 4;
  return w;
}

std::uint8_t TmcDrive::spiStatus(double t) const {
  const std::int64_t gstat = reg(TVST_01_GSTAT);
  const double v = velocity(t);
  const std::int64_t x = position(t);
  const std::int64_t vmax = reg(TVST_27_VMAX);
  std::uint8_t s = static_cast<std::uint8_t>(gstat & 0b11);
  if (v == 0) s |= 1 << kStandstill;
  if (vmax > 0 && std::llround(std::fabs(v)) == vmax) s |= 1 << kVelocityReached;
  if (reg(TVST_20_RAMPMODE) == kPositioning && v == 0 && x == reg(TVST_2D_XTARGET)) s |= 1 << kPositionReached;
  if (stopActive(-1, x)) s |= 1 << kStopLeft;
  if (stopActive(1, x)) s |= 1 << kStopRight;
  return s;
}

// --- registers -----------------------------------------------------------------------------------

std::optional<std::int64_t> TmcDrive::read(double t, int address) {
  settle(t);
  const Register* r = findRegister(address);
  if (!r) return std::nullopt;
  switch (address) {
    case TVST_21_XACTUAL:
      return fitRegister(*r, position(t));
    case TVST_22_VACTUAL:
      return fitRegister(*r, std::llround(velocity(t)));
    case TVST_39_XENC:
      return fitRegister(*r, encoder(t));
    case TVST_35_RAMPSTAT: {
      std::int64_t w = 0;
      const std::int64_t x = position(t);
      if (stopActive(-1, x)) w |= 1 << kStatusStopLeft;
      if (stopActive(1, x)) w |= 1 << kStatusStopRight;
      if (velocity(t) == 0) w |= 1 << kRampVelocityReached;
      if (reg(TVST_20_RAMPMODE) == kPositioning && !motion_ && x == reg(TVST_2D_XTARGET)) w |= 1 << kRampPositionReached;
      return w;
    }
    default:
      return reg(address);
  }
}

bool TmcDrive::write(double t, int address, std::int64_t value) {
  settle(t);
  const Register* r = findRegister(address);
  if (!r || r->access == Access::R) return false;
  const std::int64_t v = fitRegister(*r, value);
  regs_[TVST_02_IFCNT] = (reg(TVST_02_IFCNT) + 1) % (1 << kIfcntBits);
  switch (address) {
    case TVST_01_GSTAT:
    case TVST_3B_ENC_STATUS:
      regs_[address] = reg(address) & ~v;  // writing 1 clears
      return true;
    case TVST_21_XACTUAL: {
      const std::int64_t delta = v - position(t);
      reanchor(t);
      x_anchor_ += delta;
      if (motion_) {
        motion_->x0 += delta;
        if (motion_->end) *motion_->end += delta;
      } else {
        rest_ = v;
      }
      if (reg(TVST_20_RAMPMODE) == kPositioning) regenerate(t);  // it heads back for XTARGET
      return true;
    }
    case TVST_39_XENC:
      x_anchor_ = position(t);
      enc_anchor_ = v;
      return true;
    case TVST_00_GCONF:
    case TVST_3A_ENC_CONST:
      reanchor(t);
      regs_[address] = v;
      return true;
    default:
      break;
  }
  regs_[address] = v;
  const bool ramp = address == TVST_20_RAMPMODE || address == TVST_2D_XTARGET || address == TVST_27_VMAX ||
                    address == TVST_26_AMAX || address == TVST_28_DMAX || address == TVST_23_VSTART ||
                    address == TVST_2B_VSTOP;
  if (ramp && (motion_ || address == TVST_20_RAMPMODE || reg(TVST_20_RAMPMODE) == kPositioning)) regenerate(t);
  return true;
}

void TmcDrive::raiseFault(std::uint32_t gstat_bits) { regs_[TVST_01_GSTAT] = reg(TVST_01_GSTAT) | gstat_bits; }

// --- the ramp generator --------------------------------------------------------------------------

void TmcDrive::begin(double t, std::int64_t x, int dir, Ramp ramp, std::optional<std::int64_t> end,
                     bool then_regenerate) {
  Motion m;
  m.t0 = t;
  m.x0 = x;
  m.dir = dir;
  m.end = end;
  if (!end && !ramp.endlessRun()) m.end = x + dir * static_cast<std::int64_t>(std::floor(ramp.length() + kPulseSlack));
  m.ramp = std::move(ramp);
  m.then_regenerate = then_regenerate;
  motion_ = std::move(m);
  rest_ = x;
}

void TmcDrive::halt(double, std::int64_t pos) {
  motion_.reset();
  rest_ = pos;
}

void TmcDrive::regenerate(double t) {
  const std::int64_t x = position(t);
  const double v = velocity(t);
  const double speed = std::fabs(v);
  const int moving_dir = v < 0 ? -1 : 1;
  const auto acc = static_cast<double>(reg(TVST_26_AMAX));
  const auto dec = static_cast<double>(reg(TVST_28_DMAX));
  const auto vmax = static_cast<double>(reg(TVST_27_VMAX));
  const std::int64_t mode = reg(TVST_20_RAMPMODE);
  motion_.reset();
  rest_ = x;
  if (mode == kHold) {
    if (speed > 0) begin(t, x, moving_dir, Ramp::endless({.start = speed, .drive = speed}), std::nullopt, false);
    return;
  }
  if (mode == kPositioning) {
    const std::int64_t target = reg(TVST_2D_XTARGET);
    if (speed > 0 && (target == x || sign(target - x) != moving_dir))  // turn round first
      return begin(t, x, moving_dir, Ramp::stopping(speed, 0, dec), std::nullopt, true);
    if (target == x) return;
    const Ramp::Limits l{.start = std::max(speed, static_cast<double>(reg(TVST_23_VSTART))),
                         .drive = vmax,
                         .end = static_cast<double>(reg(TVST_2B_VSTOP)),
                         .acceleration = acc,
                         .deceleration = dec};
    const std::int64_t dir = sign(target - x);
    return begin(t, x, static_cast<int>(dir), Ramp::run(l, static_cast<double>((target - x) * dir)), target, false);
  }
  const int want = mode == kVelocityForward ? 1 : -1;
  if (speed > 0 && moving_dir != want) return begin(t, x, moving_dir, Ramp::stopping(speed, 0, acc), std::nullopt, true);
  if (vmax <= 0) {
    if (speed > 0) begin(t, x, moving_dir, Ramp::stopping(speed, 0, acc), std::nullopt, false);
    return;
  }
  begin(t, x, want, Ramp::endless({.start = speed, .drive = vmax, .acceleration = acc, .deceleration = acc}),
        std::nullopt, false);
}

std::optional<TmcDrive::Event> TmcDrive::nextEvent() const {
  if (!motion_) return std::nullopt;
  const Motion& m = *motion_;
  const std::int64_t from = m.x0 + m.dir * m.passed;
  std::optional<Event> best;
  auto consider = [&](std::optional<std::int64_t> pos, What what) {
    if (!pos) return;
    const std::int64_t need = (*pos - m.x0) * m.dir;
    if (need <= m.passed || (m.end && need > (*m.end - m.x0) * m.dir)) return;
    const auto at = m.ramp.timeAt(static_cast<double>(need) - kPulseSlack);
    if (!at) return;
    if (!best || m.t0 + *at < best->t || (m.t0 + *at == best->t && what == What::Watched))
      best = Event{m.t0 + *at, what, *pos};
  };
  if (watch_) consider(edge(watch_->input, from, m.dir, watch_->actuated), What::Watched);
  const std::int64_t sw = reg(TVST_34_SWMODE);
  if (bit(sw, m.dir > 0 ? kStopRightEnable : kStopLeftEnable)) {
    const TmcInput in = stopSwitch(m.dir);
    const bool high = bit(sw, m.dir > 0 ? kRightLevel : kLeftLevel);
    const bool to_actuated = high == inputs_[static_cast<std::size_t>(in)].wired_high;
    consider(edge(in, from, m.dir, to_actuated), What::StopSwitch);
  }
  const double end = m.t0 + m.ramp.duration();
  if (std::isfinite(end) && (!best || end < best->t)) return Event{end, What::End, m.end.value_or(m.x0)};
  return best;
}

void TmcDrive::apply(const Event& e) {
  Motion& m = *motion_;
  if (e.what == What::End) {
    const bool again = m.then_regenerate;
    halt(e.t, e.pos);
    if (again) return regenerate(e.t);
    return arrived(e.t);
  }
  m.passed = (e.pos - m.x0) * m.dir;
  halt(e.t, e.pos);  // both stop at once
  regs_[TVST_2D_XTARGET] = e.pos;
  regs_[TVST_20_RAMPMODE] = kHold;
  if (e.what == What::Watched) {
    watch_.reset();
    ++proc_.step;
    return runStep(e.t);
  }
  if (proc_.kind != Kind::None) finishProcedure(kFailed);
}

void TmcDrive::settle(double now) {
  for (;;) {
    const auto e = nextEvent();
    if (!e || e->t > now) return;
    apply(*e);
  }
}

void TmcDrive::inputChanged(double t) {
  settle(t);
  const std::int64_t x = position(t);
  if (watch_ && actuated(watch_->input, x) == watch_->actuated && inputs_[static_cast<std::size_t>(watch_->input)].forced) {
    if (motion_) apply(Event{t, What::Watched, x});
    return;
  }
  if (motion_ && stopActive(motion_->dir, x)) apply(Event{t, What::StopSwitch, x});
}

}  // namespace zelvo::sim
