// Timing and waiting helpers shared by the core tests.
#pragma once

#include <chrono>
#include <ctime>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <thread>

#include "zelvo/core/op.hpp"
#include "zelvo/core/wait.hpp"

namespace ztest {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

inline double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// CPU seconds the whole process has used.
inline double processCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Polls `pred` until it holds or `limit` passes; returns its last value.
template <class Pred>
bool eventually(Pred pred, std::chrono::milliseconds limit = 3000ms) {
  const auto end = Clock::now() + limit;
  while (!pred()) {
    if (Clock::now() > end) return pred();
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

// Starts an operation of the awaitable family; the future holds how it ended. `keep` lives until
// then (the operation's Call).
template <class T, class Keep>
std::future<zelvo::Outcome<T>> startAwaitable(zelvo::Op<T> op, Keep keep) {
  auto done = std::make_shared<std::promise<zelvo::Outcome<T>>>();
  auto result = done->get_future();
  zelvo::startDetached(std::move(op), std::move(keep), std::function<void(zelvo::Outcome<T>)>([done](zelvo::Outcome<T> o) {
                         done->set_value(std::move(o));
                       }));
  return result;
}

// The exception an outcome ended with, rethrown (nothing when it ended with a value).
template <class T>
void rethrow(const zelvo::Outcome<T>& o) {
  if (o.error) std::rethrow_exception(o.error);
}

// One wait on a slot source, as an operation; `seconds` none waits without limit.
template <class T, class Source>
zelvo::Op<std::optional<T>> waitOn(zelvo::WaitMode mode, Source source, std::optional<double> seconds) {
  std::optional<zelvo::TimePoint> deadline;
  if (seconds) deadline = zelvo::deadlineAfter(*seconds);
  co_return co_await zelvo::WaitFor<T, Source>(mode, source, deadline, zelvo::Err::NetworkConnectionError);
}

}  // namespace ztest
