// A bounded FIFO that a receive thread fills with decoded items (bytes of a UART, frames of a CAN
// port) and readers drain. When it is full the newest items are dropped and counted; the first drop
// after the queue had room starts an overflow burst, so that the owner warns once per burst.
//
// Readers wait for a count of items with WaitFor on atLeast(n). A wait also ends, whatever is
// queued, once `more_can_come` (evaluated under the queue's lock) says nothing more will arrive:
// the owner makes it false (the port closed, the link went down, the device closed) and then calls
// wakeReaders(), so a reader never waits for data that cannot come.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "zelvo/core/wait.hpp"

namespace zelvo {

template <class T>
class DeliveryQueue {
 public:
  DeliveryQueue(std::size_t capacity, std::function<bool()> more_can_come)
      : capacity_(capacity), more_can_come_(std::move(more_can_come)) {}
  DeliveryQueue(const DeliveryQueue&) = delete;
  DeliveryQueue& operator=(const DeliveryQueue&) = delete;

  // Appends what fits of [first, last); returns how many items were kept.
  template <class It>
  std::size_t push(It first, It last) {
    CountWaiters::Wakeups wake;
    std::size_t kept = 0;
    {
      std::lock_guard lock(m_);
      const auto offered = static_cast<std::size_t>(std::distance(first, last));
      kept = std::min(offered, capacity_ - std::min(capacity_, items_.size()));
      if (kept < offered) {
        dropped_ += offered - kept;
        if (!overflowing_) overflow_started_ = true;
        overflowing_ = true;
      } else {
        overflowing_ = false;
      }
      items_.insert(items_.end(), first, std::next(first, static_cast<std::ptrdiff_t>(kept)));
      waiting_.collectReady(items_.size(), wake);
    }
    CountWaiters::resume(wake);
    return kept;
  }

  std::size_t size() const {
    std::lock_guard lock(m_);
    return items_.size();
  }
  std::size_t capacity() const { return capacity_; }
  std::uint64_t dropped() const {
    std::lock_guard lock(m_);
    return dropped_;
  }
  // True once per overflow burst: when items were dropped after the queue had room.
  bool takeOverflowStart() {
    std::lock_guard lock(m_);
    return std::exchange(overflow_started_, false);
  }
  // Takes up to n items (all when n is negative), oldest first.
  std::vector<T> take(std::int64_t n) {
    std::lock_guard lock(m_);
    const std::size_t count = n < 0 ? items_.size() : std::min(items_.size(), static_cast<std::size_t>(n));
    std::vector<T> out(std::make_move_iterator(items_.begin()),
                       std::make_move_iterator(items_.begin() + static_cast<std::ptrdiff_t>(count)));
    items_.erase(items_.begin(), items_.begin() + static_cast<std::ptrdiff_t>(count));
    return out;
  }
  // Ends every wait now; each waiter re-checks nothing and takes what is queued.
  void wakeReaders() {
    CountWaiters::Wakeups wake;
    {
      std::lock_guard lock(m_);
      waiting_.collectReady(SIZE_MAX, wake);
    }
    CountWaiters::resume(wake);
  }

  // Slot source: ready once at least `count` items are queued, or once nothing more can come.
  struct AtLeast {
    DeliveryQueue& q;
    std::size_t count;
    bool takeOrSubscribe(const std::shared_ptr<Slot<Unit>>& s) {
      std::lock_guard lock(q.m_);
      const std::size_t enough = q.more_can_come_() ? count : 0;
      return q.waiting_.takeOrSubscribe(s, q.items_.size(), enough);
    }
    void unsubscribe(const Slot<Unit>* s) {
      std::lock_guard lock(q.m_);
      q.waiting_.unsubscribe(s);
    }
  };
  AtLeast atLeast(std::size_t count) { return AtLeast{*this, count}; }

 private:
  mutable std::mutex m_;
  std::deque<T> items_;
  const std::size_t capacity_;
  std::function<bool()> more_can_come_;
  std::uint64_t dropped_ = 0;
  bool overflowing_ = false;
  bool overflow_started_ = false;
  CountWaiters waiting_;
};

}  // namespace zelvo
