// Property test of the frame splitter against the documented algorithm, on random byte streams
// biased towards the cases that matter (start bytes and terminators inside payloads, wrong
// lengths, code bytes around 48, runs of start bytes and terminators), fed in random chunks.
// ZELVO_FUZZ_SEED=<n> reruns from another seed; a failure prints the seed that reproduces it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <random>

#include "support/peer.hpp"
#include "support/split_check.hpp"

namespace {

using zelvo::Byte;
using zelvo::Bytes;

class StreamGen {
 public:
  explicit StreamGen(std::uint64_t seed) : rng_(seed) {}

  Bytes stream() {
    Bytes out;
    for (std::size_t n = 1 + pick(30); n > 0; --n) piece(out);
    return out;
  }

  // Chunk ends for one of several feeding patterns; an empty chunk now and then.
  std::vector<std::size_t> cuts(std::size_t size) {
    std::vector<std::size_t> out;
    const std::size_t style = pick(4);
    if (style == 0) return {size};
    for (std::size_t at = 0; at < size;) {
      const std::size_t step = style == 1 ? 1 : style == 2 ? 1 + pick(20) : 1 + pick(512);
      at = std::min(size, at + (pick(16) == 0 ? 0 : step));
      out.push_back(at);
    }
    return out;
  }

 private:
  std::size_t pick(std::size_t n) { return static_cast<std::size_t>(rng_() % n); }

  Byte byte() {
    static constexpr Byte kSpecial[] = {0x02, 0x0D, 0x0A, 0x30, 0x31, 0x00, 0xFF};
    return pick(3) == 0 ? kSpecial[pick(std::size(kSpecial))] : static_cast<Byte>(rng_());
  }
  Bytes bytes(std::size_t n) {
    Bytes b(n);
    for (auto& x : b) x = byte();
    return b;
  }
  int code() {
    switch (pick(4)) {
      case 0: return 49 + static_cast<int>(pick(207));          // one byte
      case 1: return 0x3000 + static_cast<int>(pick(256));      // high byte exactly 48
      case 2: return static_cast<int>(pick(49));                // one byte that reads as a high byte
      default: return 256 + static_cast<int>(pick(0x3000 - 256));  // two bytes
    }
  }

  void piece(Bytes& out) {
    Bytes p;
    switch (pick(10)) {
      case 0: case 1: case 2:  // a valid frame
        p = ztest::wireFrame(code(), bytes(pick(40)));
        break;
      case 3: case 4:  // a frame whose length field is off
        p = ztest::wireFrame(code(), bytes(pick(40)));
        if (pick(2)) {
          p[2] = static_cast<Byte>(p[2] + 1 + pick(3));
        } else {
          p[1] = byte();
          p[2] = byte();
        }
        break;
      case 5:  // the start of a frame
        p = ztest::wireFrame(code(), bytes(pick(40)));
        p.resize(pick(p.size()));
        break;
      case 6:
        p = bytes(1 + pick(30));
        break;
      case 7:
        p.assign(1 + pick(64), 0x02);
        break;
      case 8:
        for (std::size_t n = 1 + pick(16); n > 0; --n) {
          p.push_back(0x0D);
          if (pick(8)) p.push_back(0x0A);
        }
        break;
      default:  // a start byte whose length reaches some way ahead
        p = {0x02, 0, static_cast<Byte>(pick(60))};
        break;
    }
    out.insert(out.end(), p.begin(), p.end());
  }

  std::mt19937_64 rng_;
};

std::uint64_t baseSeed() {
  const char* env = std::getenv("ZELVO_FUZZ_SEED");
  return env ? std::strtoull(env, nullptr, 0) : 20240607;
}

TEST(SplitterProperty, CutsTheSameFramesAsTheReference) {
  constexpr int kIterations = 4000;
  const std::uint64_t base = baseSeed();
  for (int i = 0; i < kIterations; ++i) {
    const std::uint64_t seed = base + static_cast<std::uint64_t>(i);
    StreamGen gen(seed);
    const Bytes bytes = gen.stream();
    const std::string diff = ztest::compareSplitters(bytes, gen.cuts(bytes.size()));
    ASSERT_EQ(diff, "") << "reproduce with ZELVO_FUZZ_SEED=" << seed;
  }
}

// Random bytes without start bytes, terminators here and there.
Bytes garbage(std::mt19937& rng, std::size_t n) {
  Bytes out;
  while (out.size() < n) {
    const Byte b = static_cast<Byte>(rng());
    out.push_back(b == 0x02 ? 0x03 : b);
    if (rng() % 200 == 0) out.insert(out.end(), {0x0D, 0x0A});
  }
  return out;
}

std::vector<std::size_t> everyN(std::size_t size, std::size_t n) {
  std::vector<std::size_t> cuts;
  for (std::size_t at = n; at < size; at += n) cuts.push_back(at);
  cuts.push_back(size);
  return cuts;
}

TEST(SplitterProperty, DroppingDeadBytesKeepsFramesThatCanStillComplete) {
  std::mt19937 rng(7);
  Bytes bytes = garbage(rng, 120 * 1024);
  // A long frame with terminators inside its payload, started while the dead prefix grows.
  Bytes big = garbage(rng, 30000);
  bytes.insert(bytes.end(), {0x02, 0xFF, 0xFF});  // a start byte that can never match
  const Bytes f = ztest::wireFrame(2054, big);
  bytes.insert(bytes.end(), f.begin(), f.end());
  const Bytes tail = garbage(rng, 200 * 1024);
  bytes.insert(bytes.end(), tail.begin(), tail.end());
  const Bytes last = ztest::wireFrame(122, {1, 2, 3});
  bytes.insert(bytes.end(), last.begin(), last.end());
  EXPECT_EQ(ztest::compareSplitters(bytes, everyN(bytes.size(), 1536)), "");
}

// The longest frame the length field allows, preceded by enough garbage that the splitter cuts a
// dead prefix while the frame is still arriving, at each offset around the first cut: bytes that
// can still start a frame must survive the cut.
TEST(SplitterProperty, LongestFrameSurvivesTheDeadPrefixCut) {
  constexpr std::size_t kLongest = 32767;  // command + payload bytes
  const Bytes frame = ztest::wireFrame(122, Bytes(kLongest - 1, 0x55));
  const std::size_t first_cut = kLongest + 3 + ztest::kDeadPrefixAtLeast;  // garbage bytes read before it
  for (std::size_t prefix = first_cut - kLongest - 8; prefix < first_cut - kLongest + 48; ++prefix) {
    Bytes bytes(prefix, 0x41);
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    zelvo::FrameSplitter s;
    const std::size_t bulk = first_cut - 1000;
    auto got = s.feed(zelvo::ByteView(bytes).first(bulk));
    for (std::size_t at = bulk; at < bytes.size(); ++at)
      for (auto& f : s.feed(zelvo::ByteView(bytes).subspan(at, 1))) got.push_back(std::move(f));
    ASSERT_EQ(got.size(), 1U) << "garbage prefix of " << prefix << " bytes";
    EXPECT_EQ(got[0].payload.size(), kLongest - 1);
  }
}

TEST(SplitterProperty, GarbageDoesNotGrowTheStreamWithoutBound) {
  std::mt19937 rng(11);
  zelvo::FrameSplitter s;
  std::size_t most = 0;
  for (int i = 0; i < 1000; ++i) {
    EXPECT_TRUE(s.feed(garbage(rng, 1536)).empty());
    most = std::max(most, s.stream().size());
  }
  EXPECT_LT(most, 200U * 1024);
  EXPECT_EQ(s.feed(ztest::wireFrame(122, {4})), (std::vector<zelvo::Frame>{{122, {4}}}));
}

// Inputs on which the literal algorithm does quadratic work: many terminators, each preceded by
// every start byte seen so far, none forming a frame. The reference is not run on them.
TEST(SplitterProperty, HostileInputTakesLinearTime) {
  const std::vector<Bytes> patterns = {
      {0x02, 0x0D, 0x0A}, {0x02, 0x02, 0x02, 0x02, 0x0D, 0x0A}, {0x02, 0x7F, 0xFF, 0x0D, 0x0A}};
  for (const auto& pattern : patterns) {
    Bytes bytes;
    while (bytes.size() < 200 * 1024) bytes.insert(bytes.end(), pattern.begin(), pattern.end());
    for (std::size_t chunk : {std::size_t{1536}, bytes.size()}) {
      zelvo::FrameSplitter s;
      const auto start = ztest::Clock::now();
      std::size_t frames = 0;
      for (std::size_t at = 0; at < bytes.size(); at += chunk)
        frames += s.feed(zelvo::ByteView(bytes).subspan(at, std::min(chunk, bytes.size() - at))).size();
      EXPECT_EQ(frames, 0U);
      EXPECT_LT(ztest::secondsSince(start), 0.5) << "pattern of " << pattern.size() << " bytes, chunks of " << chunk;
    }
  }
}

}  // namespace
