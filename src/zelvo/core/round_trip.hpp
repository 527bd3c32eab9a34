// How long a device takes to answer, as seen on one link, and what follows from it for the
// exchange layer: how long a send may still be answered (after that it counts as lost) and how
// long a new request waits for the answers to earlier sends of its key.
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>

namespace zelvo {

// A new request waits at most this long for the answers to earlier sends of its key.
inline constexpr double kMaxQuarantine = 1.0;
// A send may still be answered for at least this long (before any round trip was measured, too):
// a device that was quick can turn slow at any time, and a reply that comes after the lifetime can
// no longer be told from the next request's. The request after an unanswered one waits up to this.
inline constexpr double kMinSendLifetime = kMaxQuarantine;
// At most this long, however slow the device has been.
inline constexpr double kMaxSendLifetime = 10.0;
// The lifetime is this many retransmission time-outs (smoothed round trip plus four deviations).
inline constexpr double kSendLifetimeRtos = 2.0;

// Smoothed round-trip time and its deviation, updated as for a retransmission timer: each sample
// moves the average by an eighth and the deviation by a quarter of the difference.
class RoundTrip {
 public:
  void sample(double seconds) {
    if (!(seconds >= 0)) return;
    if (!measured_) {
      srtt_ = seconds;
      rttvar_ = seconds / 2;
      measured_ = true;
      return;
    }
    rttvar_ = 0.75 * rttvar_ + 0.25 * std::fabs(srtt_ - seconds);
    srtt_ = 0.875 * srtt_ + 0.125 * seconds;
  }
  bool measured() const { return measured_; }
  double smoothed() const { return srtt_; }
  // How long after a send its reply may still come.
  double sendLifetime() const {
    if (!measured_) return kMinSendLifetime;
    return std::clamp(kSendLifetimeRtos * (srtt_ + 4 * rttvar_), kMinSendLifetime, kMaxSendLifetime);
  }

 private:
  bool measured_ = false;
  double srtt_ = 0;
  double rttvar_ = 0;
};

}  // namespace zelvo
