#include "zelvo/sim/mcx514_axis.hpp"

#include <cmath>

#include "zelvo/sim/mcx514_map.hpp"
#include "zelvo/sim/mcx514_path.hpp"

namespace zelvo::sim {
namespace {

using namespace mcx;

// WR2 bits.
constexpr int kHomeLevel = 2, kHomeStops = 3, kZLevel = 4, kZStops = 5, kInposLevel = 6, kAlarmLevel = 8,
              kAlarmEnable = 9, kLimitLevel = 10, kLimitEnable = 11, kLimitAtOnce = 12, kSoftEnable = 13,
              kSoftAtOnce = 15;
// WR3 bits.
constexpr int kSeparateDeceleration = 1, kPulseMode0 = 3, kPulseMode1 = 4, kOnePulseInvert = 6,
              kTwoPulseInvert = 7, kEncoderInvert = 11;
// RR1 bits: the ramp's phase.
constexpr std::uint16_t kAccelerating = 1 << 0, kCruising = 1 << 1, kDecelerating = 1 << 2;
// RR3 page 0 bit of each input, in McxInput order.
constexpr int kInputBit[kMcxInputs] = {1, 7, 8, 2, 5, 4};
// SYNC action words.
constexpr std::int64_t kBreakPointWord = 369, kForwardWord = 214, kBackwardWord = 230;
constexpr std::int64_t kCaptureRising[2] = {90, 91}, kCaptureFalling[2] = {106, 107};  // [LP, RP]
// H1M, H2M bits.
constexpr int kStep1 = 0, kStep1Back = 1, kStep2 = 2, kStep2Back = 3, kStep3 = 4, kStep3Back = 5, kStep1Limit = 6,
              kOffsetStep = 15;
constexpr int kClearLP = 1, kClearRP = 2;
// SYNC units.
constexpr int kSync0 = 1, kSync1 = 2, kSync3 = 8;

constexpr double kPulseSlack = 1e-7;  // rounding of a covered distance to whole pulses

bool bit(std::int64_t word, int b) { return (word >> b) & 1; }
int dirOf(std::int64_t v) { return v < 0 ? -1 : 1; }

}  // namespace

McxAxis::McxAxis() = default;

// --- registers -----------------------------------------------------------------------------------

std::int64_t McxAxis::reg(int code) const {
  const auto it = regs_.find(code);
  return it == regs_.end() ? 0 : it->second;
}

std::uint16_t McxAxis::wr2() const { return static_cast<std::uint16_t>(reg(MOTION_E2_WR2)); }
std::uint16_t McxAxis::wr3() const { return static_cast<std::uint16_t>(reg(MOTION_E3_WR3)); }

void McxAxis::write(double t, int code, std::int64_t value) {
  if (code == MOTION_09_LP) {  // the counter jumps; RP stays where it is
    const std::int64_t rp = real(t);
    const std::int64_t delta = value - logical(t);
    if (drive_) {
      drive_->x0 += delta;
      if (drive_->end) *drive_->end += delta;
      drive_->origin += delta;
    } else {
      rest_ = value;
    }
    lp_anchor_ = value;
    rp_anchor_ = rp;
    return;
  }
  if (code == MOTION_0A_RP) {
    lp_anchor_ = logical(t);
    rp_anchor_ = value;
    return;
  }
  if (code == MOTION_1C_GPIO) {  // byte 5: which lines, byte 6: their levels
    const auto mask = static_cast<std::uint8_t>(value >> 8), level = static_cast<std::uint8_t>(value);
    gpio_ = static_cast<std::uint8_t>((gpio_ & ~mask) | (level & mask));
    regs_[code] = value;
    return;
  }
  if (code == MOTION_E3_WR3) reanchor(t);  // the encoder's sense may change
  regs_[code] = value;
  if (code == MOTION_05_DV && drive_ && (drive_->purpose == Purpose::Move || drive_->purpose == Purpose::HomeOffset))
    retarget(t);
  if (code == MOTION_06_TP && drive_ && drive_->purpose == Purpose::Move &&
      (drive_->command == MOTION_50_DRVRL || drive_->command == MOTION_51_DRVNR || drive_->command == MOTION_54_DRVAB))
    retarget(t);
}

void McxAxis::setBit(double t, int wr_code, int b, bool on) {
  const std::int64_t word = reg(wr_code);
  write(t, wr_code, on ? (word | (1 << b)) : (word & ~(1 << b)));
}

Ramp::Limits McxAxis::limits() const {
  Ramp::Limits l;
  l.start = l.end = static_cast<double>(reg(MOTION_04_SV));
  l.drive = static_cast<double>(reg(MOTION_05_DV));
  l.acceleration = static_cast<double>(reg(MOTION_02_AC));
  l.deceleration = decelerationRate();
  return l;
}

double McxAxis::decelerationRate() const {
  return static_cast<double>(bit(wr3(), kSeparateDeceleration) ? reg(MOTION_03_DC) : reg(MOTION_02_AC));
}

// --- positions -----------------------------------------------------------------------------------

std::int64_t McxAxis::lpOf(const Drive& d, double t) const {
  auto steps = static_cast<std::int64_t>(std::floor(d.ramp.distanceAt(t - d.t0) + kPulseSlack));
  if (d.end) steps = std::min(steps, (*d.end - d.x0) * d.dir);
  return d.x0 + d.dir * steps;
}

std::int64_t McxAxis::logical(double t) const {
  if (path_) return path_->position(path_index_, t);
  return drive_ ? lpOf(*drive_, t) : rest_;
}

double McxAxis::encoderFactor() const {
  const std::uint16_t w = wr3();
  const bool one_pulse = bit(w, kPulseMode0) && bit(w, kPulseMode1);
  const bool motion_inverted = bit(w, one_pulse ? kOnePulseInvert : kTwoPulseInvert);
  const bool encoder_inverted = bit(w, kEncoderInvert);
  return ratio_ * ((motion_inverted != encoder_inverted) ? -1 : 1);
}

std::int64_t McxAxis::real(double t) const {
  return rp_anchor_ + std::llround(encoderFactor() * static_cast<double>(logical(t) - lp_anchor_));
}

void McxAxis::reanchor(double t) {
  rp_anchor_ = real(t);
  lp_anchor_ = logical(t);
}

void McxAxis::setEncoderRatio(double t, double ratio) {
  reanchor(t);
  ratio_ = ratio;
}

double McxAxis::speed(double t) const {
  if (path_) return path_->speed(t);
  return drive_ ? drive_->ramp.speedAt(t - drive_->t0) : 0;
}

double McxAxis::acceleration(double t) const { return drive_ ? drive_->ramp.accelerationAt(t - drive_->t0) : 0; }

bool McxAxis::driving() const { return drive_.has_value() || path_ != nullptr || homing_.has_value(); }

std::uint16_t McxAxis::rr1(double t) const {
  if (!drive_) return 0;
  const double a = acceleration(t);
  return a > 0 ? kAccelerating : (a < 0 ? kDecelerating : kCruising);
}

bool McxAxis::levelBit(McxInput in) const {
  switch (in) {
    case McxInput::Home:
      return bit(wr2(), kHomeLevel);
    case McxInput::Z:
      return bit(wr2(), kZLevel);
    case McxInput::Alarm:
      return bit(wr2(), kAlarmLevel);
    case McxInput::Inposition:
      return bit(wr2(), kInposLevel);
    case McxInput::LimitForward:
    case McxInput::LimitReverse:
      break;
  }
  return bit(wr2(), kLimitLevel);
}

bool McxAxis::level(McxInput in, std::int64_t lp) const {
  const InputSignal& s = inputs_[static_cast<std::size_t>(in)];
  if (!s.forced && s.placed.shape == PlacedSwitch::Shape::None) return !levelBit(in);  // open: never active
  return s.levelAt(lp);
}

bool McxAxis::active(McxInput in, std::int64_t lp) const { return level(in, lp) == levelBit(in); }

std::uint16_t McxAxis::rr3(double t) const {
  const std::int64_t lp = logical(t);
  std::uint16_t w = 0;
  for (std::size_t i = 0; i < kMcxInputs; ++i)
    if (level(static_cast<McxInput>(i), lp)) w = static_cast<std::uint16_t>(w | (1U << kInputBit[i]));
  return w;
}

std::optional<std::int64_t> McxAxis::edge(McxInput in, std::int64_t from, int dir, bool to) const {
  const InputSignal& s = inputs_[static_cast<std::size_t>(in)];
  if (s.forced) return std::nullopt;  // a forced level changes only when the test changes it
  // Active means the level equals the level bit: find where actuation gives that.
  const bool actuated = (to == (s.wired_high == levelBit(in)));
  return s.placed.nextEdge(from, dir, actuated);
}

// --- drives --------------------------------------------------------------------------------------

void McxAxis::begin(double t, std::int64_t x, int dir, Ramp ramp, Purpose purpose, std::optional<std::int64_t> pulses) {
  Drive d;
  d.t0 = t;
  d.x0 = x;
  d.dir = dir;
  d.purpose = purpose;
  if (pulses) d.end = x + dir * *pulses;
  else if (!ramp.endlessRun()) d.end = x + dir * static_cast<std::int64_t>(std::floor(ramp.length() + kPulseSlack));
  d.ramp = std::move(ramp);
  d.origin = x;
  drive_ = std::move(d);
  rest_ = x;
}

bool McxAxis::blocked(int dir, std::int64_t lp) {
  if (bit(wr2(), kAlarmEnable) && active(McxInput::Alarm, lp)) {
    rr2_ |= kAlarm;
    return true;
  }
  if (bit(wr2(), kLimitEnable) && active(dir > 0 ? McxInput::LimitForward : McxInput::LimitReverse, lp)) {
    rr2_ |= dir > 0 ? kLimitPlus : kLimitMinus;
    return true;
  }
  if (bit(wr2(), kSoftEnable) &&
      (dir > 0 ? lp >= reg(MOTION_0B_SP) : lp <= reg(MOTION_0C_SM))) {
    rr2_ |= dir > 0 ? kSoftPlus : kSoftMinus;
    return true;
  }
  return false;
}

void McxAxis::startDrive(double t, int command) {
  if (driving()) return;
  const std::int64_t lp = rest_;
  const std::int64_t tp = reg(MOTION_06_TP);
  std::optional<std::int64_t> end;
  int dir = 1;
  switch (command) {
    case MOTION_50_DRVRL:
      end = lp + tp;
      break;
    case MOTION_51_DRVNR:
      end = lp - tp;
      break;
    case MOTION_54_DRVAB:
      end = tp;
      break;
    case MOTION_53_DRVVM:
      dir = -1;
      break;
    default:
      break;
  }
  if (end) {
    if (*end == lp) return;
    dir = dirOf(*end - lp);
  }
  if (blocked(dir, lp)) return;
  if (end) {
    const std::int64_t pulses = (*end - lp) * dir;
    begin(t, lp, dir, Ramp::run(limits(), static_cast<double>(pulses)), Purpose::Move, pulses);
  } else {
    begin(t, lp, dir, Ramp::endless(limits()), Purpose::Move);
  }
  drive_->command = command;
}

void McxAxis::retarget(double t) {
  Drive& d = *drive_;
  const std::int64_t pos = lpOf(d, t);
  Ramp::Limits l = limits();
  l.start = d.ramp.speedAt(t - d.t0);
  std::optional<std::int64_t> end = d.end;
  if (d.purpose == Purpose::Move && d.end) {
    const std::int64_t tp = reg(MOTION_06_TP);
    if (d.command == MOTION_54_DRVAB) end = tp;
    if (d.command == MOTION_50_DRVRL) end = d.origin + tp;
    if (d.command == MOTION_51_DRVNR) end = d.origin - tp;
  }
  const Drive old = d;
  if (!end) {
    begin(t, pos, old.dir, Ramp::endless(l), old.purpose);
  } else {
    const double left = static_cast<double>((*end - pos) * old.dir);
    const double stopping = Ramp::stopping(l.start, l.end, l.deceleration).length();
    if (left < 1 || left < stopping) {  // behind the axis or too close to stop there: just stop
      begin(t, pos, old.dir, Ramp::stopping(l.start, l.end, l.deceleration), Purpose::Stop);
      drive_->command = old.command;
      return;
    }
    begin(t, pos, old.dir, Ramp::run(l, left), old.purpose, (*end - pos) * old.dir);
  }
  drive_->command = old.command;
  drive_->origin = old.origin;
}

void McxAxis::changeSpeed(double t, int command) {
  const std::int64_t iv = reg(MOTION_15_IV);
  const std::int64_t dv = reg(MOTION_05_DV) + (command == MOTION_70_VINC ? iv : -iv);
  regs_[MOTION_05_DV] = std::max<std::int64_t>(0, dv);
  if (drive_ && (drive_->purpose == Purpose::Move || drive_->purpose == Purpose::HomeOffset)) retarget(t);
}

void McxAxis::decelerateStop(double t) {
  homing_.reset();
  if (!drive_) {
    reverse_after_stop_ = false;  // a stop of an axis at rest does not reverse anything
    return;
  }
  const std::int64_t pos = lpOf(*drive_, t);
  const double v = drive_->ramp.speedAt(t - drive_->t0);
  begin(t, pos, drive_->dir, Ramp::stopping(v, static_cast<double>(reg(MOTION_04_SV)), decelerationRate()), Purpose::Stop);
}

void McxAxis::instantStop(double t) {
  homing_.reset();
  reverse_after_stop_ = false;
  if (drive_) finish(t, lpOf(*drive_, t));
}

void McxAxis::stopAt(double t, std::int64_t pos, bool at_once) {
  if (at_once) {
    reverse_after_stop_ = false;
    finish(t, pos);
    return;
  }
  const double v = drive_->ramp.speedAt(t - drive_->t0);
  const int dir = drive_->dir;
  begin(t, pos, dir, Ramp::stopping(v, static_cast<double>(reg(MOTION_04_SV)), decelerationRate()), Purpose::Stop);
}

void McxAxis::finish(double, std::int64_t pos) {
  drive_.reset();
  rest_ = pos;
}

void McxAxis::sync(double t, int units, bool enable) {
  sync_on_ = static_cast<std::uint8_t>(enable ? (sync_on_ | units) : (sync_on_ & ~units));
  if (enable && (units & kSync1)) {
    const std::int64_t word = reg(MOTION_27_S1M);
    if (word == kForwardWord || word == kBackwardWord) {
      // Armed for the next decelerating stop of a running drive.
      reverse_after_stop_ = true;
      reverse_dir_ = word == kForwardWord ? 1 : -1;
    }
  }
  if (!enable && (units & kSync1)) reverse_after_stop_ = false;
  (void)t;
}

void McxAxis::driveEnded(double t, std::int64_t pos, Purpose purpose) {
  finish(t, pos);
  if (purpose == Purpose::Stop && reverse_after_stop_) {
    reverse_after_stop_ = false;
    sync_on_ = static_cast<std::uint8_t>(sync_on_ & ~kSync1);
    ++counts_.reversals;
    startDrive(t, reverse_dir_ > 0 ? MOTION_52_DRVVP : MOTION_53_DRVVM);
    return;
  }
  if (purpose == Purpose::HomeStop && homing_) {
    ++homing_->step;
    homeStep(t);
  } else if (purpose == Purpose::HomeOffset && homing_) {
    homeDone(t);
  }
}

// --- events --------------------------------------------------------------------------------------

std::optional<McxAxis::Event> McxAxis::nextEvent() const {
  if (!drive_) return std::nullopt;
  const Drive& d = *drive_;
  const std::int64_t from = d.x0 + d.dir * d.passed;
  std::optional<Event> best;
  auto consider = [&](std::optional<std::int64_t> pos, What what, McxInput in = McxInput::Home) {
    if (!pos) return;
    const std::int64_t need = (*pos - d.x0) * d.dir;
    if (need <= d.passed) return;
    if (d.end && need > (*d.end - d.x0) * d.dir) return;
    const auto at = d.ramp.timeAt(static_cast<double>(need) - kPulseSlack);
    if (!at) return;
    const double t = d.t0 + *at;
    if (!best || t < best->t) best = Event{t, what, *pos, in, d.dir};
  };
  const std::uint16_t w2 = wr2();
  const McxInput limit = d.dir > 0 ? McxInput::LimitForward : McxInput::LimitReverse;
  if (bit(w2, kLimitEnable) || d.seek) consider(edge(limit, from, d.dir, true), What::Limit, limit);
  if (bit(w2, kSoftEnable)) consider(d.dir > 0 ? reg(MOTION_0B_SP) : reg(MOTION_0C_SM), What::Soft);
  if (d.purpose == Purpose::Move) {
    if (bit(w2, kHomeStops)) consider(edge(McxInput::Home, from, d.dir, true), What::StopSignal, McxInput::Home);
    if (bit(w2, kZStops)) consider(edge(McxInput::Z, from, d.dir, true), What::StopSignal, McxInput::Z);
  }
  if (d.seek) consider(edge(d.seek->first, from, d.dir, d.seek->second), What::Seek, d.seek->first);
  if ((sync_on_ & kSync0) && reg(MOTION_26_S0M) == kBreakPointWord) consider(reg(MOTION_10_MR0), What::BreakPoint);
  if (sync_on_ & kSync3) {
    const std::int64_t word = reg(MOTION_29_S3M);
    for (int type = 0; type < 2; ++type) {
      if (word == kCaptureRising[type]) consider(edge(McxInput::Z, from, d.dir, true), What::Capture, McxInput::Z);
      if (word == kCaptureFalling[type]) consider(edge(McxInput::Z, from, d.dir, false), What::Capture, McxInput::Z);
    }
  }
  const double end = d.t0 + d.ramp.duration();
  if (!best && std::isfinite(end)) return Event{end, What::End, d.end.value_or(d.x0), McxInput::Home, d.dir};
  if (best && std::isfinite(end) && end < best->t) return Event{end, What::End, d.end.value_or(d.x0), McxInput::Home, d.dir};
  return best;
}

void McxAxis::apply(const Event& e) {
  Drive& d = *drive_;
  if (e.what == What::End) {
    driveEnded(e.t, *d.end, d.purpose);
    return;
  }
  d.passed = (e.pos - d.x0) * d.dir;
  switch (e.what) {
    case What::Limit: {
      const std::uint16_t bits = e.dir > 0 ? kLimitPlus : kLimitMinus;
      const bool searched = d.seek && d.seek->first == e.input && d.seek->second;
      if (searched) break;  // the limit is what this step looks for: handled as the seek below
      if (homing_) return homeFailed(e.t, e.pos, bits);
      rr2_ |= bits;
      return stopAt(e.t, e.pos, bit(wr2(), kLimitAtOnce));
    }
    case What::Soft:
      rr2_ |= e.dir > 0 ? kSoftPlus : kSoftMinus;
      if (homing_) return homeFailed(e.t, e.pos, 0);
      return stopAt(e.t, e.pos, bit(wr2(), kSoftAtOnce));
    case What::StopSignal:
      return stopAt(e.t, e.pos, false);
    case What::BreakPoint:
      ++counts_.break_points;
      counts_.split_pulses += static_cast<std::uint64_t>(reg(MOTION_18_SP2));
      return;
    case What::Capture:
      ++counts_.captures;
      regs_[MOTION_13_MR3] = (reg(MOTION_29_S3M) & 1) ? real(e.t) : e.pos;
      return;
    default:
      break;
  }
  // A search step found its signal.
  if (!homing_) return finish(e.t, e.pos);
  if (homing_->step == 1) {
    drive_->seek.reset();
    stopAt(e.t, e.pos, false);
    drive_->purpose = Purpose::HomeStop;
    return;
  }
  finish(e.t, e.pos);
  if (homing_->leaving) {
    homing_->leaving = false;
  } else {
    ++homing_->step;
  }
  homeStep(e.t);
}

void McxAxis::settle(double now) {
  for (;;) {
    const auto e = nextEvent();
    if (!e || e->t > now) return;
    apply(*e);
  }
}

void McxAxis::inputChanged(double t) {
  settle(t);
  const std::int64_t lp = logical(t);
  if (bit(wr2(), kAlarmEnable) && active(McxInput::Alarm, lp) && driving()) {
    rr2_ |= kAlarm;
    if (homing_) return homeFailed(t, lp, kAlarm);
    return instantStop(t);
  }
  if (!drive_) return;
  const Drive& d = *drive_;
  const McxInput limit = d.dir > 0 ? McxInput::LimitForward : McxInput::LimitReverse;
  if (d.seek && active(d.seek->first, lp) == d.seek->second && inputs_[static_cast<std::size_t>(d.seek->first)].forced)
    return apply(Event{t, What::Seek, lp, d.seek->first, d.dir});
  if (bit(wr2(), kLimitEnable) && inputs_[static_cast<std::size_t>(limit)].forced && active(limit, lp))
    return apply(Event{t, What::Limit, lp, limit, d.dir});
  if (d.purpose == Purpose::Move && bit(wr2(), kHomeStops) && inputs_[0].forced && active(McxInput::Home, lp))
    return stopAt(t, lp, false);
}

// --- home search ---------------------------------------------------------------------------------

void McxAxis::startHoming(double t) {
  if (driving()) return;
  homing_ = Homing{};
  homeStep(t);
}

void McxAxis::homeSeek(double t, McxInput in, bool to, int dir, double speed) {
  const McxInput limit = dir > 0 ? McxInput::LimitForward : McxInput::LimitReverse;
  if (in != limit && active(limit, rest_)) dir = -dir;  // never into an active limit
  Ramp::Limits l = limits();
  if (speed > 0) l.start = l.drive = speed;  // a low-speed search runs at constant speed
  begin(t, rest_, dir, Ramp::endless(l), Purpose::Seek);
  drive_->seek = std::make_pair(in, to);
}

void McxAxis::homeStep(double t) {
  const std::int64_t h1m = reg(MOTION_23_H1M);
  const auto low = static_cast<double>(std::max<std::int64_t>(reg(MOTION_14_HV), 1));
  for (; homing_; ++homing_->step) {
    const int step = homing_->step;
    if (step == 1 && bit(h1m, kStep1)) {
      const int dir = bit(h1m, kStep1Back) ? -1 : 1;
      const McxInput target =
          bit(h1m, kStep1Limit) ? (dir > 0 ? McxInput::LimitForward : McxInput::LimitReverse) : McxInput::Home;
      if (active(target, rest_)) continue;
      return homeSeek(t, target, true, dir, 0);
    }
    if (step == 2 || step == 3) {
      const bool enabled = bit(h1m, step == 2 ? kStep2 : kStep3);
      if (!enabled) continue;
      const int dir = bit(h1m, step == 2 ? kStep2Back : kStep3Back) ? -1 : 1;
      const McxInput signal = step == 2 ? McxInput::Home : McxInput::Z;
      if (active(signal, rest_)) {
        homing_->leaving = true;
        return homeSeek(t, signal, false, -dir, low);
      }
      return homeSeek(t, signal, true, dir, low);
    }
    if (step == 4) {
      const std::int64_t offset = reg(MOTION_06_TP);
      if (!bit(h1m, kOffsetStep) || offset == 0) continue;
      const int dir = dirOf(offset);
      begin(t, rest_, dir, Ramp::run(limits(), static_cast<double>(offset * dir)), Purpose::HomeOffset, offset * dir);
      return;
    }
    if (step > 4) return homeDone(t);
  }
}

void McxAxis::homeDone(double t) {
  homing_.reset();
  const std::int64_t h2m = reg(MOTION_24_H2M);
  if (bit(h2m, kClearLP)) write(t, MOTION_09_LP, 0);
  if (bit(h2m, kClearRP)) write(t, MOTION_0A_RP, 0);
}

void McxAxis::homeFailed(double t, std::int64_t pos, std::uint16_t bits) {
  homing_.reset();
  rr2_ |= static_cast<std::uint16_t>(bits | kHomeError);
  finish(t, pos);
}

// --- interpolation -------------------------------------------------------------------------------

void McxAxis::followPath(std::shared_ptr<const PathDrive> path, int index) {
  path_ = std::move(path);
  path_index_ = index;
}

void McxAxis::leavePath(double, std::int64_t rest) {
  path_.reset();
  rest_ = rest;
}

}  // namespace zelvo::sim
