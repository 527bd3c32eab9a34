// The waiting primitive in both families: blocking waits, suspended coroutines resumed by whoever
// completes the wait, deadlines, cancellation, and races between a value and the deadline.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/waits.hpp"
#include "zelvo/core/pools.hpp"
#include "zelvo/core/wait.hpp"

namespace {

using zelvo::Bytes;
using zelvo::Op;
using zelvo::ReplyPool;
using zelvo::WaitMode;
using zelvo::WaitResult;
using namespace std::chrono_literals;

constexpr zelvo::ReplyKey kKey = 122;

Op<std::optional<Bytes>> waitReply(WaitMode mode, ReplyPool& pool, std::optional<double> seconds) {
  return ztest::waitOn<Bytes>(mode, pool.source(kKey), seconds);
}

std::jthread putLater(ReplyPool& pool, Bytes value, std::chrono::milliseconds after) {
  return std::jthread([&pool, value, after] {
    std::this_thread::sleep_for(after);
    pool.put(kKey, value);
  });
}

TEST(BlockingWait, TakesAValueDeliveredByAnotherThread) {
  ReplyPool pool;
  std::jthread t = putLater(pool, {1, 2}, 30ms);
  EXPECT_EQ(waitReply(WaitMode{}, pool, 5.0).runBlocking(), (Bytes{1, 2}));
  t.join();
  EXPECT_TRUE(pool.snapshot().empty());
}

TEST(BlockingWait, EndsEmptyAtTheDeadlineAndNotBefore) {
  ReplyPool pool;
  const auto start = ztest::Clock::now();
  EXPECT_EQ(waitReply(WaitMode{}, pool, 0.1).runBlocking(), std::nullopt);
  EXPECT_GE(ztest::secondsSince(start), 0.1);
  EXPECT_LT(ztest::secondsSince(start), 1.0);
  pool.put(kKey, {3});  // nobody waits any more: the reply stays unclaimed
  EXPECT_EQ(pool.snapshot().at(kKey), Bytes{3});
}

TEST(BlockingWait, APastDeadlineStillChecksOnce) {
  ReplyPool pool;
  pool.put(kKey, {7});
  EXPECT_EQ(waitReply(WaitMode{}, pool, -1.0).runBlocking(), Bytes{7});
  EXPECT_EQ(waitReply(WaitMode{}, pool, 0.0).runBlocking(), std::nullopt);
}

TEST(AwaitableWait, IsResumedByTheThreadThatDelivers) {
  ReplyPool pool;
  zelvo::CancelState cancel;
  std::thread::id resumed_on;
  auto op = [&]() -> Op<std::optional<Bytes>> {
    auto r = co_await waitReply(WaitMode{false, &cancel}, pool, 5.0);
    resumed_on = std::this_thread::get_id();
    co_return r;
  };
  auto outcome = ztest::startAwaitable(op(), 0);
  std::jthread t = putLater(pool, {4, 5}, 30ms);
  const auto deliverer = t.get_id();
  const auto o = outcome.get();
  t.join();
  ASSERT_FALSE(o.error);
  EXPECT_EQ(*o.value, (Bytes{4, 5}));
  EXPECT_EQ(resumed_on, deliverer);
}

TEST(AwaitableWait, TheTimerEndsItAtTheDeadline) {
  zelvo::CancelState cancel;
  const auto start = ztest::Clock::now();
  const auto o = ztest::startAwaitable(ztest::waitOn<zelvo::Unit>(WaitMode{false, &cancel}, zelvo::NeverSource{}, 0.1), 0).get();
  EXPECT_GE(ztest::secondsSince(start), 0.1);
  EXPECT_LT(ztest::secondsSince(start), 1.0);
  ASSERT_FALSE(o.error);
  EXPECT_EQ(*o.value, std::nullopt);
}

TEST(AwaitableWait, CancelEndsTheWaitInProgressAndLaterOnes) {
  ReplyPool pool;
  zelvo::CancelState cancel;
  auto pending = ztest::startAwaitable(waitReply(WaitMode{false, &cancel}, pool, std::nullopt), 0);
  EXPECT_EQ(pending.wait_for(30ms), std::future_status::timeout);
  cancel.cancel();
  EXPECT_THROW(ztest::rethrow(pending.get()), zelvo::Cancelled);
  auto later = ztest::startAwaitable(waitReply(WaitMode{false, &cancel}, pool, std::nullopt), 0);
  EXPECT_THROW(ztest::rethrow(later.get()), zelvo::Cancelled);
  pool.put(kKey, {1});  // the cancelled waiters are gone; the value is kept
  EXPECT_EQ(pool.snapshot().size(), 1U);
}

TEST(AwaitableWait, AbortEndsWaitsWithTheSourceError) {
  ReplyPool pool;
  zelvo::CancelState cancel;
  auto pending = ztest::startAwaitable(waitReply(WaitMode{false, &cancel}, pool, std::nullopt), 0);
  std::jthread blocked([&] {
    try {
      (void)waitReply(WaitMode{}, pool, 10.0).runBlocking();
      ADD_FAILURE() << "blocking wait not aborted";
    } catch (const zelvo::Error& e) {
      EXPECT_EQ(e.id(), zelvo::Err::NetworkConnectionError);
    }
  });
  std::this_thread::sleep_for(30ms);
  pool.abortWaiters();
  blocked.join();
  EXPECT_THROW(ztest::rethrow(pending.get()), zelvo::Error);
}

// A value and the deadline arriving together: either the waiter gets the value or it stays in the
// pool unclaimed, never both and never neither.
class DeliverVersusDeadline : public ::testing::TestWithParam<bool> {};

TEST_P(DeliverVersusDeadline, NeverLosesTheValue) {
  const bool blocking = GetParam();
  int got = 0, kept = 0;
  for (int i = 0; i < 200; ++i) {
    ReplyPool pool;
    zelvo::CancelState cancel;
    const Bytes value = {static_cast<zelvo::Byte>(i), 1};
    const double wait = 0.001 * (i % 3);
    std::optional<Bytes> r;
    if (blocking) {
      std::jthread t = putLater(pool, value, 1ms);
      r = waitReply(WaitMode{}, pool, wait).runBlocking();
      t.join();
    } else {
      auto f = ztest::startAwaitable(waitReply(WaitMode{false, &cancel}, pool, wait), 0);
      std::jthread t = putLater(pool, value, 1ms);
      auto o = f.get();
      t.join();
      ASSERT_FALSE(o.error);
      r = *o.value;
    }
    const auto left = pool.snapshot();
    if (r) {
      ++got;
      EXPECT_EQ(*r, value);
      EXPECT_TRUE(left.empty()) << "iteration " << i;
    } else {
      ++kept;
      ASSERT_EQ(left.size(), 1U) << "iteration " << i << ": the value was lost";
      EXPECT_EQ(left.begin()->second, value);
    }
  }
  EXPECT_EQ(got + kept, 200);
}

INSTANTIATE_TEST_SUITE_P(Families, DeliverVersusDeadline, ::testing::Values(true, false),
                         [](const auto& p) { return p.param ? "blocking" : "awaitable"; });

TEST(Timer, FiresEachSlotAtItsDeadlineAndCancelledOnesNever) {
  auto& timer = zelvo::Timer::instance();
  auto late = std::make_shared<zelvo::Slot<zelvo::Unit>>();
  auto early = std::make_shared<zelvo::Slot<zelvo::Unit>>();
  auto cancelled = std::make_shared<zelvo::Slot<zelvo::Unit>>();
  auto dropped = std::make_shared<zelvo::Slot<zelvo::Unit>>();
  const auto start = ztest::Clock::now();
  timer.schedule(zelvo::deadlineAfter(0.3), late);
  timer.schedule(zelvo::deadlineAfter(0.02), early);
  timer.cancel(timer.schedule(zelvo::deadlineAfter(0.01), cancelled));
  timer.schedule(zelvo::deadlineAfter(0.01), dropped);
  dropped.reset();  // the timer holds only a weak reference
  ASSERT_TRUE(ztest::eventually([&] { return early->result() == WaitResult::Timeout; }));
  EXPECT_EQ(late->result(), WaitResult::Pending);
  ASSERT_TRUE(ztest::eventually([&] { return late->result() == WaitResult::Timeout; }));
  EXPECT_GE(ztest::secondsSince(start), 0.3);
  EXPECT_EQ(cancelled->result(), WaitResult::Pending);
}

}  // namespace
