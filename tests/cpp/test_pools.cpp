// Reply pool, per-key request gates, stream queues and broadcast answer sets.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/waits.hpp"
#include "zelvo/core/pools.hpp"

namespace {

using zelvo::Bytes;
using zelvo::Slot;
using zelvo::Unit;
using zelvo::WaitMode;
using zelvo::WaitResult;
using namespace std::chrono_literals;
using ztest::waitOn;

TEST(ReplyPool, KeepsTheLatestUnclaimedReplyPerKey) {
  zelvo::ReplyPool pool;
  pool.put(1, {1});
  pool.put(1, {2});  // replaces the unclaimed one
  pool.put(2, {3});
  EXPECT_EQ(pool.snapshot(), (std::map<zelvo::ReplyKey, Bytes>{{1, {2}}, {2, {3}}}));
  pool.discard(1);
  pool.discard(7);
  EXPECT_EQ(pool.snapshot(), (std::map<zelvo::ReplyKey, Bytes>{{2, {3}}}));
  EXPECT_EQ(waitOn<Bytes>(WaitMode{}, pool.source(2), 0.0).runBlocking(), Bytes{3});
  EXPECT_TRUE(pool.snapshot().empty());
}

TEST(ReplyPool, WaitersOfAKeyAreServedInArrivalOrder) {
  zelvo::ReplyPool pool;
  zelvo::CancelState c1, c2, c3;
  // An awaitable wait registers before startAwaitable returns, so the order is the start order.
  auto first = ztest::startAwaitable(waitOn<Bytes>(WaitMode{false, &c1}, pool.source(5), std::nullopt), 0);
  auto second = ztest::startAwaitable(waitOn<Bytes>(WaitMode{false, &c2}, pool.source(5), std::nullopt), 0);
  auto other = ztest::startAwaitable(waitOn<Bytes>(WaitMode{false, &c3}, pool.source(6), std::nullopt), 0);
  pool.put(5, {1});
  pool.put(5, {2});
  pool.put(6, {3});
  EXPECT_EQ(*first.get().value, Bytes{1});
  EXPECT_EQ(*second.get().value, Bytes{2});
  EXPECT_EQ(*other.get().value, Bytes{3});
  EXPECT_TRUE(pool.snapshot().empty());
}

TEST(KeyGates, HandsTheGateToWaitersInOrderSkippingThoseThatGaveUp) {
  zelvo::KeyGates gates;
  auto source = gates.source(5);
  std::vector<std::shared_ptr<Slot<Unit>>> s;
  for (int i = 0; i < 4; ++i) s.push_back(std::make_shared<Slot<Unit>>());
  EXPECT_TRUE(source.takeOrSubscribe(s[0]));
  for (int i = 1; i < 4; ++i) EXPECT_FALSE(source.takeOrSubscribe(s[i]));
  auto other = std::make_shared<Slot<Unit>>();
  EXPECT_TRUE(gates.source(6).takeOrSubscribe(other));  // keys are independent
  gates.release(5);
  EXPECT_EQ(s[1]->result(), WaitResult::Value);
  EXPECT_EQ(s[2]->result(), WaitResult::Pending);
  s[2]->finishNow(WaitResult::Timeout);
  gates.release(5);
  EXPECT_EQ(s[3]->result(), WaitResult::Value);
  { zelvo::KeyGates::Ticket ticket(&gates, 5); }  // a ticket releases when it goes
  EXPECT_TRUE(source.takeOrSubscribe(std::make_shared<Slot<Unit>>()));
}

TEST(KeyGates, OneHolderAtATimeAcrossThreads) {
  zelvo::KeyGates gates;
  std::atomic<int> inside{0}, most{0}, passes{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 100; ++i) {
        (void)waitOn<Unit>(WaitMode{}, gates.source(5), std::nullopt).runBlocking();
        zelvo::KeyGates::Ticket ticket(&gates, 5);
        most = std::max(most.load(), ++inside);
        std::this_thread::yield();
        --inside;
        ++passes;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(most, 1);
  EXPECT_EQ(passes, 400);
}

TEST(StreamQueue, DropsAndCountsItemsBeyondCapacity) {
  zelvo::StreamQueue<int> q(3);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(q.push(i), i < 3);
  EXPECT_EQ(q.size(), 3U);
  EXPECT_EQ(q.dropped(), 2U);
  EXPECT_EQ(q.take(2), (std::vector<int>{0, 1}));
  EXPECT_TRUE(q.push(7));
  EXPECT_EQ(q.take(-1), (std::vector<int>{2, 7}));
  EXPECT_TRUE(q.take(5).empty());
  EXPECT_TRUE(q.take(-1).empty());
}

TEST(StreamQueue, AtLeastWaitsForEnoughItems) {
  zelvo::StreamQueue<int> q(100);
  zelvo::CancelState cancel;
  EXPECT_TRUE(waitOn<Unit>(WaitMode{}, q.atLeast(0), 0.0).runBlocking());
  auto two = ztest::startAwaitable(waitOn<Unit>(WaitMode{false, &cancel}, q.atLeast(2), 5.0), 0);
  q.push(1);
  EXPECT_EQ(two.wait_for(20ms), std::future_status::timeout);
  q.push(2);
  EXPECT_TRUE(two.get().value->has_value());
  const auto start = ztest::Clock::now();
  EXPECT_FALSE(waitOn<Unit>(WaitMode{}, q.atLeast(3), 0.05).runBlocking());
  EXPECT_GE(ztest::secondsSince(start), 0.05);
  std::jthread filler([&] {
    std::this_thread::sleep_for(20ms);
    q.push(3);
  });
  EXPECT_TRUE(waitOn<Unit>(WaitMode{}, q.atLeast(3), 5.0).runBlocking());
  filler.join();
  EXPECT_EQ(q.take(-1), (std::vector<int>{1, 2, 3}));
}

TEST(BroadcastPool, KeepsDistinctAnswersPerCode) {
  zelvo::BroadcastPool pool;
  pool.add(252, {1, 2});
  pool.add(252, {1, 2});
  pool.add(252, {3});
  pool.add(253, {4});
  EXPECT_EQ(pool.get(252), (std::set<Bytes>{{1, 2}, {3}}));
  pool.clear(252);
  EXPECT_TRUE(pool.get(252).empty());
  EXPECT_TRUE(pool.get(9).empty());
  EXPECT_EQ(pool.get(253), (std::set<Bytes>{{4}}));
}

}  // namespace
