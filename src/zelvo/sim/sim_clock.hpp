// The time of one emulated device: the host's monotonic clock run at a scale tests set (10 runs it
// ten times faster), plus jumps tests make. Everything the emulator models over time reads it (the
// real-time clock, generators, counters, drives, paced streams), so a test need not wait out the
// real time of what it checks.
//
// A peripheral that computes its state from the time reads now() when asked. One that must act at a
// time of its own (a paced stream) waits with waitUntil(), which wakes early whenever the clock is
// rescaled or advanced, and whenever its owner calls notify() (to stop it).
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace zelvo::sim {

class SimClock {
 public:
  SimClock();
  SimClock(const SimClock&) = delete;
  SimClock& operator=(const SimClock&) = delete;

  // Seconds since the device started.
  double now() const;
  double scale() const;
  // A positive, finite scale; the time reached so far is kept.
  void setScale(double scale);
  // Moves the time forward at once (seconds >= 0).
  void advance(double seconds);

  // Blocks until now() >= t or done() holds (done is checked under the clock's lock: whoever makes
  // it true calls notify()). True when the time was reached.
  bool waitUntil(double t, const std::function<bool()>& done);
  void notify();

 private:
  using Steady = std::chrono::steady_clock;
  double nowLocked() const;

  mutable std::mutex m_;
  std::condition_variable cv_;
  double base_ = 0;             // simulated seconds at anchor_
  Steady::time_point anchor_;
  double scale_ = 1;
};

}  // namespace zelvo::sim
