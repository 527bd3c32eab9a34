// The thread that sends the analog-input streams of one device. It sleeps until the next packet of
// some running stream is due (not at all while nothing streams), builds the packet, waits for room
// at the transport's StreamGate so that a slow reader loses nothing, and emits it. Unthrottled, it
// sends as fast as the transport takes packets, with the same sample values.
//
// Packets are committed under the firmware's lock: a command that stops a stream (handled under
// that lock) is never followed by a packet of it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "zelvo/sim/ai_format.hpp"
#include "zelvo/sim/ai_port.hpp"
#include "zelvo/sim/firmware.hpp"

namespace zelvo::sim {

class StreamGate;

class AiStreamer {
 public:
  // `mutex` guards `ports` (the firmware module's state); `fmt` is how stream samples are coded.
  AiStreamer(Firmware& fw, std::mutex& mutex, std::map<int, AiPort>& ports, SampleFormat fmt);
  ~AiStreamer();
  AiStreamer(const AiStreamer&) = delete;
  AiStreamer& operator=(const AiStreamer&) = delete;

  // The members below are called with `mutex` held.

  // Look at the streams again: one started or stopped, or a setting changed. Starts the thread at
  // the first call.
  void poke();
  bool unthrottled() const { return unthrottled_; }
  // Switching back to real rate continues every stream from where it is, at its rate.
  void setUnthrottled(bool on);

 private:
  struct Batch;

  void run();
  bool plan(AiClock::time_point now, Batch& batch, std::optional<AiClock::time_point>& wake);
  void send(Batch& batch, bool stalled);
  void stopAll();

  Firmware& fw_;
  std::mutex& mutex_;
  std::map<int, AiPort>& ports_;
  const SampleFormat fmt_;
  std::condition_variable cv_;
  bool unthrottled_ = false;
  bool quit_ = false;
  int last_port_ = -1;  // served last; the next plan starts after it so ports take turns
  std::atomic<std::uint64_t> seq_{0};  // bumped by poke(); cancels a wait for room
  std::shared_ptr<StreamGate> gate_;   // set by the thread before its first wait
  std::thread thread_;
};

}  // namespace zelvo::sim
