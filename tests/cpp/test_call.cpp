// The echo exchange against a scripted device on loopback: retries, time-outs in both families,
// stale replies, same-key serialisation and motion reply keys.
#include <gtest/gtest.h>

#include <thread>

#include "support/bench.hpp"
#include "zelvo/core/call.hpp"

namespace {

using zelvo::Bytes;
using ztest::Answer;
using ztest::Bench;
using ztest::Request;
using ztest::wireFrame;
using namespace std::chrono_literals;

constexpr int kCode = 122;

// Parameter: true runs the blocking family, false the awaitable one.
class Echo : public ::testing::TestWithParam<bool> {
 protected:
  bool blocking() const { return GetParam(); }
  void expectTimeout(zelvo::Device& dev, double timeout, int code = kCode) const {
    if (blocking()) {
      try {
        ztest::echoIn(true, dev, code, {1}, timeout);
        FAIL() << "no time-out";
      } catch (const zelvo::Error& e) {
        EXPECT_EQ(e.id(), zelvo::Err::ReceivePacketTimeoutError);
      }
    } else {
      EXPECT_THROW(ztest::echoIn(false, dev, code, {1}, timeout), zelvo::Error);
    }
  }
};

TEST_P(Echo, SucceedsWhenOnlyTheThirdSendIsAnswered) {
  Bench b([](const Request& r, int nth) { return nth == 2 ? Answer{wireFrame(r.code, {9, 8})} : Answer{}; });
  const auto start = ztest::Clock::now();
  EXPECT_EQ(ztest::echoIn(blocking(), b.dev, kCode, {1, 2}, 0.6), (Bytes{9, 8}));
  EXPECT_GE(ztest::secondsSince(start), 0.4);  // two attempts of 0.2 s went unanswered
  const auto reqs = b.peer.requests();
  ASSERT_EQ(reqs.size(), 3U);
  for (const auto& r : reqs) {
    EXPECT_EQ(r.code, kCode);
    EXPECT_EQ(r.payload, (Bytes{1, 2}));
  }
}

TEST_P(Echo, SendsThreeTimesAtAThirdOfTheTimeoutThenGivesUp) {
  Bench b;
  const auto start = ztest::Clock::now();
  expectTimeout(b.dev, 0.3);
  const double took = ztest::secondsSince(start);
  EXPECT_GE(took, 0.3);
  EXPECT_LT(took, 1.5);
  std::this_thread::sleep_for(100ms);  // nothing more is sent in the final wait or after it
  const auto reqs = b.peer.requests();
  ASSERT_EQ(reqs.size(), 3U);
  for (std::size_t i = 0; i < reqs.size(); ++i) {
    const double at = std::chrono::duration<double>(reqs[i].at - start).count();
    EXPECT_GE(at, 0.1 * static_cast<double>(i)) << "send " << i;
    EXPECT_LT(at, 0.1 * static_cast<double>(i) + 0.5) << "send " << i;
  }
}

TEST_P(Echo, TakesAReplyThatArrivesInTheFinalWait) {
  // Attempt waits are at most a second, so only a time-out beyond a second per send leaves time for
  // the final wait: one send, a 1 s attempt, then the rest of 1.6 s without sending.
  Bench b;
  const auto start = ztest::Clock::now();
  std::jthread late([&] {
    std::this_thread::sleep_until(start + 1150ms);
    b.peer.send(wireFrame(kCode, {4}));
  });
  EXPECT_EQ(ztest::echoIn(blocking(), b.dev, kCode, {1}, 1.6, 1), Bytes{4});
  EXPECT_GE(ztest::secondsSince(start), 1.15);
  EXPECT_EQ(b.peer.requests().size(), 1U);
}

TEST_P(Echo, ANonPositiveTimeoutSendsOnceAndFailsPromptly) {
  Bench b;
  for (auto [code, timeout] : {std::pair{kCode, 0.0}, std::pair{kCode + 1, -1.0}}) {
    const auto start = ztest::Clock::now();
    expectTimeout(b.dev, timeout, code);
    EXPECT_LT(ztest::secondsSince(start), 0.5);
  }
  EXPECT_TRUE(b.peer.waitForRequests(2));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(b.peer.requests().size(), 2U);
}

TEST_P(Echo, DropsAStaleReplyBeforeSending) {
  Bench b(ztest::replyWith({1}));
  b.peer.send(wireFrame(kCode, {0xEE}));  // a late answer to a request nobody waits for any more
  ASSERT_TRUE(ztest::eventually([&] { return b.dev.replies().snapshot().count(kCode) == 1; }));
  EXPECT_EQ(ztest::echoIn(blocking(), b.dev, kCode, {1}, 2.0), Bytes{1});
  EXPECT_TRUE(b.dev.replies().snapshot().empty());
}

TEST_P(Echo, MotionRepliesAreMatchedByTheirKeyBytes) {
  // The device holds the first motion request and answers both, in reverse order, when the second
  // one arrives.
  Bench b([held = Bytes{}](const Request& r, int nth) mutable {
    const Bytes reply_to_this = wireFrame(r.code, Bytes{r.payload[0], r.payload[1], r.payload[2], 0});
    if (nth == 0) {
      held = reply_to_this;
      return Answer{};
    }
    Bytes both = reply_to_this;
    both.insert(both.end(), held.begin(), held.end());
    return Answer{both};
  });
  auto first = std::async(std::launch::async, [&] {
    return ztest::echoIn(blocking(), b.dev, zelvo::MOTION, {0x10, 0x20, 0x30, 1}, 2.0);
  });
  ASSERT_TRUE(b.peer.waitForRequests(1));
  EXPECT_EQ(ztest::echoIn(blocking(), b.dev, zelvo::MOTION, {0x10, 0x21, 0x30, 2}, 2.0), (Bytes{0x10, 0x21, 0x30, 0}));
  EXPECT_EQ(first.get(), (Bytes{0x10, 0x20, 0x30, 0}));
  EXPECT_EQ(b.peer.requests().size(), 2U);  // each was answered at its first send
}

INSTANTIATE_TEST_SUITE_P(Families, Echo, ::testing::Values(true, false),
                         [](const auto& p) { return p.param ? "blocking" : "awaitable"; });

TEST(EchoConcurrency, SameCodeFromManyCallersEachGetTheirOwnReply) {
  Bench b([](const Request& r, int) { return Answer{wireFrame(r.code, r.payload)}; });
  std::vector<std::thread> workers;
  std::atomic<int> mismatches{0}, done{0};
  for (int w = 0; w < 4; ++w)
    workers.emplace_back([&, w] {
      for (int i = 0; i < 25; ++i) {
        const Bytes mine = {static_cast<zelvo::Byte>(w), static_cast<zelvo::Byte>(i)};
        // Even workers use the blocking family, odd ones the awaitable one: one gate serves both.
        try {
          if (ztest::echoIn(w % 2 == 0, b.dev, kCode, mine, 2.0) != mine) ++mismatches;
        } catch (...) {
          ++mismatches;
        }
        ++done;
      }
    });
  for (auto& t : workers) t.join();
  EXPECT_EQ(done, 100);
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(b.peer.requests().size(), 100U);
}

TEST(EchoErrors, ArgumentAndConnectionErrorsComeBeforeAnythingIsSent) {
  ztest::ScriptedPeer peer;
  zelvo::ETHDevice dev("Tavra-A", false);
  try {
    ztest::echoIn(true, dev, kCode, {}, 1.0);
    FAIL() << "sent on a device that is not connected";
  } catch (const zelvo::Error& e) {
    EXPECT_EQ(e.id(), zelvo::Err::NetworkConnectionError);
  }
  zelvo::Call call = zelvo::Call::blocking(dev);
  EXPECT_THROW(call.sendOnly(kCode, Bytes{}), zelvo::Error);
  dev.connect("127.0.0.1", peer.port(), false);
  EXPECT_THROW(ztest::echoIn(true, dev, zelvo::MOTION, {1, 2}, 1.0), zelvo::Error);  // no room for its key
  EXPECT_THROW(ztest::echoIn(true, dev, 70000, {}, 1.0), zelvo::Error);
  call.sendOnly(kCode, Bytes{5});
  ASSERT_TRUE(peer.waitForRequests(1));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(peer.requests().size(), 1U);
  dev.close(false);
  try {
    call.sendOnly(kCode, Bytes{});
    FAIL() << "sent on a closed device";
  } catch (const zelvo::Error& e) {
    EXPECT_EQ(e.id(), zelvo::Err::NetworkConnectionError);
    EXPECT_EQ(e.msg(), "The device handle is closed.");
  }
}

TEST(EchoTiming, EachAttemptWaitsAThirdOfTheTimeoutAtMostOneSecond) {
  EXPECT_DOUBLE_EQ(zelvo::attemptWait(0.3, 3), 0.1);
  EXPECT_DOUBLE_EQ(zelvo::attemptWait(3, 3), 1.0);
  EXPECT_DOUBLE_EQ(zelvo::attemptWait(5, 3), 1.0);
  EXPECT_DOUBLE_EQ(zelvo::attemptWait(2, 4), 0.5);
  EXPECT_DOUBLE_EQ(zelvo::attemptWait(5, 0), 0.0);
  EXPECT_LE(zelvo::attemptWait(-1, 3), 0.0);
}

}  // namespace
