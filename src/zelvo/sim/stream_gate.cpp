#include "zelvo/sim/stream_gate.hpp"

namespace zelvo::sim {

StreamGate::Room StreamGate::waitForRoom(bool need_receiver, const std::function<bool()>& cancelled) {
  std::unique_lock lock(mutex_);
  bool waited = false;
  for (;;) {
    if (closed_) return Room::Closed;
    if (cancelled()) return Room::Cancelled;
    if (backlog_ < kRoomBytes && (receivers_ > 0 || !need_receiver)) return waited ? Room::AfterWait : Room::Now;
    waited = true;
    cv_.wait(lock);
  }
}

void StreamGate::wakeWaiters() {
  std::lock_guard lock(mutex_);
  cv_.notify_all();
}

bool StreamGate::closed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

void StreamGate::publish(std::size_t backlog, std::size_t receivers) {
  std::lock_guard lock(mutex_);
  if (backlog == backlog_ && receivers == receivers_) return;
  backlog_ = backlog;
  receivers_ = receivers;
  cv_.notify_all();
}

void StreamGate::addBacklog(std::size_t bytes) {
  std::lock_guard lock(mutex_);
  backlog_ += bytes;
}

void StreamGate::close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  cv_.notify_all();
}

}  // namespace zelvo::sim
