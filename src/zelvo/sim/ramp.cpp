#include "zelvo/sim/ramp.hpp"

#include <algorithm>
#include <cmath>

namespace zelvo::sim {
namespace {

// Distance left over that counts as none (rounding of the pieces' sums).
constexpr double kSlack = 1e-6;

double changeDistance(double v0, double v1, double rate) {
  return rate > 0 ? std::fabs(v1 * v1 - v0 * v0) / (2 * rate) : 0;
}

// Seconds into a piece (start speed v0, acceleration a) until it has covered ds; none if never.
std::optional<double> timeInto(double v0, double a, double ds) {
  if (ds <= 0) return 0.0;
  if (a == 0) {
    if (v0 <= 0) return std::nullopt;
    return ds / v0;
  }
  const double disc = v0 * v0 + 2 * a * ds;
  if (disc < 0) return std::nullopt;
  const double root = std::sqrt(disc);
  if (v0 + root <= 0) return std::nullopt;
  return 2 * ds / (v0 + root);
}

}  // namespace

void Ramp::add(double v0, double a, double dur) {
  if (!(dur > 0)) return;
  pieces_.push_back(Piece{end_t(), end_s(), v0, a, dur});
}

void Ramp::change(double v0, double v1, double rate) {
  if (v0 == v1 || rate <= 0) return;
  add(v0, v1 > v0 ? rate : -rate, std::fabs(v1 - v0) / rate);
}

double Ramp::end_t() const { return pieces_.empty() ? 0 : pieces_.back().t0 + pieces_.back().dur; }

double Ramp::end_s() const {
  if (pieces_.empty()) return 0;
  const Piece& p = pieces_.back();
  if (std::isinf(p.dur)) return kEndless;
  return p.s0 + p.v0 * p.dur + p.a * p.dur * p.dur / 2;
}

void Ramp::cutAt(double d) {
  for (std::size_t i = 0; i < pieces_.size(); ++i) {
    Piece& p = pieces_[i];
    const auto t = timeInto(p.v0, p.a, d - p.s0);
    if (t && *t <= p.dur) {
      p.dur = *t;
      pieces_.resize(i + 1);
      endless_ = false;
      return;
    }
  }
}

Ramp Ramp::run(const Limits& l, double distance) {
  Ramp r;
  if (distance <= kSlack) return r;
  const double drive = std::max(l.drive, 0.0);
  const double a = l.acceleration, d = l.deceleration;
  double v = std::max(l.start, 0.0);
  if (v > drive) {  // slower now than before: first down to the drive speed
    r.change(v, drive, d);
    v = drive;
  }
  const double end = std::min(std::max(l.end, 0.0), drive);
  const double left = distance - std::min(r.end_s(), distance);
  const double inv_a = a > 0 ? 1 / (2 * a) : 0, inv_d = d > 0 ? 1 / (2 * d) : 0;
  double peak = drive;
  if (inv_a + inv_d > 0)
    peak = std::min(drive, std::sqrt(std::max(0.0, (left + v * v * inv_a + end * end * inv_d) / (inv_a + inv_d))));
  const double top = std::max(peak, v);  // too short to speed up: hold the speed it has
  r.change(v, top, a);
  const double floor = std::min(end, top);
  const double cruise = distance - r.end_s() - changeDistance(top, floor, d);
  if (cruise > 0 && top > 0) r.add(top, 0, cruise / top);
  r.change(top, floor, d);
  const double short_by = distance - r.end_s();
  if (short_by > kSlack) {
    if (floor > 0)
      r.add(floor, 0, short_by / floor);
    else
      r.add(0, 0, kEndless), r.endless_ = true;  // a drive speed of 0 never gets there
  }
  r.cutAt(distance);
  return r;
}

Ramp Ramp::endless(const Limits& l) {
  Ramp r;
  const double drive = std::max(l.drive, 0.0);
  const double v = std::max(l.start, 0.0);
  r.change(v, drive, v > drive ? l.deceleration : l.acceleration);
  r.add(drive, 0, kEndless);
  r.endless_ = true;
  return r;
}

Ramp Ramp::stopping(double speed, double floor, double deceleration) {
  Ramp r;
  r.change(speed, std::min(floor, speed), deceleration);
  return r;
}

double Ramp::distanceAt(double t) const {
  if (t <= 0 || pieces_.empty()) return 0;
  for (const Piece& p : pieces_) {
    if (t < p.t0 + p.dur) {
      const double tau = t - p.t0;
      return p.s0 + p.v0 * tau + p.a * tau * tau / 2;
    }
  }
  return end_s();
}

double Ramp::speedAt(double t) const {
  if (t < 0) return pieces_.empty() ? 0 : pieces_.front().v0;
  for (const Piece& p : pieces_)
    if (t < p.t0 + p.dur) return p.v0 + p.a * (t - p.t0);
  return 0;
}

double Ramp::accelerationAt(double t) const {
  for (const Piece& p : pieces_)
    if (t >= p.t0 && t < p.t0 + p.dur) return p.a;
  return 0;
}

double Ramp::duration() const { return endless_ ? kEndless : end_t(); }
double Ramp::length() const { return endless_ ? kEndless : end_s(); }

std::optional<double> Ramp::timeAt(double d) const {
  if (d <= 0) return 0.0;
  for (const Piece& p : pieces_) {
    const auto t = timeInto(p.v0, p.a, d - p.s0);
    if (t && *t <= p.dur) return p.t0 + *t;
  }
  return std::nullopt;
}

}  // namespace zelvo::sim
