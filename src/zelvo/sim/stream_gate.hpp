// Flow control between the firmware's stream producers and the transport that carries their packets.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>

#include "zelvo/sim/firmware.hpp"

namespace zelvo::sim {

// Flow control between the firmware's stream producers and the transport. The transport publishes
// how much stream output its receiving connections have not taken yet; a producer that must not
// lose data waits for room before it emits its next packet, instead of letting the transport queue
// (and, past its limit, drop) what a slow reader cannot take.
//
// Lock order: callers may hold the firmware's lock when they call in; the gate never calls out
// while it holds its own (a waiter's `cancelled` must not take locks).
class StreamGate {
 public:
  // Unsent stream bytes below which a producer may emit its next packet.
  static constexpr std::size_t kRoomBytes = 256 << 10;
  // Unread stream bytes beyond which a transport drops further stream packets for a receiver.
  // Only packets sent past the gate (a test's send_stream) can get there.
  static constexpr std::size_t kDropBeyondBytes = 4 << 20;

  enum class Room {
    Now,        // there was room at once
    AfterWait,  // the transport was backed up; the producer waited for it to drain
    Cancelled,  // `cancelled` turned true while waiting
    Closed,     // the transport has stopped; it takes no more stream packets
  };

  // Waits until the receivers' backlog is below kRoomBytes and, when `need_receiver` is set, at
  // least one connection receives streams. `cancelled` is evaluated at the start and after every
  // wake-up (wakeWaiters() forces one).
  Room waitForRoom(bool need_receiver, const std::function<bool()>& cancelled);
  // Wakes every waiter to re-evaluate its `cancelled`.
  void wakeWaiters();
  bool closed() const;

  // Transport side: the bytes of stream output its receivers have not taken yet and how many
  // connections receive streams; bytes handed over since; the end (every wait returns Closed).
  void publish(std::size_t backlog, std::size_t receivers);
  void addBacklog(std::size_t bytes);
  void close();

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::size_t backlog_ = 0;
  std::size_t receivers_ = 0;
  bool closed_ = false;
};

// The transport adds this module to the firmware when it starts serving, so stream producers find
// the gate with `fw.findModule<StreamFlow>()`. Without a transport there is none, and nothing
// limits them. Producers keep the gate by shared ownership, whatever the order modules go in.
class StreamFlow final : public FirmwareModule {
 public:
  void install(Firmware&) override {}
  const std::shared_ptr<StreamGate>& gate() const { return gate_; }

 private:
  std::shared_ptr<StreamGate> gate_ = std::make_shared<StreamGate>();
};

}  // namespace zelvo::sim
