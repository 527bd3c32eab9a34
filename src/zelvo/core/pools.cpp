#include "zelvo/core/pools.hpp"

namespace zelvo {

// --- ReplyPool -----------------------------------------------------------------------------------

void ReplyPool::put(ReplyKey key, Bytes payload) {
  std::shared_ptr<Slot<Bytes>> winner;
  std::coroutine_handle<> resume;
  {
    std::lock_guard lock(m_);
    auto it = waiting_.find(key);
    if (it != waiting_.end()) {
      auto& q = it->second;
      while (!q.empty()) {
        auto slot = std::move(q.front());
        q.pop_front();
        if (slot->deliver(payload, resume)) {
          winner = std::move(slot);
          break;
        }
      }
      if (q.empty()) waiting_.erase(it);
    }
    if (!winner) unclaimed_[key] = std::move(payload);
  }
  if (resume) resume.resume();
}

void ReplyPool::discard(ReplyKey key) {
  std::lock_guard lock(m_);
  unclaimed_.erase(key);
}

void ReplyPool::abortWaiters() {
  std::vector<std::shared_ptr<Slot<Bytes>>> all;
  {
    std::lock_guard lock(m_);
    closed_ = true;
    for (auto& [key, q] : waiting_)
      for (auto& s : q) all.push_back(std::move(s));
    waiting_.clear();
  }
  for (auto& s : all) s->finishNow(WaitResult::Aborted);
}

std::map<ReplyKey, Bytes> ReplyPool::snapshot() const {
  std::lock_guard lock(m_);
  return {unclaimed_.begin(), unclaimed_.end()};
}

bool ReplyPool::KeySource::takeOrSubscribe(const std::shared_ptr<Slot<Bytes>>& s) {
  std::lock_guard lock(pool.m_);
  if (pool.closed_) {
    std::coroutine_handle<> none;  // not armed yet: nothing to resume
    s->finish(WaitResult::Aborted, none);
    return true;
  }
  auto it = pool.unclaimed_.find(key);
  if (it != pool.unclaimed_.end()) {
    std::coroutine_handle<> none;  // the slot is not armed yet: nothing to resume
    if (s->deliver(it->second, none)) pool.unclaimed_.erase(it);
    return true;
  }
  pool.waiting_[key].push_back(s);
  return false;
}

void ReplyPool::KeySource::unsubscribe(const Slot<Bytes>* s) {
  std::lock_guard lock(pool.m_);
  auto it = pool.waiting_.find(key);
  if (it == pool.waiting_.end()) return;
  std::erase_if(it->second, [s](const auto& p) { return p.get() == s; });
  if (it->second.empty()) pool.waiting_.erase(it);
}

// --- KeyGates ------------------------------------------------------------------------------------

bool KeyGates::KeySource::takeOrSubscribe(const std::shared_ptr<Slot<Unit>>& s) {
  std::lock_guard lock(gates.m_);
  Gate& g = gates.gates_[key];
  if (!g.held) {
    g.held = true;
    Unit u;
    std::coroutine_handle<> none;
    s->deliver(u, none);
    return true;
  }
  g.queue.push_back(s);
  return false;
}

void KeyGates::KeySource::unsubscribe(const Slot<Unit>* s) {
  std::lock_guard lock(gates.m_);
  auto it = gates.gates_.find(key);
  if (it == gates.gates_.end()) return;
  std::erase_if(it->second.queue, [s](const auto& p) { return p.get() == s; });
}

void KeyGates::release(ReplyKey key) {
  std::coroutine_handle<> resume;
  std::shared_ptr<Slot<Unit>> next;
  {
    std::lock_guard lock(m_);
    auto it = gates_.find(key);
    if (it == gates_.end()) return;
    Gate& g = it->second;
    // Hand the gate to the first waiter still waiting (cancelled or timed-out ones are skipped).
    while (!g.queue.empty()) {
      auto slot = std::move(g.queue.front());
      g.queue.pop_front();
      Unit u;
      if (slot->deliver(u, resume)) {
        next = std::move(slot);
        break;
      }
    }
    if (!next) gates_.erase(it);
  }
  if (resume) resume.resume();
}

// --- StreamPool ----------------------------------------------------------------------------------

std::shared_ptr<StreamPool::Queue> StreamPool::queue(const StreamKey& key) {
  std::lock_guard lock(m_);
  auto& q = queues_[key];
  if (!q) q = std::make_shared<Queue>(capacity_);
  return q;
}

std::vector<std::pair<StreamKey, std::shared_ptr<StreamPool::Queue>>> StreamPool::snapshot() const {
  std::lock_guard lock(m_);
  return {queues_.begin(), queues_.end()};
}

// --- BroadcastPool -------------------------------------------------------------------------------

void BroadcastPool::add(int code, Bytes answer) {
  std::lock_guard lock(m_);
  sets_[code].insert(std::move(answer));
}

void BroadcastPool::clear(int code) {
  std::lock_guard lock(m_);
  sets_[code].clear();
}

std::set<Bytes> BroadcastPool::get(int code) const {
  std::lock_guard lock(m_);
  auto it = sets_.find(code);
  return it == sets_.end() ? std::set<Bytes>{} : it->second;
}

std::map<int, std::set<Bytes>> BroadcastPool::snapshot() const {
  std::lock_guard lock(m_);
  return sets_;
}

}  // namespace zelvo
