// The pools the receive threads fill and operations wait on: echo replies by key, FIFO queues of
// streamed payloads, broadcast answers by command code, and the per-key request gates.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <utility>
#include <unordered_map>
#include <vector>

#include "zelvo/core/bytes.hpp"
#include "zelvo/core/wait.hpp"

namespace zelvo {

// Reply key: the command code, or for MOTION the key derived from the payload (reply_key.hpp).
using ReplyKey = std::int64_t;

// data_pool_echo: the most recent unclaimed reply per key, and the waiters per key (FIFO).
class ReplyPool {
 public:
  // Hands the payload to the first waiter of the key, or keeps it as the key's unclaimed reply
  // (replacing an earlier unclaimed one).
  void put(ReplyKey key, Bytes payload);
  // Drops an unclaimed reply (before a new request with the same key is sent).
  void discard(ReplyKey key);
  // Ends every wait with Aborted, now and from now on (the device is closing).
  void abortWaiters();
  std::map<ReplyKey, Bytes> snapshot() const;

  // Slot source for one key (see WaitFor).
  struct KeySource {
    ReplyPool& pool;
    ReplyKey key;
    bool takeOrSubscribe(const std::shared_ptr<Slot<Bytes>>& s);
    void unsubscribe(const Slot<Bytes>* s);
  };
  KeySource source(ReplyKey key) { return KeySource{*this, key}; }

 private:
  mutable std::mutex m_;
  std::unordered_map<ReplyKey, Bytes> unclaimed_;
  std::unordered_map<ReplyKey, std::deque<std::shared_ptr<Slot<Bytes>>>> waiting_;
  bool closed_ = false;
};

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

// A bounded FIFO queue filled by a receive thread and drained by readers. When full, the newest
// item is dropped and counted. Readers can wait for at least n items.
template <class T>
class StreamQueue {
 public:
  explicit StreamQueue(std::size_t capacity) : capacity_(capacity) {}

  // False when the item was dropped because the queue is full.
  bool push(T item) {
    CountWaiters::Wakeups wake;
    {
      std::lock_guard lock(m_);
      if (items_.size() >= capacity_) {
        ++dropped_;
        return false;
      }
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
  std::size_t capacity() const { return capacity_; }
  // Takes up to n items (all when n is negative) in FIFO order without waiting.
  std::vector<T> take(std::int64_t n) {
    std::lock_guard lock(m_);
    const std::size_t count =
        n < 0 ? items_.size() : std::min(items_.size(), static_cast<std::size_t>(n));
    std::vector<T> out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
      out.push_back(std::move(items_.front()));
      items_.pop_front();
    }
    return out;
  }
  void clear() {
    std::lock_guard lock(m_);
    items_.clear();
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
  mutable std::mutex m_;
  std::deque<T> items_;
  std::size_t capacity_;
  std::uint64_t dropped_ = 0;
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

// data_pool_strm: raw payload queues per stream key, created on first use.
class StreamPool {
 public:
  using Queue = StreamQueue<Bytes>;
  explicit StreamPool(std::size_t capacity) : capacity_(capacity) {}
  std::shared_ptr<Queue> queue(const StreamKey& key);
  std::vector<std::pair<StreamKey, std::shared_ptr<Queue>>> snapshot() const;

 private:
  mutable std::mutex m_;
  std::size_t capacity_;
  std::map<StreamKey, std::shared_ptr<Queue>> queues_;
};

// data_pool_bcst: the distinct answers per command code.
class BroadcastPool {
 public:
  void add(int code, Bytes answer);
  void clear(int code);
  std::set<Bytes> get(int code) const;
  std::map<int, std::set<Bytes>> snapshot() const;

 private:
  mutable std::mutex m_;
  std::map<int, std::set<Bytes>> sets_;
};

}  // namespace zelvo
