// USB transport of one emulated device: plugs it into the shim's bus (usb_bus.hpp) and serves
// its bulk endpoints with one thread. OUT transfers (requests, zero-padded to 64 bytes) are queued
// by the shim's callback and parsed on that thread; replies and stream packets go to the IN
// endpoint. Idle, the thread sleeps on a condition variable; its only timed wake-ups are replies
// scheduled for later (delays, split writes).
//
// Unplugging ends the bus's view of the device (the host's transfers fail with NO_DEVICE);
// plugging in again enumerates a fresh device with the firmware's current serial number, as a
// real device does, and nothing of the earlier connection (half-parsed requests, replies not yet
// sent) carries over.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "zelvo/sim/faults.hpp"
#include "zelvo/sim/firmware.hpp"
#include "zelvo/sim/stream_gate.hpp"
#include "zelvo/sim/usb_bus.hpp"

namespace zelvo::sim {

// The family's USB identity, as the device reports it.
inline constexpr std::uint16_t kUsbVendorId = 0x0483;
inline constexpr std::uint16_t kUsbProductId = 0x5750;
inline constexpr std::uint16_t kUsbDeviceRelease = 0x0100;
inline constexpr const char* kUsbManufacturer = "Zelvo";

class UsbDeviceServer {
 public:
  // Plugs the device in and starts serving. Throws UsbShimError when the shim cannot be loaded.
  UsbDeviceServer(Firmware& fw, FaultPlan& faults);
  ~UsbDeviceServer();
  UsbDeviceServer(const UsbDeviceServer&) = delete;
  UsbDeviceServer& operator=(const UsbDeviceServer&) = delete;

  // Unplugs and joins the thread. Idempotent.
  void stop();
  bool running() const { return !stopped_.load(); }

  void unplug();
  // Plugs in again (nothing when plugged); std::logic_error once stopped.
  void plug();
  bool plugged() const;
  std::size_t openHandles() const;

  // A stream packet for the IN endpoint (no faults). Dropped while unplugged, and when the host
  // leaves more than 4 MiB unread. Callable from any thread.
  void sendStream(Reply packet);

  // The latest OUT transfers as they arrived (padding included), oldest first; at most
  // kOutLogSize.
  std::vector<Bytes> outTransfers() const;
  static constexpr std::size_t kOutLogSize = 256;

  // The next n reads of the IN endpoint fail with an I/O error; std::logic_error when unplugged.
  void failInTransfers(int n);
  int inFailuresLeft() const;

 private:
  struct Chunk {
    std::chrono::steady_clock::time_point due;
    Bytes data;
    std::uint64_t generation;
    bool stream;
  };
  struct Tagged {
    std::uint64_t generation;
    Bytes data;
  };
  struct TaggedReply {
    std::uint64_t generation;
    Reply packet;
  };

  void receive(ByteView transfer);
  void run();
  void serve(const Tagged& transfer);
  void answer(const Request& req, std::uint64_t generation);
  void scheduleStreams();
  void schedule(Chunk chunk, const ReplyShaping& shaping);
  void flushDue();
  UsbIdentity identity() const;

  Firmware& fw_;
  FaultPlan& faults_;

  // Shared with other threads.
  mutable std::mutex m_;
  std::condition_variable cv_;
  std::deque<Tagged> inbox_;
  std::vector<TaggedReply> streams_;
  std::deque<Bytes> out_log_;
  bool stopping_ = false;

  // The plugged-in device; `generation_` counts plugs and unplugs (changed under port_m_), so
  // what belongs to an earlier connection is recognised and dropped.
  mutable std::mutex port_m_;
  std::unique_ptr<UsbPlug> port_;
  std::atomic<std::uint64_t> generation_{0};

  // Publishes the unread stream bytes (queued at the shim and still scheduled) to the gate.
  void publishBacklog();
  bool backedUp() const;

  // The thread's own.
  RequestParser parser_;
  std::uint64_t parser_generation_ = 0;
  std::deque<Chunk> scheduled_;

  std::mutex stop_m_;
  std::atomic<bool> stopped_{false};
  std::shared_ptr<StreamGate> gate_;  // tells stream producers how far the host is behind
  std::size_t backlog_ = 0;           // last published; server thread only
  std::thread thread_;
};

}  // namespace zelvo::sim
