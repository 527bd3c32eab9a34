// Devices: how received frames are filed, and the connection lifecycle with its receive threads,
// against scripted peers on loopback.
#include <gtest/gtest.h>

#include <thread>

#include "support/bench.hpp"
#include "zelvo/core/device.hpp"

namespace {

using zelvo::Bytes;
using zelvo::StreamKey;
using ztest::Bench;
using ztest::wireFrame;
using namespace std::chrono_literals;

struct RouteCase {
  const char* name;
  int cmd;
  Bytes payload;
  std::map<zelvo::ReplyKey, Bytes> echo;
  std::vector<std::pair<StreamKey, Bytes>> streams;
  std::map<int, std::set<Bytes>> broadcasts;
  bool reported = false;  // dropped with a printed report
};
void PrintTo(const RouteCase& c, std::ostream* os) { *os << c.name; }

class Routing : public ::testing::TestWithParam<RouteCase> {};

TEST_P(Routing, FilesTheFrameWhereItBelongs) {
  const RouteCase& c = GetParam();
  ztest::PrintedLines printed;
  zelvo::ETHDevice dev("Tavra-A", false);
  dev.putToDataPool(c.cmd, c.payload);
  EXPECT_EQ(dev.replies().snapshot(), c.echo);
  std::vector<std::pair<StreamKey, Bytes>> streams;
  for (const auto& [key, q] : dev.streams().snapshot())
    for (auto& item : q->take(-1)) streams.emplace_back(key, std::move(item));
  EXPECT_EQ(streams, c.streams);
  std::map<int, std::set<Bytes>> broadcasts;
  for (const auto& [code, set] : dev.broadcasts().snapshot())
    if (!set.empty()) broadcasts[code] = set;
  EXPECT_EQ(broadcasts, c.broadcasts);
  EXPECT_EQ(printed.count("Dropped"), c.reported ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, Routing,
    ::testing::Values(
        RouteCase{"echo", 122, {1, 2}, {{122, {1, 2}}}, {}, {}},
        RouteCase{"motion_key", 208, {0x10, 0x20, 0x30, 0x40}, {{806363344, {0x10, 0x20, 0x30, 0x40}}}, {}, {}},
        RouteCase{"motion_key_negative", 208, {0x10, 0x20, 0x80}, {{-2146426672, {0x10, 0x20, 0x80}}}, {}, {}},
        RouteCase{"motion_too_short", 208, {0x10, 0x20}, {}, {}, {}, true},
        RouteCase{"ai_stream", 183, {1, 0, 5, 6}, {}, {{StreamKey{183, 1, 0, 3}, {5, 6}}}, {}},
        RouteCase{"ai_stream_24bit", 8205, {3, 4, 5}, {}, {{StreamKey{8205, 0, 0, 3}, {5}}}, {}},
        RouteCase{"ai_stream_variable", 190, {3, 4}, {}, {{StreamKey{190, 0, 0, 3}, {}}}, {}},
        RouteCase{"can", 49, {1, 2, 3}, {}, {{StreamKey{49, 0, 0, 1}, {3}}}, {}},
        RouteCase{"ahrs", 9217, {1, 2, 3}, {}, {{StreamKey{9217, 0, 0, 1}, {2, 3}}}, {}},
        RouteCase{"uart", 129, {2, 9, 7}, {}, {{StreamKey{129, 2, 0, 2}, {7}}}, {}},
        RouteCase{"motion_monitoring", 211, {1, 2}, {}, {{StreamKey{211, 0, 0, 1}, {1, 2}}}, {}},
        RouteCase{"ao_stream_empty", 8265, {}, {}, {{StreamKey{8265, 0, 0, 1}, {}}}, {}},
        RouteCase{"ai_stream_too_short", 183, {1}, {}, {}, {}, true},
        RouteCase{"ahrs_too_short", 9217, {}, {}, {}, {}, true},
        RouteCase{"broadcast_answer", 252, {1, 7, 8}, {}, {}, {{252, {{7, 8}}}}},
        RouteCase{"broadcast_answer_empty", 2582, {1}, {}, {}, {{2582, {{}}}}},
        RouteCase{"broadcast_not_an_answer", 253, {0, 7}, {}, {}, {}},
        RouteCase{"broadcast_empty", 254, {}, {}, {}, {}, true}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(Routing, ClassifiesByCodeAndBroadcastMark) {
  using zelvo::FrameKind;
  const Bytes one = {1}, zero = {0};
  EXPECT_EQ(zelvo::Device::checkCommandType(183, zero), FrameKind::Streaming);
  EXPECT_EQ(zelvo::Device::checkCommandType(252, one), FrameKind::Broadcast);
  EXPECT_EQ(zelvo::Device::checkCommandType(252, zero), FrameKind::Ignore);
  EXPECT_EQ(zelvo::Device::checkCommandType(208, zero), FrameKind::Echo);
  EXPECT_STREQ(zelvo::frameKindName(FrameKind::Ignore), "ignore");
  EXPECT_EQ(zelvo::replyKeyFor(208, Bytes{0x10, 0x20, 0x30}), 806363344);
  EXPECT_EQ(zelvo::replyKeyFor(122, Bytes{0x10, 0x20, 0x30}), 122);
}

TEST(Routing, AStreamSinkTakesPayloadsInsteadOfTheQueue) {
  zelvo::ETHDevice dev("Tavra-A", false);
  const StreamKey key{183, 0, 1, 3};
  std::vector<Bytes> seen;
  dev.setStreamSink(key, [&](zelvo::ByteView b) { seen.emplace_back(b.begin(), b.end()); });
  dev.putToDataPool(183, {0, 1, 4});
  dev.clearStreamSink(key);
  dev.putToDataPool(183, {0, 1, 5});
  EXPECT_EQ(seen, (std::vector<Bytes>{{4}}));
  EXPECT_EQ(dev.streams().queue(key)->take(-1), (std::vector<Bytes>{{5}}));
}

TEST(Routing, ShortFramesFromTheDeviceAreDroppedAndReadingGoesOn) {
  ztest::PrintedLines printed;
  Bench b(ztest::replyWith({3}));
  b.peer.send(wireFrame(183, {1}));
  b.peer.send(wireFrame(208, {1, 2}));
  EXPECT_EQ(ztest::echoIn(true, b.dev, 122, {}, 2.0), Bytes{3});
  EXPECT_EQ(printed.count("Dropped"), 2);
  EXPECT_TRUE(b.dev.streams().snapshot().empty());
}

TEST(DeviceLifecycle, ConnectDisconnectAndConnectAgain) {
  ztest::PrintedLines printed;
  ztest::ScriptedPeer peer(ztest::replyWith({6}));
  {
    zelvo::ETHDevice dev("Tavra-A");
    dev.connect("127.0.0.1", peer.port());
    dev.connect("127.0.0.1", peer.port());  // already connected: nothing happens
    EXPECT_EQ(ztest::echoIn(true, dev, 122, {}, 2.0), Bytes{6});
    dev.disconnect();
    dev.disconnect();
    EXPECT_THROW(ztest::echoIn(true, dev, 122, {}, 0.5), zelvo::Error);
    dev.connect("127.0.0.1", peer.port());
    EXPECT_EQ(ztest::echoIn(true, dev, 122, {}, 2.0), Bytes{6});  // the parked thread reads again
    dev.close();
    dev.close();
  }
  EXPECT_TRUE(peer.waitForConnections(2));
  const std::vector<std::string> expected = {
      "Opened handle (Tavra-A)",  "Connected to 127.0.0.1 (Tavra-A)", "Disconnected from 127.0.0.1 (Tavra-A)",
      "Connected to 127.0.0.1 (Tavra-A)", "Disconnected from 127.0.0.1 (Tavra-A)", "Closed handle (Tavra-A)"};
  EXPECT_EQ(printed.lines(), expected);
}

TEST(DeviceLifecycle, CloseEndsWaitsInProgress) {
  Bench b;  // a device that never answers
  auto expectConnectionError = [&](int code) {
    try {
      ztest::echoIn(true, b.dev, code, {}, 30.0);
      ADD_FAILURE() << "wait for " << code << " not ended by close";
    } catch (const zelvo::Error& e) {
      EXPECT_EQ(e.id(), zelvo::Err::NetworkConnectionError);
    }
  };
  std::jthread waiting([&] { expectConnectionError(122); });
  ASSERT_TRUE(b.peer.waitForRequests(1));
  std::jthread queued([&] { expectConnectionError(122); });  // behind the first, at the key's gate
  auto call = zelvo::Call::awaitable(b.dev, 30.0);
  auto pending = ztest::startAwaitable(call->echo(123, {}), call);
  ASSERT_TRUE(b.peer.waitForRequests(2));
  std::this_thread::sleep_for(20ms);
  const auto start = ztest::Clock::now();
  b.dev.close(false);
  waiting.join();
  queued.join();
  EXPECT_THROW(ztest::rethrow(pending.get()), zelvo::Error);
  EXPECT_LT(ztest::secondsSince(start), 3.0);
  EXPECT_TRUE(b.dev.killed());
  EXPECT_THROW(b.dev.connect("127.0.0.1", b.peer.port(), false), zelvo::Error);
}

// A reply wait that begins after close should end at once with the connection error, like the
// waits close() finds in progress. It waits out its whole time-out instead: the reply pool does not
// remember that it was aborted (see the report on ReplyPool::abortWaiters).
TEST(DeviceLifecycle, AWaitStartedAfterCloseEndsAtOnce) {
  zelvo::ETHDevice dev("Tavra-A", false);
  dev.close(false);
  const auto start = ztest::Clock::now();
  EXPECT_THROW(ztest::runIn(true, dev, 1.0, [](zelvo::Call& c) { return c.reply(122, 1.0); }), zelvo::Error);
  EXPECT_LT(ztest::secondsSince(start), 0.5);
}

TEST(DeviceLifecycle, APeerThatHangsUpParksTheReceiveThread) {
  ztest::PrintedLines printed;
  Bench b(ztest::replyWith({2}));
  b.peer.hangUp();
  ASSERT_TRUE(ztest::eventually([&] { return printed.count("NetworkConnectionLostError") > 0; }));
  const double cpu_before = ztest::processCpuSeconds();
  std::this_thread::sleep_for(500ms);
  EXPECT_LT(ztest::processCpuSeconds() - cpu_before, 0.2);
  EXPECT_EQ(printed.count("NetworkConnectionLostError"), 1);
  b.dev.disconnect(false);
  b.dev.connect("127.0.0.1", b.peer.port(), false);
  EXPECT_EQ(ztest::echoIn(true, b.dev, 122, {}, 2.0), Bytes{2});
}

TEST(WifiDevice, BothChannelsFeedThePoolsAndConnectIsAllOrNothing) {
  ztest::PrintedLines printed;
  ztest::ScriptedPeer cmd(ztest::replyWith({0})), data;
  zelvo::WifiDevice dev("Aeris-R3-AH");
  EXPECT_EQ(printed.count("Opened handle (Aeris-R3-AH)"), 2);  // both constructors say so
  int refused_port = 0;
  {
    ztest::ScriptedPeer gone;
    refused_port = gone.port();
  }
  EXPECT_THROW(dev.connect("127.0.0.1", cmd.port(), refused_port, false), zelvo::Error);
  EXPECT_FALSE(dev.connected());
  dev.connect("127.0.0.1", cmd.port(), data.port(), false);
  ASSERT_TRUE(data.waitForConnections(1));
  data.send(wireFrame(183, {0, 1, 7, 7}));
  EXPECT_EQ(ztest::echoIn(true, dev, 122, {}, 2.0), Bytes{0});
  const auto queue = dev.streams().queue(StreamKey{183, 0, 1, 3});
  ASSERT_TRUE(ztest::eventually([&] { return queue->size() == 1; }));
  EXPECT_EQ(queue->take(-1), (std::vector<Bytes>{{7, 7}}));
  dev.disconnect(false);
  EXPECT_FALSE(dev.dataConnected());
}

TEST(WifiDevice, ShortFramesOnBothChannelsAtOnceAreDropped) {
  ztest::PrintedLines printed;
  ztest::ScriptedPeer cmd(ztest::replyWith({1})), data;
  zelvo::WifiDevice dev("Aeris-R3-AH", false);
  dev.connect("127.0.0.1", cmd.port(), data.port(), false);
  ASSERT_TRUE(cmd.waitForConnections(1) && data.waitForConnections(1));
  Bytes burst;
  for (int i = 0; i < 500; ++i) {
    const Bytes f = wireFrame(9217, {});
    burst.insert(burst.end(), f.begin(), f.end());
  }
  std::jthread one([&] { cmd.send(burst); });
  data.send(burst);
  one.join();
  EXPECT_EQ(ztest::echoIn(true, dev, 122, {}, 2.0), Bytes{1});
  EXPECT_GE(printed.count("Dropped"), 1);
  EXPECT_LE(printed.count("Dropped"), 10);  // reports are limited per window
}

}  // namespace
