#include "zelvo/sim/mcx514_path.hpp"

#include <cmath>
#include <numbers>

namespace zelvo::sim {

PathDrive::PathDrive(double t0, int axes, AxisValues start, AxisValues end, double length, Shape shape, Ramp ramp)
    : t0_(t0), axes_(axes), start_(start), end_(end), length_(length), shape_(std::move(shape)), ramp_(std::move(ramp)) {}

double PathDrive::arc(double t) const { return std::min(length_, arc0_ + ramp_.distanceAt(t - t0_)); }

std::int64_t PathDrive::position(int axis, double t) const {
  if (!uses(axis)) return start_[static_cast<std::size_t>(axis)];
  const double s = arc(t);
  if (s >= length_) return end_[static_cast<std::size_t>(axis)];
  const auto i = static_cast<std::size_t>(axis);
  return start_[i] + std::llround(shape_(s)[i]);
}

AxisValues PathDrive::positionsAt(double t) const {
  AxisValues out{};
  for (int a = 0; a < kMcxAxes; ++a) out[static_cast<std::size_t>(a)] = position(a, t);
  return out;
}

std::shared_ptr<PathDrive> PathDrive::stopping(double t, double floor, double deceleration) const {
  auto p = std::make_shared<PathDrive>(*this);
  p->arc0_ = arc(t);
  p->t0_ = t;
  p->ramp_ = Ramp::stopping(speed(t), floor, deceleration);
  // Stopped short of the end: the path ends where the ramp leaves it.
  const double s_end = std::min(length_, p->arc0_ + p->ramp_.length());
  if (s_end < length_) {
    for (int a = 0; a < kMcxAxes; ++a)
      if (uses(a)) {
        const auto i = static_cast<std::size_t>(a);
        p->end_[i] = start_[i] + std::llround(shape_(s_end)[i]);
      }
    p->length_ = s_end;
  }
  return p;
}

ArcPlan planArc(double cx, double cy, double fx, double fy, bool clockwise, int full_turns,
                bool full_circle_when_closed) {
  constexpr double kTurn = 2 * std::numbers::pi;
  ArcPlan plan;
  plan.clockwise = clockwise;
  plan.radius = std::hypot(cx, cy);
  plan.start_angle = std::atan2(-cy, -cx);
  const double end_angle = std::atan2(fy - cy, fx - cx);
  double sweep = clockwise ? plan.start_angle - end_angle : end_angle - plan.start_angle;
  sweep = std::fmod(sweep, kTurn);
  if (sweep < 0) sweep += kTurn;
  if (sweep < 1e-12 && full_circle_when_closed) sweep = kTurn;
  plan.sweep = sweep + kTurn * full_turns;
  return plan;
}

}  // namespace zelvo::sim
