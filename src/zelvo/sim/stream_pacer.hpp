// The thread that sends one peripheral's stream packets when they fall due on the device's time
// (UART bytes received at the line's pace, CAN frames one frame time apart). It sleeps until the
// next packet is due (not at all while nothing is pending), waits for room at the transport's
// StreamGate so that a slow reader loses nothing, then asks the peripheral, under the firmware's
// lock, for the packets due now and emits them: a command that stops a stream (handled under that
// lock) is never followed by a packet of it.
//
// Wake-ups are at least kMinGap of device time apart: what falls due meanwhile leaves in the same
// packets, so a fast line costs a bounded number of wake-ups. Unthrottled, everything pending is
// due at once and goes out as fast as the transport takes it.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "zelvo/sim/firmware.hpp"

namespace zelvo::sim {

class StreamGate;

class StreamPacer {
 public:
  // Device seconds between two wake-ups at least.
  static constexpr double kMinGap = 0.001;

  // Called with the firmware's lock held: appends the packets due at device time `now` (all
  // pending ones when `unthrottled`) to `out`, and returns the device time at which the next one
  // falls due (none: nothing pending).
  using Collect = std::function<std::optional<double>(double now, bool unthrottled, Replies& out)>;

  // `name`: the thread's name (at most 15 characters), so tools can tell it apart.
  StreamPacer(Firmware& fw, std::string name, Collect collect);
  // Stops the thread; the owner destroys the pacer before the state `collect` reads.
  ~StreamPacer();
  StreamPacer(const StreamPacer&) = delete;
  StreamPacer& operator=(const StreamPacer&) = delete;

  // Something changed (a write, a start, a setting): plan again. Starts the thread the first time.
  // May be called with the firmware's lock held.
  void poke();
  void setUnthrottled(bool on);
  bool unthrottled() const { return unthrottled_.load(); }

 private:
  void run();
  bool poked(std::uint64_t seen) const { return quit_.load() || seq_.load() != seen; }

  Firmware& fw_;
  const std::string name_;
  const Collect collect_;
  std::atomic<bool> quit_{false};
  std::atomic<bool> unthrottled_{false};
  std::atomic<std::uint64_t> seq_{0};
  std::mutex m_;                      // gate_ and thread_
  std::shared_ptr<StreamGate> gate_;  // found by the thread
  std::thread thread_;
};

}  // namespace zelvo::sim
