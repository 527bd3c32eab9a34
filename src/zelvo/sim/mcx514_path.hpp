// An interpolated drive of the emulated motion chip: several axes moving along one path (a line,
// an arc, a helix) at the main axis's speed and ramp. Positions come from the arc length the ramp
// has covered at the time asked.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "zelvo/sim/ramp.hpp"

namespace zelvo::sim {

inline constexpr int kMcxAxes = 4;
using AxisValues = std::array<std::int64_t, kMcxAxes>;
using AxisOffsets = std::array<double, kMcxAxes>;

class PathDrive {
 public:
  // Offsets of the axes from their start at arc length s (0 <= s <= length).
  using Shape = std::function<AxisOffsets(double s)>;

  // A path of `length` pulses from `start`, ending exactly at `end`, run with `ramp` from t0.
  PathDrive(double t0, int axes, AxisValues start, AxisValues end, double length, Shape shape, Ramp ramp);

  int axes() const { return axes_; }
  bool uses(int axis) const { return (axes_ >> axis) & 1; }
  std::int64_t position(int axis, double t) const;
  double speed(double t) const { return ramp_.speedAt(t - t0_); }
  // When the drive ends (infinite when it never does).
  double endTime() const { return t0_ + ramp_.duration(); }
  // The same path from time t on, slowing down to `floor` at `deceleration` and ending there.
  std::shared_ptr<PathDrive> stopping(double t, double floor, double deceleration) const;
  // Every axis's position at time t.
  AxisValues positionsAt(double t) const;

 private:
  double arc(double t) const;

  double t0_;
  int axes_;
  AxisValues start_, end_;
  double length_;
  Shape shape_;
  Ramp ramp_;
  double arc0_ = 0;  // arc length at t0 (a stop continues a path)
};

// The shapes: a line to the relative end point; an arc around a center (relative to the start)
// to a finish point, clockwise or not, plus full turns for a helix whose other axes climb
// `pitch` per turn.
struct ArcPlan {
  double radius = 0;
  double start_angle = 0;  // of the start point seen from the center
  double sweep = 0;        // radians, always >= 0
  bool clockwise = true;
};
ArcPlan planArc(double cx, double cy, double fx, double fy, bool clockwise, int full_turns, bool full_circle_when_closed);

}  // namespace zelvo::sim
