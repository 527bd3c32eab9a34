// Which reply answers which request: the ledger of unanswered sends in the reply pool.
#include <gtest/gtest.h>

#include <thread>

#include "support/waits.hpp"
#include "zelvo/core/reply_pool.hpp"

namespace {

using zelvo::Bytes;
using zelvo::Echo;
using zelvo::EchoBytes;
using zelvo::ReplyPool;
using zelvo::WaitMode;
using ztest::waitOn;
using namespace std::chrono_literals;

constexpr zelvo::ReplyKey kKey = 229;

// The answer an exchange has by now (nullopt: none yet).
std::optional<Bytes> answerOf(ReplyPool::Exchange& ex) {
  return waitOn<Bytes>(WaitMode{}, ex.answer(), 0.0).runBlocking();
}

EchoBytes portEcho(zelvo::Byte port) { return EchoBytes::of(Echo::at(0), Bytes{port, 0xFF}); }

TEST(ReplyLedger, AReplyAnswersTheRequestInProgress) {
  ReplyPool pool;
  ReplyPool::Exchange ex(pool, kKey, portEcho(2));
  ex.sent();
  EXPECT_EQ(answerOf(ex), std::nullopt);
  pool.put(kKey, {2, 7});  // arrives while nobody waits: kept for the exchange
  EXPECT_EQ(answerOf(ex), (Bytes{2, 7}));
  EXPECT_EQ(pool.unansweredSends(kKey), 0U);
  EXPECT_TRUE(pool.snapshot().empty());
}

TEST(ReplyLedger, RepliesToEndedRequestsNeverAnswerTheNextOne) {
  ReplyPool pool;
  {
    ReplyPool::Exchange abandoned(pool, kKey, EchoBytes{});
    abandoned.sent();
    abandoned.sent();  // re-sent, then given up
  }
  ReplyPool::Exchange next(pool, kKey, EchoBytes{});
  next.sent();
  pool.put(kKey, {1});
  pool.put(kKey, {2});
  EXPECT_EQ(answerOf(next), std::nullopt);
  pool.put(kKey, {3});
  EXPECT_EQ(answerOf(next), Bytes{3});
  EXPECT_EQ(pool.stats().late, 2U);
}

TEST(ReplyLedger, AReplyWhoseEchoDiffersIsNotTheAnswer) {
  ReplyPool pool;
  {
    ReplyPool::Exchange port2(pool, kKey, portEcho(2));
    port2.sent();
  }
  ReplyPool::Exchange port3(pool, kKey, portEcho(3));
  port3.sent();
  pool.put(kKey, {3, 0x30});  // port 3's answer overtakes port 2's
  EXPECT_EQ(answerOf(port3), (Bytes{3, 0x30}));
  pool.put(kKey, {9, 0x90});  // matches no send at all
  pool.put(kKey, {2, 0x20});  // the late one is discarded
  const auto stats = pool.stats();
  EXPECT_EQ(stats.late, 1U);
  EXPECT_EQ(stats.mismatched, 1U);
  EXPECT_EQ(pool.unansweredSends(kKey), 0U);
}

TEST(ReplyLedger, AShortReplyIsLeftToItsOperationToRefuse) {
  ReplyPool pool;
  ReplyPool::Exchange ex(pool, kKey, EchoBytes::of(Echo::at(0, 1), Bytes{4, 1}));
  ex.sent();
  pool.put(kKey, {});  // too short to hold the echo: the operation reports the short reply
  EXPECT_EQ(answerOf(ex), Bytes{});
}

TEST(ReplyLedger, ANewRequestWaitsForTheAnswersToEarlierSends) {
  ReplyPool pool;
  EXPECT_EQ(pool.quarantineEnd(kKey), std::nullopt);
  { ReplyPool::Exchange(pool, kKey, EchoBytes{}).sent(); }
  const auto end = pool.quarantineEnd(kKey);
  ASSERT_TRUE(end.has_value());
  EXPECT_LE(*end, zelvo::deadlineAfter(zelvo::kMaxQuarantine));
  zelvo::CancelState cancel;
  auto quiet = ztest::startAwaitable(waitOn<zelvo::Unit>(WaitMode{false, &cancel}, pool.quiet(kKey), 5.0), 0);
  EXPECT_EQ(quiet.wait_for(20ms), std::future_status::timeout);
  pool.put(kKey, {1});  // the late reply: discarded, and the key is quiet
  EXPECT_TRUE(quiet.get().value.value().has_value());
  EXPECT_EQ(pool.quarantineEnd(kKey), std::nullopt);
}

TEST(ReplyLedger, ASendNobodyAnswersIsForgottenAfterItsLifetime) {
  ReplyPool pool;
  { ReplyPool::Exchange(pool, kKey, EchoBytes{}).sent(); }
  EXPECT_DOUBLE_EQ(pool.sendLifetime(), zelvo::kMinSendLifetime);
  std::this_thread::sleep_for(std::chrono::duration<double>(zelvo::kMinSendLifetime) + 50ms);
  EXPECT_EQ(pool.quarantineEnd(kKey), std::nullopt);
  EXPECT_EQ(pool.stats().lost_sends, 1U);
  // The request in progress waits for its own answer however late it comes.
  ReplyPool::Exchange slow(pool, kKey, EchoBytes{});
  slow.sent();
  std::this_thread::sleep_for(std::chrono::duration<double>(zelvo::kMinSendLifetime) + 50ms);
  pool.put(kKey, {5});
  EXPECT_EQ(answerOf(slow), Bytes{5});
}

TEST(ReplyLedger, UnsolicitedRepliesAreBounded) {
  ReplyPool pool;
  for (zelvo::ReplyKey k = 0; k < 10000; ++k) pool.put(k, Bytes(8, 1));
  pool.put(1 << 24, Bytes(zelvo::kMaxUnsolicitedBytes + 1, 1));
  EXPECT_EQ(pool.snapshot().size(), zelvo::kMaxUnsolicitedKeys);
  EXPECT_EQ(pool.snapshot().count(9999), 1U);  // the newest are kept
  const auto stats = pool.stats();
  EXPECT_EQ(stats.unsolicited, 10001U);
  EXPECT_EQ(stats.dropped, 10001U - zelvo::kMaxUnsolicitedKeys);
}

TEST(ReplyLedger, ALinkThatGoesDownEndsTheWaitsAndForgetsTheSends) {
  ReplyPool pool;
  ReplyPool::Exchange ex(pool, kKey, EchoBytes{});
  ex.sent();
  zelvo::CancelState cancel;
  auto pending = ztest::startAwaitable(waitOn<Bytes>(WaitMode{false, &cancel}, ex.answer(), 30.0), 0);
  pool.linkDown();
  try {
    ztest::rethrow(pending.get());
    FAIL() << "the wait did not end";
  } catch (const zelvo::Error& e) {
    EXPECT_EQ(e.id(), zelvo::Err::NetworkConnectionLostError);
  }
  EXPECT_EQ(pool.unansweredSends(kKey), 0U);
  EXPECT_THROW(answerOf(ex), zelvo::Error);  // until the link is up again
  pool.linkUp();
  EXPECT_EQ(answerOf(ex), std::nullopt);
}

TEST(ReplyLedger, TheRoundTripSetsHowLongASendMayStillBeAnswered) {
  zelvo::RoundTrip rtt;
  EXPECT_DOUBLE_EQ(rtt.sendLifetime(), zelvo::kMinSendLifetime);
  rtt.sample(0.0002);
  EXPECT_DOUBLE_EQ(rtt.sendLifetime(), zelvo::kMinSendLifetime);  // never below the floor
  rtt.sample(1.5);
  EXPECT_GT(rtt.sendLifetime(), 1.5);
  for (int i = 0; i < 20; ++i) rtt.sample(60.0);
  EXPECT_DOUBLE_EQ(rtt.sendLifetime(), zelvo::kMaxSendLifetime);
}

}  // namespace
