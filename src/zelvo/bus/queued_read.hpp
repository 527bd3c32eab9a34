// How the UART and CAN modules hand out what their delivery queues hold.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "zelvo/bus/delivery_queue.hpp"
#include "zelvo/core/call.hpp"

namespace zelvo {

// A read of `count` items that must fit the queue: more could never be queued at once, so waiting
// for them would never end. InputDataNotInRangeError naming `what` otherwise.
inline void requireReadable(std::int64_t count, std::size_t capacity, const char* what) {
  if (count > static_cast<std::int64_t>(capacity))
    throw Error(Err::InputDataNotInRangeError, std::string(what) + " is " + std::to_string(count) +
                                                   "; a read takes at most " + std::to_string(capacity) + ".");
}

// The stream read: `count` items, or everything queued when negative. The blocking family waits,
// without a time limit, until `count` items are queued or nothing more can come (then it takes
// what is there); the awaitable family never waits.
template <class T>
Op<std::vector<T>> readQueued(Call& call, DeliveryQueue<T>& queue, std::int64_t count) {
  if (count > 0 && call.isBlocking()) {
    auto enough = queue.atLeast(static_cast<std::size_t>(count));
    co_await WaitFor<Unit, typename DeliveryQueue<T>::AtLeast>(call.waitMode(), enough, std::nullopt,
                                                               call.device().connectionError());
  }
  co_return queue.take(count);
}

// Waits at most `wait` seconds (none: no limit) until `at_least` items are queued or nothing more
// can come, then takes up to `at_most` (both families wait).
template <class T>
Op<std::vector<T>> receiveQueued(Call& call, DeliveryQueue<T>& queue, std::size_t at_least, std::size_t at_most,
                                 std::optional<double> wait) {
  if (at_least > 0) {
    auto enough = queue.atLeast(at_least);
    std::optional<TimePoint> deadline;
    if (wait) deadline = deadlineAfter(*wait);
    co_await WaitFor<Unit, typename DeliveryQueue<T>::AtLeast>(call.waitMode(), enough, deadline,
                                                               call.device().connectionError());
  }
  co_return queue.take(static_cast<std::int64_t>(at_most));
}

}  // namespace zelvo
