// The one waiting primitive both operation families use: a Slot is a one-shot rendezvous between a
// waiter and whoever completes it (a delivered value, the deadline, a cancellation, a shutdown).
// A blocked thread waits on the slot's condition variable; a suspended coroutine is resumed by the
// completer, outside every lock. The reply pool, the request gates, the stream queues and sleeps
// are all sources of slots, awaited through WaitFor.
#pragma once

#include <chrono>
#include <condition_variable>
#include <coroutine>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "zelvo/core/errors.hpp"

namespace zelvo {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;

// base + seconds, clamped so that huge (or infinite) time-outs stay far in the future instead of
// overflowing; negative seconds give a time before base, NaN counts as 0.
TimePoint later(TimePoint base, double seconds);
// now + seconds on the monotonic clock.
TimePoint deadlineAfter(double seconds);
double secondsUntil(TimePoint t);

// Aborted: the source shut down (the device closed). LinkLost: the link the answer would come on
// went down.
enum class WaitResult : std::uint8_t { Pending, Value, Timeout, Cancelled, Aborted, LinkLost };

// Something a blocking wait must notice besides its source: a pending signal of the interpreter
// (Ctrl-C). A blocking wait asks check() at least every kInterruptSlice; once it says stop, that
// wait and every later wait of the operation end as cancelled.
class Interrupt {
 public:
  static constexpr auto kInterruptSlice = std::chrono::milliseconds(100);
  virtual ~Interrupt() = default;
  // Called without any lock held; true when the operation must stop.
  bool poll() {
    if (!fired_ && check()) fired_ = true;
    return fired_;
  }
  bool fired() const { return fired_; }

 protected:
  virtual bool check() = 0;

 private:
  bool fired_ = false;  // touched by the one thread that runs the blocking operation
};

class SlotBase {
 public:
  virtual ~SlotBase() = default;

  // Ends the wait with a non-value result. True when this call decided the outcome; then
  // `resume` holds the coroutine to resume (after the caller has dropped its locks), if any.
  bool finish(WaitResult r, std::coroutine_handle<>& resume);
  // finish() followed by the resume.
  bool finishNow(WaitResult r);

  // Blocking side: waits until completed or the deadline passes (then the result is Timeout). With
  // an interrupt, asks it every kInterruptSlice and ends as Cancelled when it says stop.
  WaitResult waitUntil(std::optional<TimePoint> deadline, Interrupt* interrupt = nullptr);
  // Awaitable side: records the coroutine to resume. False when the slot is already completed, in
  // which case the caller must not suspend.
  bool arm(std::coroutine_handle<> h);

  WaitResult result() const;

 protected:
  template <class Store>
  bool complete(WaitResult r, std::coroutine_handle<>& resume, Store&& store) {
    {
      std::lock_guard lock(m_);
      if (result_ != WaitResult::Pending) return false;
      store();
      result_ = r;
      if (armed_) resume = h_;
    }
    cv_.notify_all();
    return true;
  }

 private:
  mutable std::mutex m_;
  std::condition_variable cv_;
  WaitResult result_ = WaitResult::Pending;
  bool armed_ = false;
  std::coroutine_handle<> h_;
};

template <class T>
class Slot final : public SlotBase {
 public:
  // Delivers a value; moves from `v` only when this call decided the outcome.
  bool deliver(T& v, std::coroutine_handle<>& resume) {
    return complete(WaitResult::Value, resume, [&] { value_.emplace(std::move(v)); });
  }
  std::optional<T>& value() { return value_; }

 private:
  std::optional<T> value_;
};

struct Unit {};

// The process-wide deadline timer of the awaitable family: at a slot's deadline it finishes the
// slot with Timeout and resumes its coroutine on the timer thread.
class Timer {
 public:
  using Id = std::uint64_t;
  static Timer& instance();
  Id schedule(TimePoint when, std::weak_ptr<SlotBase> slot);
  void cancel(Id id);
  // Stops the timer thread (process exit); later schedules are ignored.
  void shutdown();
  ~Timer();

 private:
  Timer() = default;
  struct Impl;
  Impl& impl();
  std::unique_ptr<Impl> impl_;
  std::once_flag once_;
};

// Cancellation of one awaitable operation: the wait in progress ends with Cancelled.
class CancelState {
 public:
  // Makes `slot` the current wait; false (and nothing attached) when already cancelled.
  bool attach(const std::shared_ptr<SlotBase>& slot);
  void detach(const SlotBase* slot);
  void cancel();
  bool cancelled() const;

 private:
  mutable std::mutex m_;
  bool cancelled_ = false;
  std::shared_ptr<SlotBase> current_;
};

// How an operation waits: blocking (the thread waits) or awaitable (the coroutine suspends).
struct WaitMode {
  bool blocking = true;
  CancelState* cancel = nullptr;   // awaitable family only
  Interrupt* interrupt = nullptr;  // blocking family only; none: nothing to notice
};

// A source of slots. Concept:
//   bool takeOrSubscribe(const std::shared_ptr<Slot<T>>& s)
//       under the source's lock: completes `s` at once when a value is available (returns true),
//       else registers `s` to be completed later (returns false);
//   void unsubscribe(const Slot<T>* s)  removes a registration if still there.
//
// co_await WaitFor<T, Source>(mode, source, deadline) yields std::optional<T>: the value, or
// nullopt when the deadline passed. A source is always checked once, even with a deadline already
// past. Cancellation (and an interrupt) throws zelvo::Cancelled; Aborted (the source shut down)
// throws `aborted`; LinkLost throws NetworkConnectionLostError.
template <class T, class Source>
class WaitFor {
 public:
  WaitFor(WaitMode mode, Source& source, std::optional<TimePoint> deadline, Err aborted)
      : mode_(mode), source_(source), deadline_(deadline), aborted_(aborted),
        slot_(std::make_shared<Slot<T>>()) {}

  bool await_ready() {
    // A cancelled operation takes nothing more, not even what is already there.
    if ((mode_.cancel && mode_.cancel->cancelled()) || (mode_.interrupt && mode_.interrupt->fired())) {
      slot_->finishNow(WaitResult::Cancelled);
      return true;
    }
    if (source_.takeOrSubscribe(slot_)) return true;
    if (deadline_ && Clock::now() >= *deadline_) {
      slot_->finishNow(WaitResult::Timeout);
      return true;
    }
    if (mode_.blocking) {
      slot_->waitUntil(deadline_, mode_.interrupt);
      return true;
    }
    return false;
  }

  bool await_suspend(std::coroutine_handle<> h) {
    if (mode_.cancel && !mode_.cancel->attach(slot_)) {
      slot_->finishNow(WaitResult::Cancelled);
      return false;
    }
    if (deadline_) timer_ = Timer::instance().schedule(*deadline_, slot_);
    return slot_->arm(h);  // after this the slot may be completed and `this` resumed elsewhere
  }

  std::optional<T> await_resume() {
    source_.unsubscribe(slot_.get());
    if (mode_.cancel) mode_.cancel->detach(slot_.get());
    if (timer_) Timer::instance().cancel(*timer_);
    switch (slot_->result()) {
      case WaitResult::Value:
        return std::move(slot_->value());
      case WaitResult::Cancelled:
        throw Cancelled();
      case WaitResult::Aborted:
        throw Error(aborted_);
      case WaitResult::LinkLost:
        throw Error(Err::NetworkConnectionLostError);
      default:
        return std::nullopt;
    }
  }

 private:
  WaitMode mode_;
  Source& source_;
  std::optional<TimePoint> deadline_;
  Err aborted_;
  std::shared_ptr<Slot<T>> slot_;
  std::optional<Timer::Id> timer_;
};

// Waiters for a count: each registered slot completes once at least its count is available (the
// length of a queue). The owner keeps it under its own lock and resumes the woken coroutines
// after releasing that lock.
class CountWaiters {
 public:
  using Wakeups = std::vector<std::pair<std::shared_ptr<Slot<Unit>>, std::coroutine_handle<>>>;

  // Completes `s` at once (true) when `available` reaches `count`, else registers it.
  bool takeOrSubscribe(const std::shared_ptr<Slot<Unit>>& s, std::size_t available, std::size_t count) {
    if (available >= count) {
      Unit u;
      std::coroutine_handle<> none;
      s->deliver(u, none);
      return true;
    }
    waiting_.emplace_back(s, count);
    return false;
  }
  void unsubscribe(const Slot<Unit>* s) {
    std::erase_if(waiting_, [s](const auto& w) { return w.first.get() == s; });
  }
  // Completes the waiters whose count `available` reaches; their coroutines go to `wake`.
  void collectReady(std::size_t available, Wakeups& wake) {
    std::erase_if(waiting_, [&](auto& w) {
      if (available < w.second) return false;
      Unit u;
      std::coroutine_handle<> h;
      w.first->deliver(u, h);
      wake.emplace_back(std::move(w.first), h);
      return true;
    });
  }
  static void resume(const Wakeups& wake) {
    for (const auto& [slot, h] : wake)
      if (h) h.resume();
  }

 private:
  std::vector<std::pair<std::shared_ptr<Slot<Unit>>, std::size_t>> waiting_;
};

// A source that never yields a value: waiting on it is a sleep.
struct NeverSource {
  template <class S>
  bool takeOrSubscribe(const S&) { return false; }
  template <class S>
  void unsubscribe(const S*) {}
};

}  // namespace zelvo
