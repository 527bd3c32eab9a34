#include "zelvo/core/pools.hpp"

namespace zelvo {

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
  if (!q) q = std::make_shared<Queue>(capacity_, budget_);
  return q;
}

void StreamPool::wakeReaders() {
  for (auto& [key, q] : snapshot()) q->wakeReaders();
}

std::vector<std::pair<StreamKey, std::shared_ptr<StreamPool::Queue>>> StreamPool::snapshot() const {
  std::lock_guard lock(m_);
  return {queues_.begin(), queues_.end()};
}

// --- BroadcastPool -------------------------------------------------------------------------------

void BroadcastPool::add(int code, Bytes answer) {
  std::lock_guard lock(m_);
  if (sets_[code].insert(answer).second) order_[code].push_back(std::move(answer));
}

void BroadcastPool::clear(int code) {
  std::lock_guard lock(m_);
  sets_[code].clear();
  order_[code].clear();
}

std::vector<Bytes> BroadcastPool::arrivals(int code) const {
  std::lock_guard lock(m_);
  auto it = order_.find(code);
  return it == order_.end() ? std::vector<Bytes>{} : it->second;
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
