#include "zelvo/sim/faults.hpp"

#include <algorithm>
#include <stdexcept>

namespace zelvo::sim {
namespace {
constexpr double kMaxDelaySeconds = 3600;
}  // namespace

void FaultPlan::ignoreNext(int code, int n) {
  if (n < 0) throw std::invalid_argument("ignore count must not be negative");
  std::lock_guard lock(mutex_);
  if (n > 0) ignores_[code] += n;
}

void FaultPlan::delayReplies(std::chrono::duration<double> delay, std::chrono::duration<double> jitter) {
  const auto valid = [](double s) { return s >= 0 && s <= kMaxDelaySeconds; };  // NaN fails
  if (!valid(delay.count()) || !valid(jitter.count()))
    throw std::invalid_argument("delay and jitter must be 0..3600 seconds");
  std::lock_guard lock(mutex_);
  shaping_.delay = std::chrono::duration_cast<std::chrono::steady_clock::duration>(delay);
  jitter_ = std::chrono::duration_cast<std::chrono::steady_clock::duration>(jitter);
}

void FaultPlan::splitReplies(int pieces) {
  if (pieces < 1) throw std::invalid_argument("a reply is sent in at least one piece");
  std::lock_guard lock(mutex_);
  shaping_.pieces = pieces;
}

void FaultPlan::prependGarbage(Bytes garbage) {
  std::lock_guard lock(mutex_);
  shaping_.garbage = std::move(garbage);
}

void FaultPlan::editReplies(ReplyEdit edit) {
  if (edit.nth < 0) throw std::invalid_argument("nth must not be negative");
  std::lock_guard lock(mutex_);
  edits_.push_back(PendingEdit{std::move(edit)});
}

void FaultPlan::applyEdits(const Request& req, Replies& replies) {
  std::lock_guard lock(mutex_);
  for (auto it = edits_.begin(); it != edits_.end();) {
    const ReplyEdit& e = it->edit;
    const bool matches = e.code == req.code && req.payload.size() >= e.prefix.size() &&
                         std::equal(e.prefix.begin(), e.prefix.end(), req.payload.begin());
    if (!matches || (e.nth > 0 && ++it->seen < e.nth)) {
      ++it;
      continue;
    }
    for (Reply& r : replies) {
      if (r.code != req.code) continue;  // a stream packet the request caused
      if (e.set_byte && e.set_byte->first < r.payload.size()) r.payload[e.set_byte->first] = e.set_byte->second;
      if (e.truncate_to && *e.truncate_to < r.payload.size()) r.payload.resize(*e.truncate_to);
      r.payload.insert(r.payload.end(), e.append.begin(), e.append.end());
    }
    it = e.nth > 0 ? edits_.erase(it) : std::next(it);
  }
}

void FaultPlan::reset() {
  std::lock_guard lock(mutex_);
  ignores_.clear();
  edits_.clear();
  shaping_ = ReplyShaping{};
  jitter_ = {};
}

bool FaultPlan::admit(int code) {
  std::lock_guard lock(mutex_);
  ++counts_[code];
  const auto it = ignores_.find(code);
  if (it == ignores_.end()) return true;
  if (--it->second == 0) ignores_.erase(it);
  return false;
}

ReplyShaping FaultPlan::shaping() {
  std::lock_guard lock(mutex_);
  ReplyShaping s = shaping_;
  if (jitter_.count() > 0)
    s.delay += std::chrono::steady_clock::duration(
        std::uniform_int_distribution<std::chrono::steady_clock::rep>(0, jitter_.count())(random_));
  return s;
}

std::uint64_t FaultPlan::requestCount(int code) const {
  std::lock_guard lock(mutex_);
  const auto it = counts_.find(code);
  return it == counts_.end() ? 0 : it->second;
}

std::map<int, std::uint64_t> FaultPlan::requestCounts() const {
  std::lock_guard lock(mutex_);
  return counts_;
}

void FaultPlan::resetRequestCounts() {
  std::lock_guard lock(mutex_);
  counts_.clear();
}

}  // namespace zelvo::sim
