// Signal queues of converted samples and the count-to-volts conversions.
#include <gtest/gtest.h>

#include <thread>

#include "zelvo/analog/ai_convert.hpp"
#include "zelvo/analog/sample_queue.hpp"

namespace {

using zelvo::SampleQueue;

// Pushes `rows` rows of `width` values numbered from `first`.
std::size_t pushNumbered(SampleQueue& q, int width, std::size_t rows, double first) {
  return q.push(width, rows, [&](double* out) {
    for (std::size_t i = 0; i < rows * static_cast<std::size_t>(width); ++i) out[i] = first + static_cast<double>(i);
  });
}

std::vector<double> takeAll(SampleQueue& q, std::size_t n, int* width = nullptr) {
  std::vector<double> out;
  q.take(n, [&](int w, const double* v, std::size_t rows) {
    if (width) *width = w;
    out.insert(out.end(), v, v + rows * static_cast<std::size_t>(w));
  });
  return out;
}

TEST(SampleQueue, KeepsOrderAcrossChunksAndPartialTakes) {
  SampleQueue q(100000);
  double next = 0;
  for (int packet = 0; packet < 30; ++packet) {  // spans several chunks
    pushNumbered(q, 8, 500, next);
    next += 500 * 8;
  }
  std::vector<double> got;
  while (q.size() > 0) {
    auto part = takeAll(q, 777);
    got.insert(got.end(), part.begin(), part.end());
  }
  ASSERT_EQ(got.size(), 30u * 500 * 8);
  for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], static_cast<double>(i));
  // The producer's chunk is reused after being drained.
  pushNumbered(q, 8, 2, 0);
  EXPECT_EQ(takeAll(q, 5).size(), 16u);
}

TEST(SampleQueue, ATakeStopsWhereTheWidthChanges) {
  SampleQueue q(1000);
  pushNumbered(q, 8, 3, 0);
  pushNumbered(q, 4, 2, 100);
  int width = 0;
  EXPECT_EQ(takeAll(q, 10, &width).size(), 24u);
  EXPECT_EQ(width, 8);
  EXPECT_EQ(q.size(), 2u);
  EXPECT_EQ(takeAll(q, 10, &width), (std::vector<double>{100, 101, 102, 103, 104, 105, 106, 107}));
  EXPECT_EQ(width, 4);
}

TEST(SampleQueue, AFullQueueDropsTheNewestAndReportsEachBurstOnce) {
  SampleQueue q(10);
  EXPECT_EQ(pushNumbered(q, 2, 8, 0), 8u);
  EXPECT_EQ(pushNumbered(q, 2, 5, 100), 2u);
  EXPECT_EQ(pushNumbered(q, 2, 5, 200), 0u);
  EXPECT_EQ(q.dropped(), 8u);
  EXPECT_TRUE(q.takeOverflowStart());
  EXPECT_FALSE(q.takeOverflowStart());  // the same burst
  takeAll(q, 5);
  EXPECT_EQ(pushNumbered(q, 2, 5, 300), 5u);  // room again: the burst is over
  pushNumbered(q, 2, 1, 400);
  EXPECT_TRUE(q.takeOverflowStart());  // a new burst
  EXPECT_EQ(takeAll(q, 10)[10], 300.0);  // the kept rows are the oldest ones
}

TEST(SampleQueue, AWaitForEnoughRowsEndsWhenTheyArrive) {
  SampleQueue q(1000);
  std::thread producer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    pushNumbered(q, 8, 3, 0);
    pushNumbered(q, 8, 3, 0);
  });
  auto source = q.atLeast(5);
  auto slot = std::make_shared<zelvo::Slot<zelvo::Unit>>();
  if (!source.takeOrSubscribe(slot)) slot->waitUntil(zelvo::deadlineAfter(5));
  source.unsubscribe(slot.get());
  producer.join();
  EXPECT_EQ(slot->result(), zelvo::WaitResult::Value);
  EXPECT_GE(q.size(), 5u);
}

// round(x, 4) as Python gives it, including the half-way cases that round to even.
TEST(Counts16, RoundsLikePython) {
  const zelvo::Counts16 volts(10.0 / 32768);
  EXPECT_EQ(volts(-32768), -10.0);
  EXPECT_EQ(volts(32767), 9.9997);
  EXPECT_EQ(volts(512), 0.1562);   // exactly 0.15625: to even
  EXPECT_EQ(volts(1536), 0.4688);  // exactly 0.46875: to even
  EXPECT_EQ(volts(1), 0.0003);
  EXPECT_EQ(zelvo::roundDecimal(2.675, 2), 2.67);  // 2.675 is below the half in binary
}

TEST(Counts24, SignExtensionAndOffsetCodes) {
  const zelvo::Byte min[3] = {0x80, 0, 0}, max[3] = {0x7F, 0xFF, 0xFF}, one[3] = {0, 0, 1};
  EXPECT_EQ(zelvo::count24(min), -8388608);
  EXPECT_EQ(zelvo::count24(max), 8388607);
  EXPECT_EQ(zelvo::count24(one), 1);
  const zelvo::Byte zero[3] = {0, 0, 0}, mid[3] = {0x80, 0, 0}, top[3] = {0xFF, 0xFF, 0xFF};
  EXPECT_EQ(zelvo::offsetCode24(zero, 50), -50.0);
  EXPECT_EQ(zelvo::offsetCode24(mid, 50), 0.0);
  EXPECT_EQ(zelvo::offsetCode24(top, 50), 50.0);
  EXPECT_EQ(zelvo::offsetCode24(top, 25), 25.0);
}

}  // namespace
