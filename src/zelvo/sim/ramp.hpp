// The speed profile of one straight run of an emulated drive: pieces of constant acceleration
// starting from a given speed, as a trapezoid ramp makes them (accelerate to the drive speed,
// cruise, decelerate to the end speed). Positions and speeds are computed from the elapsed time
// when asked; nothing ticks.
//
// Rates are in pulses per second squared, speeds in pulses per second. A rate of 0 (or less)
// changes speed at once.
#pragma once

#include <limits>
#include <optional>
#include <vector>

namespace zelvo::sim {

class Ramp {
 public:
  struct Limits {
    double start = 0;         // speed at the start
    double drive = 0;         // the speed to reach and hold
    double end = 0;           // the speed a finite run slows down to before it ends
    double acceleration = 0;  // towards a higher speed
    double deceleration = 0;  // towards a lower speed
  };
  static constexpr double kEndless = std::numeric_limits<double>::infinity();

  Ramp() = default;
  // A run of `distance` pulses; it ends at its last pulse (at the end speed or, when too short to
  // slow down that far, faster).
  static Ramp run(const Limits& l, double distance);
  // A run without end: reaches the drive speed and holds it.
  static Ramp endless(const Limits& l);
  // Slows down from `speed` to `floor` and ends there (a decelerating stop).
  static Ramp stopping(double speed, double floor, double deceleration);

  // Distance covered `t` seconds after the start (the whole length after the end).
  double distanceAt(double t) const;
  double speedAt(double t) const;
  double accelerationAt(double t) const;
  // Seconds from start to end; kEndless for an endless run.
  double duration() const;
  double length() const;
  bool endlessRun() const { return endless_; }
  // When the distance first reaches `d`; none when it never does.
  std::optional<double> timeAt(double d) const;

 private:
  struct Piece {
    double t0, s0, v0, a, dur;
  };
  void add(double v0, double a, double dur);
  // Adds the change from speed v0 to v1 at `rate` (instant when rate <= 0).
  void change(double v0, double v1, double rate);
  // Keeps the profile up to distance d.
  void cutAt(double d);
  double end_t() const;
  double end_s() const;

  std::vector<Piece> pieces_;
  bool endless_ = false;
};

}  // namespace zelvo::sim
