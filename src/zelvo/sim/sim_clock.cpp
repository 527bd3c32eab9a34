#include "zelvo/sim/sim_clock.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace zelvo::sim {
namespace {

// A wait this far ahead of real time is as good as forever (and keeps the arithmetic in range).
constexpr double kMaxWaitSeconds = 1e6;

}  // namespace

SimClock::SimClock() : anchor_(Steady::now()) {}

double SimClock::nowLocked() const {
  return base_ + std::chrono::duration<double>(Steady::now() - anchor_).count() * scale_;
}

double SimClock::now() const {
  std::lock_guard lock(m_);
  return nowLocked();
}

double SimClock::scale() const {
  std::lock_guard lock(m_);
  return scale_;
}

void SimClock::setScale(double scale) {
  if (!(scale > 0) || !std::isfinite(scale)) throw std::invalid_argument("the time scale must be positive and finite");
  {
    std::lock_guard lock(m_);
    base_ = nowLocked();
    anchor_ = Steady::now();
    scale_ = scale;
  }
  cv_.notify_all();
}

void SimClock::advance(double seconds) {
  if (!(seconds >= 0) || !std::isfinite(seconds)) throw std::invalid_argument("time only moves forward");
  {
    std::lock_guard lock(m_);
    base_ += seconds;
  }
  cv_.notify_all();
}

bool SimClock::waitUntil(double t, const std::function<bool()>& done) {
  std::unique_lock lock(m_);
  for (;;) {
    if (done()) return false;
    const double left = t - nowLocked();
    if (left <= 0) return true;
    const double real = std::min(left / scale_, kMaxWaitSeconds);
    cv_.wait_for(lock, std::chrono::duration<double>(real));
  }
}

void SimClock::notify() {
  { std::lock_guard lock(m_); }  // a waiter between its check and its wait sees the change
  cv_.notify_all();
}

}  // namespace zelvo::sim
