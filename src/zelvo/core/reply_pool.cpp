#include "zelvo/core/reply_pool.hpp"

#include <algorithm>

namespace zelvo {
namespace {

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

// --- Exchange --------------------------------------------------------------------------------------

ReplyPool::Exchange::Exchange(ReplyPool& pool, ReplyKey key, EchoBytes echo)
    : pool_(pool), key_(key), id_([&] {
        std::lock_guard lock(pool.m_);
        const ExchangeId id = pool.next_id_++;
        KeyState& k = pool.keys_[key];
        k.open = id;
        k.answered = false;
        k.answer.reset();
        k.waiter.reset();
        return id;
      }()),
      echo_(echo) {}

ReplyPool::Exchange::~Exchange() {
  std::lock_guard lock(pool_.m_);
  auto it = pool_.keys_.find(key_);
  if (it == pool_.keys_.end() || it->second.open != id_) return;
  KeyState& k = it->second;
  k.open = 0;
  k.answered = false;
  k.answer.reset();
  k.waiter.reset();
  pool_.tidy(key_);
}

void ReplyPool::Exchange::sent() {
  std::lock_guard lock(pool_.m_);
  pool_.keys_[key_].unanswered.push_back(Send{id_, Clock::now(), echo_});
}

void ReplyPool::Exchange::unsend() {
  std::lock_guard lock(pool_.m_);
  auto it = pool_.keys_.find(key_);
  if (it == pool_.keys_.end()) return;
  auto& sends = it->second.unanswered;
  for (auto s = sends.rbegin(); s != sends.rend(); ++s)
    if (s->owner == id_) {
      sends.erase(std::next(s).base());
      break;
    }
}

bool ReplyPool::Exchange::Answer::takeOrSubscribe(const std::shared_ptr<Slot<Bytes>>& s) {
  ReplyPool& pool = ex.pool_;
  std::lock_guard lock(pool.m_);
  std::coroutine_handle<> none;  // the slot is not armed yet: nothing to resume
  if (pool.closed_) {
    s->finish(WaitResult::Aborted, none);
    return true;
  }
  KeyState& k = pool.keys_[ex.key_];
  if (k.open == ex.id_ && k.answer) {
    if (s->deliver(*k.answer, none)) k.answer.reset();
    return true;
  }
  if (pool.down_) {
    s->finish(WaitResult::LinkLost, none);
    return true;
  }
  k.waiter = s;
  return false;
}

void ReplyPool::Exchange::Answer::unsubscribe(const Slot<Bytes>* s) {
  ReplyPool& pool = ex.pool_;
  std::lock_guard lock(pool.m_);
  auto it = pool.keys_.find(ex.key_);
  if (it != pool.keys_.end() && it->second.waiter.get() == s) it->second.waiter.reset();
}

// --- quarantine ------------------------------------------------------------------------------------

std::optional<TimePoint> ReplyPool::quarantineEnd(ReplyKey key) {
  Wakeups wake;
  std::optional<TimePoint> end;
  {
    std::lock_guard lock(m_);
    auto it = keys_.find(key);
    if (it == keys_.end()) return std::nullopt;
    const TimePoint now = Clock::now();
    expire(it->second, now, wake);
    if (!it->second.unanswered.empty()) {
      const TimePoint last_lost = later(it->second.unanswered.back().at, rtt_.sendLifetime());
      end = std::min(last_lost, later(now, kMaxQuarantine));
    }
  }
  resume(wake);
  return end;
}

bool ReplyPool::Quiet::takeOrSubscribe(const std::shared_ptr<Slot<Unit>>& s) {
  std::lock_guard lock(pool.m_);
  auto it = pool.keys_.find(key);
  if (it == pool.keys_.end() || it->second.unanswered.empty() || pool.down_ || pool.closed_) {
    Unit u;
    std::coroutine_handle<> none;
    s->deliver(u, none);
    return true;
  }
  it->second.quiet.push_back(s);
  return false;
}

void ReplyPool::Quiet::unsubscribe(const Slot<Unit>* s) {
  std::lock_guard lock(pool.m_);
  auto it = pool.keys_.find(key);
  if (it == pool.keys_.end()) return;
  std::erase_if(it->second.quiet, [s](const auto& q) { return q.get() == s; });
  pool.tidy(key);
}

void ReplyPool::settleQuiet(KeyState& k, Wakeups& wake) {
  if (!k.unanswered.empty()) return;
  for (auto& s : k.quiet) {
    Unit u;
    std::coroutine_handle<> h;
    if (s->deliver(u, h) && h) wake.push_back(h);
  }
  k.quiet.clear();
}

void ReplyPool::expire(KeyState& k, TimePoint now, Wakeups& wake) {
  const double lifetime = rtt_.sendLifetime();
  const auto before = k.unanswered.size();
  // The request in progress waits for its own answer however late it comes.
  std::erase_if(k.unanswered, [&](const Send& s) { return s.owner != k.open && later(s.at, lifetime) <= now; });
  if (k.unanswered.size() == before) return;
  stats_.lost_sends += before - k.unanswered.size();
  settleQuiet(k, wake);
}

// --- replies ---------------------------------------------------------------------------------------

void ReplyPool::answerSend(KeyState& k, Bytes& payload, TimePoint now, Wakeups& wake) {
  auto& sends = k.unanswered;
  const auto taken = std::find_if(sends.begin(), sends.end(), [&](const Send& s) { return s.echo.matchedBy(payload); });
  if (taken == sends.end()) {
    ++stats_.mismatched;
    return;
  }
  // The oldest send is answered first. When the copies of one request were re-sent because the
  // device was slow, that is the true round trip; when the first copies were dropped it is longer
  // than the true one, which only makes later sends wait longer for their replies.
  rtt_.sample(seconds(now - taken->at));
  const bool for_open = taken->owner == k.open && !k.answered;
  sends.erase(taken);
  settleQuiet(k, wake);
  if (!for_open) {
    ++stats_.late;
    return;
  }
  k.answered = true;
  std::coroutine_handle<> h;
  if (k.waiter && k.waiter->deliver(payload, h)) {
    k.waiter.reset();
    if (h) wake.push_back(h);
  } else {
    k.answer = std::move(payload);
  }
}

void ReplyPool::put(ReplyKey key, Bytes payload) {
  Wakeups wake;
  {
    std::lock_guard lock(m_);
    if (closed_) return;
    const TimePoint now = Clock::now();
    auto it = keys_.find(key);
    if (it != keys_.end()) expire(it->second, now, wake);
    if (it != keys_.end() && !it->second.unanswered.empty()) {
      answerSend(it->second, payload, now, wake);
    } else {
      ++stats_.unsolicited;
      bool taken = false;
      while (it != keys_.end() && !taken && !it->second.raw.empty()) {
        auto slot = std::move(it->second.raw.front());
        it->second.raw.pop_front();
        std::coroutine_handle<> h;
        taken = slot->deliver(payload, h);
        if (h) wake.push_back(h);
      }
      if (!taken) keepUnsolicited(key, std::move(payload));
    }
    tidy(key);
  }
  resume(wake);
}

void ReplyPool::keepUnsolicited(ReplyKey key, Bytes payload) {
  if (payload.size() > kMaxUnsolicitedBytes) {
    ++stats_.dropped;
    return;
  }
  if (auto old = unsolicited_.find(key); old != unsolicited_.end()) {
    unsolicited_bytes_ -= old->second.size();
    old->second = std::move(payload);
    unsolicited_bytes_ += old->second.size();
    ++stats_.dropped;  // the older reply it replaces
    return;
  }
  while (!unsolicited_order_.empty() &&
         (unsolicited_.size() >= kMaxUnsolicitedKeys || unsolicited_bytes_ + payload.size() > kMaxUnsolicitedBytes)) {
    auto oldest = unsolicited_.find(unsolicited_order_.front());
    unsolicited_order_.pop_front();
    if (oldest == unsolicited_.end()) continue;  // taken or discarded already
    unsolicited_bytes_ -= oldest->second.size();
    unsolicited_.erase(oldest);
    ++stats_.dropped;
  }
  unsolicited_bytes_ += payload.size();
  unsolicited_.emplace(key, std::move(payload));
  unsolicited_order_.push_back(key);
}

void ReplyPool::discard(ReplyKey key) {
  std::lock_guard lock(m_);
  auto it = unsolicited_.find(key);
  if (it == unsolicited_.end()) return;
  unsolicited_bytes_ -= it->second.size();
  unsolicited_.erase(it);
}

bool ReplyPool::KeySource::takeOrSubscribe(const std::shared_ptr<Slot<Bytes>>& s) {
  std::lock_guard lock(pool.m_);
  std::coroutine_handle<> none;  // not armed yet: nothing to resume
  if (pool.closed_) {
    s->finish(WaitResult::Aborted, none);
    return true;
  }
  auto it = pool.unsolicited_.find(key);
  if (it != pool.unsolicited_.end()) {
    const std::size_t size = it->second.size();
    if (s->deliver(it->second, none)) {
      pool.unsolicited_bytes_ -= size;
      pool.unsolicited_.erase(it);
    }
    return true;
  }
  if (pool.down_) {
    s->finish(WaitResult::LinkLost, none);
    return true;
  }
  pool.keys_[key].raw.push_back(s);
  return false;
}

void ReplyPool::KeySource::unsubscribe(const Slot<Bytes>* s) {
  std::lock_guard lock(pool.m_);
  auto it = pool.keys_.find(key);
  if (it == pool.keys_.end()) return;
  std::erase_if(it->second.raw, [s](const auto& p) { return p.get() == s; });
  pool.tidy(key);
}

// --- link and life cycle ---------------------------------------------------------------------------

void ReplyPool::endWaits(WaitResult why, bool closing) {
  std::vector<std::shared_ptr<SlotBase>> ended;
  Wakeups wake;
  {
    std::lock_guard lock(m_);
    if (closing)
      closed_ = true;
    else
      down_ = true;
    for (auto& [key, k] : keys_) {
      stats_.lost_sends += k.unanswered.size();
      k.unanswered.clear();
      settleQuiet(k, wake);
      if (k.waiter) ended.push_back(std::move(k.waiter));
      for (auto& s : k.raw) ended.push_back(std::move(s));
      k.raw.clear();
    }
    std::erase_if(keys_, [](const auto& entry) { return entry.second.unused(); });
  }
  resume(wake);
  for (auto& s : ended) s->finishNow(why);
}

void ReplyPool::linkDown() { endWaits(WaitResult::LinkLost, false); }

void ReplyPool::linkUp() {
  std::lock_guard lock(m_);
  down_ = false;
}

void ReplyPool::abortWaiters() { endWaits(WaitResult::Aborted, true); }

void ReplyPool::tidy(ReplyKey key) {
  auto it = keys_.find(key);
  if (it != keys_.end() && it->second.unused()) keys_.erase(it);
}

void ReplyPool::resume(const Wakeups& wake) {
  for (auto h : wake) h.resume();
}

std::map<ReplyKey, Bytes> ReplyPool::snapshot() const {
  std::lock_guard lock(m_);
  return unsolicited_;
}

ReplyPool::Stats ReplyPool::stats() const {
  std::lock_guard lock(m_);
  return stats_;
}

std::size_t ReplyPool::unansweredSends(ReplyKey key) const {
  std::lock_guard lock(m_);
  auto it = keys_.find(key);
  return it == keys_.end() ? 0 : it->second.unanswered.size();
}

double ReplyPool::sendLifetime() const {
  std::lock_guard lock(m_);
  return rtt_.sendLifetime();
}

}  // namespace zelvo
