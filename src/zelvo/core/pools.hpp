// The pools the receive threads fill and operations wait on: echo replies by key (reply_pool.hpp),
// FIFO queues of streamed payloads, broadcast answers by command code, and the per-key request
// gates.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <type_traits>
#include <utility>
#include <unordered_map>
#include <vector>

#include "zelvo/core/bytes.hpp"
#include "zelvo/core/reply_pool.hpp"
#include "zelvo/core/wait.hpp"

namespace zelvo {

// Same-key requests of one device are serialised: a FIFO gate per key, usable by both families.
class KeyGates {
 public:
  class Ticket {
   public:
    Ticket() = default;
    Ticket(KeyGates* g, ReplyKey k) : gates_(g), key_(k) {}
    Ticket(Ticket&& o) noexcept : gates_(std::exchange(o.gates_, nullptr)), key_(o.key_) {}
    Ticket& operator=(Ticket&&) = delete;
    ~Ticket() {
      if (gates_) gates_->release(key_);
    }

   private:
    KeyGates* gates_ = nullptr;
    ReplyKey key_ = 0;
  };

  struct KeySource {
    KeyGates& gates;
    ReplyKey key;
    bool takeOrSubscribe(const std::shared_ptr<Slot<Unit>>& s);
    void unsubscribe(const Slot<Unit>* s);
  };
  KeySource source(ReplyKey key) { return KeySource{*this, key}; }
  void release(ReplyKey key);

 private:
  struct Gate {
    bool held = false;
    std::deque<std::shared_ptr<Slot<Unit>>> queue;
  };
  std::mutex m_;
  std::unordered_map<ReplyKey, Gate> gates_;
};

// Bytes that several queues share a bound on (a device's raw stream queues).
class ByteBudget {
 public:
  explicit ByteBudget(std::size_t limit) : limit_(limit) {}
  // Takes n bytes of the budget; false (nothing taken) when they do not fit.
  bool take(std::size_t n) {
    std::size_t used = used_.load();
    do {
      if (n > limit_ - std::min(used, limit_)) return false;
    } while (!used_.compare_exchange_weak(used, used + n));
    return true;
  }
  void give(std::size_t n) { used_.fetch_sub(n); }
  std::size_t used() const { return used_.load(); }
  std::size_t limit() const { return limit_; }

 private:
  const std::size_t limit_;
  std::atomic<std::size_t> used_{0};
};

// A bounded FIFO queue filled by a receive thread and drained by readers. When full (or when its
// byte budget is spent), the newest item is dropped and counted. Readers can wait for at least n
// items.
template <class T>
class StreamQueue {
 public:
  explicit StreamQueue(std::size_t capacity, std::shared_ptr<ByteBudget> budget = nullptr)
      : capacity_(capacity), budget_(std::move(budget)) {}
  ~StreamQueue() {
    if (budget_) budget_->give(bytes_);
  }
  StreamQueue(const StreamQueue&) = delete;
  StreamQueue& operator=(const StreamQueue&) = delete;

  // False when the item was dropped because the queue is full.
  bool push(T item) {
    CountWaiters::Wakeups wake;
    {
      std::lock_guard lock(m_);
      const std::size_t weight = weightOf(item);
      if (items_.size() >= capacity_ || (budget_ && !budget_->take(weight))) {
        ++dropped_;
        dropped_bytes_ += weight;
        return false;
      }
      bytes_ += weight;
      items_.push_back(std::move(item));
      waiting_.collectReady(items_.size(), wake);
    }
    CountWaiters::resume(wake);
    return true;
  }
  std::size_t size() const {
    std::lock_guard lock(m_);
    return items_.size();
  }
  std::uint64_t dropped() const {
    std::lock_guard lock(m_);
    return dropped_;
  }
  // Bytes of the dropped items (queues of byte strings).
  std::uint64_t droppedBytes() const {
    std::lock_guard lock(m_);
    return dropped_bytes_;
  }
  std::size_t capacity() const { return capacity_; }
  // Takes up to n items (all when n is negative) in FIFO order without waiting.
  std::vector<T> take(std::int64_t n) {
    std::lock_guard lock(m_);
    const std::size_t count =
        n < 0 ? items_.size() : std::min(items_.size(), static_cast<std::size_t>(n));
    std::vector<T> out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
      release(items_.front());
      out.push_back(std::move(items_.front()));
      items_.pop_front();
    }
    return out;
  }
  void clear() {
    std::lock_guard lock(m_);
    for (const auto& i : items_) release(i);
    items_.clear();
  }
  // Ends every wait for items now, whatever is queued (the link went down, the device closed).
  void wakeReaders() {
    CountWaiters::Wakeups wake;
    {
      std::lock_guard lock(m_);
      waiting_.collectReady(SIZE_MAX, wake);
    }
    CountWaiters::resume(wake);
  }
  // Calls f on each item in order (under the lock; f must not touch the queue).
  template <class F>
  void forEach(F&& f) const {
    std::lock_guard lock(m_);
    for (const auto& i : items_) f(i);
  }

  // Slot source: completes when at least `count` items are queued.
  struct AtLeast {
    StreamQueue& q;
    std::size_t count;
    bool takeOrSubscribe(const std::shared_ptr<Slot<Unit>>& s) {
      std::lock_guard lock(q.m_);
      return q.waiting_.takeOrSubscribe(s, q.items_.size(), count);
    }
    void unsubscribe(const Slot<Unit>* s) {
      std::lock_guard lock(q.m_);
      q.waiting_.unsubscribe(s);
    }
  };
  AtLeast atLeast(std::size_t count) { return AtLeast{*this, count}; }

 private:
  static std::size_t weightOf(const T& item) {
    if constexpr (std::is_same_v<T, Bytes>)
      return item.size();
    else
      return 0;
  }
  void release(const T& item) {
    const std::size_t weight = weightOf(item);
    bytes_ -= weight;
    if (budget_) budget_->give(weight);
  }

  mutable std::mutex m_;
  std::deque<T> items_;
  std::size_t capacity_;
  std::shared_ptr<ByteBudget> budget_;
  std::size_t bytes_ = 0;
  std::uint64_t dropped_ = 0;
  std::uint64_t dropped_bytes_ = 0;
  CountWaiters waiting_;
};

// Key of a stream queue: the streaming code alone, or with one or two routing bytes.
struct StreamKey {
  int code = 0;
  int a = 0;
  int b = 0;
  std::uint8_t arity = 1;  // 1: code; 2: (code, a); 3: (code, a, b)
  auto operator<=>(const StreamKey&) const = default;
};

// data_pool_strm: raw payload queues per stream key, created on first use. Each queue holds at most
// `capacity` packets, and all of them together at most `byte_limit` bytes: a device that streams
// for a module nobody opened cannot grow the host's memory beyond that.
class StreamPool {
 public:
  using Queue = StreamQueue<Bytes>;
  StreamPool(std::size_t capacity, std::size_t byte_limit)
      : capacity_(capacity), budget_(std::make_shared<ByteBudget>(byte_limit)) {}
  std::shared_ptr<Queue> queue(const StreamKey& key);
  std::vector<std::pair<StreamKey, std::shared_ptr<Queue>>> snapshot() const;
  // Bytes queued in all queues, and the bound.
  std::size_t bytes() const { return budget_->used(); }
  std::size_t byteLimit() const { return budget_->limit(); }
  // Ends every wait on every queue now.
  void wakeReaders();

 private:
  mutable std::mutex m_;
  std::size_t capacity_;
  std::shared_ptr<ByteBudget> budget_;
  std::map<StreamKey, std::shared_ptr<Queue>> queues_;
};

// data_pool_bcst: the distinct answers per command code, also in the order they first arrived.
class BroadcastPool {
 public:
  void add(int code, Bytes answer);
  void clear(int code);
  std::set<Bytes> get(int code) const;
  // The distinct answers in arrival order.
  std::vector<Bytes> arrivals(int code) const;
  std::map<int, std::set<Bytes>> snapshot() const;

 private:
  mutable std::mutex m_;
  std::map<int, std::set<Bytes>> sets_;
  std::map<int, std::vector<Bytes>> order_;
};

}  // namespace zelvo
