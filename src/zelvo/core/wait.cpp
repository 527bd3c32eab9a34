#include "zelvo/core/wait.hpp"

#include <algorithm>
#include <map>
#include <thread>
#include <unordered_map>

namespace zelvo {

TimePoint later(TimePoint base, double seconds) {
  // About 30 years: far beyond any wait, far inside the clock's range.
  constexpr double kMaxSeconds = 1e9;
  if (!(seconds == seconds)) seconds = 0;  // NaN
  seconds = std::clamp(seconds, -kMaxSeconds, kMaxSeconds);
  return base + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

TimePoint deadlineAfter(double seconds) { return later(Clock::now(), seconds); }

double secondsUntil(TimePoint t) { return std::chrono::duration<double>(t - Clock::now()).count(); }

bool SlotBase::finish(WaitResult r, std::coroutine_handle<>& resume) {
  return complete(r, resume, [] {});
}

bool SlotBase::finishNow(WaitResult r) {
  std::coroutine_handle<> h;
  const bool won = finish(r, h);
  if (h) h.resume();
  return won;
}

WaitResult SlotBase::waitUntil(std::optional<TimePoint> deadline, Interrupt* interrupt) {
  std::unique_lock lock(m_);
  const auto done = [this] { return result_ != WaitResult::Pending; };
  if (!interrupt) {
    if (!deadline)
      cv_.wait(lock, done);
    else if (!cv_.wait_until(lock, *deadline, done))
      result_ = WaitResult::Timeout;
    return result_;
  }
  for (;;) {
    const TimePoint slice = Clock::now() + Interrupt::kInterruptSlice;
    const bool last = deadline && *deadline <= slice;
    if (cv_.wait_until(lock, last ? *deadline : slice, done)) return result_;
    if (last) {
      result_ = WaitResult::Timeout;
      return result_;
    }
    lock.unlock();
    const bool stop = interrupt->poll();  // may take the interpreter lock: no lock of ours held
    lock.lock();
    if (done()) return result_;
    if (stop) {
      result_ = WaitResult::Cancelled;
      return result_;
    }
  }
}

bool SlotBase::arm(std::coroutine_handle<> h) {
  std::lock_guard lock(m_);
  if (result_ != WaitResult::Pending) return false;
  h_ = h;
  armed_ = true;
  return true;
}

WaitResult SlotBase::result() const {
  std::lock_guard lock(m_);
  return result_;
}

// --- Timer ---------------------------------------------------------------------------------------

struct Timer::Impl {
  std::mutex m;
  std::condition_variable cv;
  std::map<std::pair<TimePoint, Id>, std::weak_ptr<SlotBase>> due;
  std::unordered_map<Id, TimePoint> when;
  Id next = 1;
  bool stopping = false;
  std::thread thread;

  void run() {
    std::unique_lock lock(m);
    while (!stopping) {
      if (due.empty()) {
        cv.wait(lock);
        continue;
      }
      auto first = due.begin();
      if (Clock::now() < first->first.first) {
        cv.wait_until(lock, TimePoint(first->first.first));  // a copy: cancel() may erase the entry meanwhile
        continue;
      }
      auto slot = first->second.lock();
      when.erase(first->first.second);
      due.erase(first);
      lock.unlock();
      if (slot) slot->finishNow(WaitResult::Timeout);
      slot.reset();
      lock.lock();
    }
  }
};

Timer& Timer::instance() {
  static Timer timer;
  return timer;
}

Timer::Impl& Timer::impl() {
  std::call_once(once_, [this] {
    impl_ = std::make_unique<Impl>();
    impl_->thread = std::thread([p = impl_.get()] { p->run(); });
  });
  return *impl_;
}

Timer::Id Timer::schedule(TimePoint t, std::weak_ptr<SlotBase> slot) {
  Impl& i = impl();
  std::lock_guard lock(i.m);
  const Id id = i.next++;
  if (i.stopping) return id;
  const bool earliest = i.due.empty() || t < i.due.begin()->first.first;
  i.due.emplace(std::make_pair(t, id), std::move(slot));
  i.when.emplace(id, t);
  if (earliest) i.cv.notify_one();
  return id;
}

void Timer::cancel(Id id) {
  Impl& i = impl();
  std::lock_guard lock(i.m);
  const auto it = i.when.find(id);
  if (it == i.when.end()) return;
  i.due.erase({it->second, id});
  i.when.erase(it);
}

void Timer::shutdown() {
  if (!impl_) return;
  {
    std::lock_guard lock(impl_->m);
    impl_->stopping = true;
  }
  impl_->cv.notify_all();
  if (impl_->thread.joinable() && impl_->thread.get_id() != std::this_thread::get_id())
    impl_->thread.join();
}

Timer::~Timer() {
  shutdown();
  if (impl_ && impl_->thread.joinable()) impl_->thread.detach();
}

// --- CancelState ---------------------------------------------------------------------------------

bool CancelState::attach(const std::shared_ptr<SlotBase>& slot) {
  std::lock_guard lock(m_);
  if (cancelled_) return false;
  current_ = slot;
  return true;
}

void CancelState::detach(const SlotBase* slot) {
  std::lock_guard lock(m_);
  if (current_.get() == slot) current_.reset();
}

void CancelState::cancel() {
  std::shared_ptr<SlotBase> slot;
  {
    std::lock_guard lock(m_);
    if (cancelled_) return;
    cancelled_ = true;
    slot = std::move(current_);
  }
  if (slot) slot->finishNow(WaitResult::Cancelled);
}

bool CancelState::cancelled() const {
  std::lock_guard lock(m_);
  return cancelled_;
}

}  // namespace zelvo
