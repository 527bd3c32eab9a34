// A stream no operation reads (the answers to the analog-output and AHRS starts): its packets wait
// in the device's raw stream queue, which is bounded, and a packet that does not fit is dropped
// with one warning per burst of drops, so memory cannot grow and the application hears of it once.
#pragma once

#include <atomic>

#include "zelvo/core/device.hpp"
#include "zelvo/core/errors.hpp"

namespace zelvo {

class UnreadStream {
 public:
  // Files the packets of `key` on `dev`; `warning` is the ZelvoWarning given when drops begin.
  UnreadStream(Device& dev, StreamKey key, Err warning);
  ~UnreadStream();
  UnreadStream(const UnreadStream&) = delete;
  UnreadStream& operator=(const UnreadStream&) = delete;

  // Packets dropped so far.
  std::uint64_t dropped() const;

 private:
  void onPacket(ByteView stored);

  Device& dev_;
  const StreamKey key_;
  const Err warning_;
  std::atomic<bool> dropping_{false};  // within a burst of drops (receive thread only)
};

}  // namespace zelvo
