#include "zelvo/sim/faults.hpp"

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

void FaultPlan::reset() {
  std::lock_guard lock(mutex_);
  ignores_.clear();
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
