// The emulated devices' time: scaled, advanced, and waited on.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "zelvo/sim/sim_clock.hpp"

namespace {

using zelvo::sim::SimClock;
using namespace std::chrono_literals;

TEST(SimClock, RunsAtItsScaleAndJumpsWhenAdvanced) {
  SimClock c;
  const double t0 = c.now();
  c.advance(100);
  EXPECT_GE(c.now() - t0, 100);
  c.setScale(1000);
  const double t1 = c.now();
  std::this_thread::sleep_for(20ms);
  EXPECT_GE(c.now() - t1, 20 * 0.9);  // at least 20 ms x 1000, less rounding
  EXPECT_THROW(c.setScale(0), std::invalid_argument);
  EXPECT_THROW(c.advance(-1), std::invalid_argument);
}

TEST(SimClock, AWaitEndsWhenTheTimeIsReachedOrWhenItsOwnerStopsIt) {
  SimClock c;
  std::atomic<bool> stop{false};
  auto reached = std::async(std::launch::async, [&] { return c.waitUntil(c.now() + 3600, [&] { return stop.load(); }); });
  EXPECT_EQ(reached.wait_for(50ms), std::future_status::timeout);
  c.advance(3600);  // an hour passes at once
  EXPECT_TRUE(reached.get());
  auto stopped = std::async(std::launch::async, [&] { return c.waitUntil(c.now() + 3600, [&] { return stop.load(); }); });
  stop = true;
  c.notify();
  EXPECT_FALSE(stopped.get());
}

}  // namespace
