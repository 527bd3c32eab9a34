#include "zelvo/sim/stream_pacer.hpp"

#include <pthread.h>

#include <algorithm>
#include <limits>

#include "zelvo/sim/stream_gate.hpp"

namespace zelvo::sim {

StreamPacer::StreamPacer(Firmware& fw, std::string name, Collect collect)
    : fw_(fw), name_(std::move(name)), collect_(std::move(collect)) {}

StreamPacer::~StreamPacer() {
  quit_ = true;
  poke();
  std::thread t;
  {
    std::lock_guard lock(m_);
    t = std::move(thread_);
  }
  if (t.joinable()) t.join();
}

void StreamPacer::poke() {
  ++seq_;
  fw_.time().notify();
  std::lock_guard lock(m_);
  if (gate_) gate_->wakeWaiters();
  if (!thread_.joinable() && !quit_) {
    thread_ = std::thread([this] { run(); });
    pthread_setname_np(thread_.native_handle(), name_.c_str());
  }
}

void StreamPacer::setUnthrottled(bool on) {
  unthrottled_ = on;
  poke();
}

void StreamPacer::run() {
  constexpr double kNever = std::numeric_limits<double>::infinity();
  std::optional<double> due = fw_.time().now();  // a first look at once
  double last = -kNever;
  std::uint64_t seen = seq_.load();
  while (!quit_) {
    const double wake = !due ? kNever : unthrottled_ ? *due : std::max(*due, last + kMinGap);
    fw_.time().waitUntil(wake, [&] { return poked(seen); });
    if (quit_) break;
    std::shared_ptr<StreamGate> gate;
    {
      std::lock_guard lock(m_);
      gate = gate_;
    }
    if (!gate) {
      // The transport adds its flow control when it starts serving. (Looked up without m_: a
      // command handler holds the firmware's lock when it pokes.)
      if (const auto* flow = fw_.findModule<StreamFlow>()) {
        gate = flow->gate();
        std::lock_guard lock(m_);
        gate_ = gate;
      }
    }
    if (gate) {
      // A poke from here on (not the one that ended the sleep) interrupts the wait for room; the
      // loop then plans again at once.
      const std::uint64_t now_seen = seq_.load();
      const auto room = gate->waitForRoom(unthrottled_, [&] { return poked(now_seen); });
      if (room == StreamGate::Room::Closed) break;  // the transport is gone, and its stream output
      if (room == StreamGate::Room::Cancelled) {
        due = fw_.time().now();
        continue;
      }
    }
    {
      std::lock_guard lock(fw_.mutex());
      // Taken before this look at the pending data: a poke after it (a write handled between this
      // block and the next wait, say) ends that wait at once instead of being slept through.
      seen = seq_.load();
      Replies out;
      last = fw_.time().now();
      due = collect_(last, unthrottled_, out);
      for (auto& packet : out) fw_.emitStream(std::move(packet));
    }
  }
}

}  // namespace zelvo::sim
