// The emulator's TCP transport: connections, channels, fault injection, stopping.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <thread>

#include "support/waits.hpp"
#include "test_sim_client.hpp"
#include "zelvo/sim/emulator.hpp"

namespace {

using simtest::Bytes;
using simtest::frame;
using simtest::RawClient;
using simtest::text;
using namespace std::chrono_literals;
namespace sim = zelvo::sim;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

class SimTransport : public ::testing::Test {
 protected:
  sim::Emulator emu;
  std::shared_ptr<sim::EmulatedDevice> dev = emu.add("TavraA");
  RawClient client{dev->host(), dev->port()};
  const Bytes serial_frame = frame(122, simtest::text(dev->firmware().serialNumber()));
};

TEST_F(SimTransport, RequestDribbledByteByByteIsAnswered) {
  for (std::uint8_t b : frame(122, {})) {
    client.send({b});
    std::this_thread::sleep_for(2ms);
  }
  EXPECT_EQ(client.readExactly(serial_frame.size()), serial_frame);
}

TEST_F(SimTransport, BackToBackRequestsAreAnsweredInOrder) {
  Bytes both = frame(240, {0});
  const Bytes second = frame(122, {});
  both.insert(both.end(), second.begin(), second.end());
  client.send(both);
  EXPECT_EQ(client.readFrame()->code, 240);
  EXPECT_EQ(client.readFrame()->code, 122);
}

TEST_F(SimTransport, EachConnectionGetsItsOwnReplies) {
  RawClient other(dev->host(), dev->port());
  other.request(240, {0});
  client.request(2056);
  EXPECT_EQ(client.readFrame()->code, 2056);
  EXPECT_EQ(other.readFrame()->code, 240);
  EXPECT_EQ(client.readSome(100ms), Bytes{});  // nothing else arrives
}

TEST_F(SimTransport, IgnoredRequestsAreCountedButUnanswered) {
  dev->faults().ignoreNext(122, 2);
  for (int i = 0; i < 2; ++i) {
    client.request(122);
    EXPECT_FALSE(client.readFrame(200ms).has_value()) << "request " << i;
  }
  EXPECT_EQ(client.exchange(122), text(dev->firmware().serialNumber()));
  EXPECT_EQ(dev->faults().requestCount(122), 3u);
  EXPECT_EQ(dev->faults().requestCount(240), 0u);
  // Other commands were never affected.
  dev->faults().ignoreNext(122, 1);
  EXPECT_EQ(client.exchange(2056), text("Tavra-A\r\n"));
}

// Replies are scheduled: a delayed reply does not hold up the loop for other connections.
TEST_F(SimTransport, DelayedRepliesAreScheduledNotSlept) {
  RawClient other(dev->host(), dev->port());
  dev->faults().delayReplies(std::chrono::duration<double>(0.4));
  const auto t0 = Clock::now();
  client.request(122);
  std::this_thread::sleep_for(150ms);
  other.request(240, {0});
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(dev->faults().requestCount(240), 1u);  // read at once, only the reply waits
  ASSERT_TRUE(client.readFrame(2000ms).has_value());
  EXPECT_GE(secondsSince(t0), 0.39);
  ASSERT_TRUE(other.readFrame(2000ms).has_value());
  const double second = secondsSince(t0);
  EXPECT_GE(second, 0.54);
  EXPECT_LT(second, 0.75);
}

// The pieces go out in writes of their own (how many reads take them is the host's scheduling).
TEST_F(SimTransport, SplitRepliesGoOutInSeparateWrites) {
  dev->faults().splitReplies(4);
  const auto before = dev->writesCompleted();
  client.request(122);
  EXPECT_EQ(client.readExactly(serial_frame.size()), serial_frame);
  EXPECT_TRUE(ztest::eventually([&] { return dev->writesCompleted() - before == 4; }));
}

TEST_F(SimTransport, GarbageIsSentBeforeEveryReply) {
  const Bytes junk = {0xAA, 0x02, 0x0D, 0x0A};
  dev->faults().prependGarbage(junk);
  client.request(122);
  client.request(122);
  Bytes expected = junk;
  expected.insert(expected.end(), serial_frame.begin(), serial_frame.end());
  EXPECT_EQ(client.readExactly(expected.size()), expected);
  EXPECT_EQ(client.readExactly(expected.size()), expected);
}

TEST_F(SimTransport, ResetFaultsRestoresHonestReplies) {
  dev->faults().ignoreNext(122, 5);
  dev->faults().delayReplies(std::chrono::duration<double>(5));
  dev->faults().splitReplies(3);
  dev->faults().prependGarbage({1, 2, 3});
  dev->faults().reset();
  client.request(122);
  EXPECT_EQ(client.readExactly(serial_frame.size(), 500ms), serial_frame);
  EXPECT_EQ(dev->faults().requestCount(122), 1u);
}

TEST_F(SimTransport, DropClosesEveryConnectionAndAcceptsNewOnes) {
  RawClient other(dev->host(), dev->port());
  client.exchange(122);
  other.exchange(122);
  dev->dropConnections();
  EXPECT_EQ(dev->connectionCount(), 0u);
  EXPECT_TRUE(client.closedWithin(1000ms));
  EXPECT_TRUE(other.closedWithin(1000ms));
  RawClient fresh(dev->host(), dev->port());
  EXPECT_EQ(fresh.exchange(2056), text("Tavra-A\r\n"));
}

TEST_F(SimTransport, StreamsGoToTheCommandChannelWithoutDataChannel) {
  client.exchange(122);  // make sure the connection is accepted
  dev->sendStream({183, {0, 0, 1, 2}});
  const auto f = client.readFrame();
  ASSERT_TRUE(f.has_value());
  EXPECT_EQ(f->code, 183);
  EXPECT_EQ(f->payload, (Bytes{0, 0, 1, 2}));
}

// A client that sends without reading is not read from once its unread replies pile up, and
// still gets every reply, in order, when it catches up.
TEST_F(SimTransport, ClientThatDoesNotReadGetsBackPressure) {
  constexpr std::size_t kRequests = 250000;
  const Bytes one = frame(247, {0});
  Bytes all;
  for (std::size_t i = 0; i < kRequests; ++i) all.insert(all.end(), one.begin(), one.end());
  std::thread writer([&] { client.send(all); });
  // Wait until the emulator stops taking requests (or has taken them all).
  std::uint64_t taken = 0;
  for (const auto t0 = Clock::now(); secondsSince(t0) < 20;) {
    std::this_thread::sleep_for(250ms);
    const auto now_taken = dev->faults().requestCount(247);
    if (now_taken == taken) break;
    taken = now_taken;
  }
  EXPECT_LT(taken, kRequests);
  const std::size_t reply_size = frame(247, Bytes(64, 0xFF)).size();
  const Bytes replies = client.readExactly(kRequests * reply_size, 60000ms);
  writer.join();
  ASSERT_EQ(replies.size(), kRequests * reply_size);
  EXPECT_EQ(Bytes(replies.end() - static_cast<std::ptrdiff_t>(reply_size), replies.end()), frame(247, Bytes(64, 0xFF)));
  EXPECT_EQ(dev->faults().requestCount(247), kRequests);
}

TEST(SimWifi, CommandAndDataChannels) {
  sim::Emulator emu;
  auto dev = emu.add("AerisR3A");
  ASSERT_TRUE(dev->dataPort().has_value());
  EXPECT_NE(*dev->dataPort(), dev->port());
  RawClient cmd(dev->host(), dev->port());
  RawClient data(dev->host(), *dev->dataPort());
  data.request(122);  // the data channel does not take commands
  EXPECT_EQ(cmd.exchange(240, {0}), text("Aeris-R3-A_APP_1.0.0"));
  EXPECT_EQ(data.readSome(150ms), Bytes{});
  dev->sendStream({9217, {1, 2, 3}});
  const auto f = data.readFrame();
  ASSERT_TRUE(f.has_value());
  EXPECT_EQ(f->code, 9217);
  EXPECT_EQ(cmd.readSome(100ms), Bytes{});
}

TEST(SimWifi, PairListensOnTheWellKnownPorts) {
  sim::Emulator emu;
  sim::DeviceOptions opts;
  opts.host = "127.0.0.211";
  opts.wifi_pair = true;
  std::shared_ptr<sim::EmulatedDevice> dev;
  try {
    dev = emu.add("AerisR3AH", opts);
  } catch (const sim::ListenError& e) {
    if (e.code().value() == EACCES || e.code().value() == EADDRINUSE) GTEST_SKIP() << e.what();
    throw;
  }
  EXPECT_EQ(dev->port(), 7);
  EXPECT_EQ(dev->dataPort(), 1336);
  RawClient cmd("127.0.0.211", 7);
  RawClient data("127.0.0.211", 1336);
  EXPECT_EQ(cmd.exchange(2056), text("Aeris-R3-AH\r\n"));
}

TEST(SimEmulator, RejectsWhatItCannotServe) {
  sim::Emulator emu;
  EXPECT_THROW(emu.add("NoSuchBox"), std::invalid_argument);
  EXPECT_THROW(emu.add("KORULite"), std::invalid_argument);
  EXPECT_THROW(emu.add("DeviceFinder"), std::invalid_argument);
  sim::DeviceOptions remote;
  remote.host = "10.0.0.1";
  EXPECT_THROW(emu.add("TavraA", remote), std::invalid_argument);
  sim::DeviceOptions pair;
  pair.wifi_pair = true;
  EXPECT_THROW(emu.add("TavraA", pair), std::invalid_argument);

  auto first = emu.add("TavraA");
  sim::DeviceOptions same;
  same.port = first->port();
  try {
    emu.add("TavraD", same);
    FAIL() << "a taken port must not bind";
  } catch (const sim::ListenError& e) {
    EXPECT_EQ(e.code().value(), EADDRINUSE);
  }
  emu.close();
  EXPECT_THROW(emu.add("TavraA"), std::logic_error);
}

// Stopping with connected clients and replies still scheduled returns at once and closes them.
TEST(SimEmulator, StopIsPromptWithBusyClients) {
  auto emu = std::make_unique<sim::Emulator>();
  auto eth = emu->add("Koru");
  auto wifi = emu->add("AerisR3AOD");
  std::vector<std::unique_ptr<RawClient>> clients;
  for (int i = 0; i < 3; ++i) clients.push_back(std::make_unique<RawClient>(eth->host(), eth->port()));
  clients.push_back(std::make_unique<RawClient>(wifi->host(), *wifi->dataPort()));
  eth->faults().delayReplies(std::chrono::duration<double>(30));
  clients[0]->request(122);
  clients[1]->send({0x02, 0x00, 0x10, 0xF0});  // half a frame
  std::this_thread::sleep_for(50ms);
  const auto t0 = Clock::now();
  emu.reset();
  EXPECT_LT(secondsSince(t0), 0.5);
  EXPECT_FALSE(eth->running());
  for (auto& c : clients) EXPECT_TRUE(c->closedWithin(500ms));
  eth->stop();  // again: harmless
}

// An idle emulator sleeps in poll(): a busy loop would burn a whole core here.
TEST(SimEmulator, IdleCostsNoCpu) {
  sim::Emulator emu;
  auto a = emu.add("TavraA");
  auto b = emu.add("AerisR4A");
  RawClient ca(a->host(), a->port());
  RawClient cb(b->host(), b->port());
  ca.exchange(122);
  cb.exchange(122);
  rusage before{}, after{};
  ::getrusage(RUSAGE_SELF, &before);
  std::this_thread::sleep_for(500ms);
  ::getrusage(RUSAGE_SELF, &after);
  auto usec = [](const rusage& r) {
    return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000000L + r.ru_utime.tv_usec + r.ru_stime.tv_usec;
  };
  EXPECT_LT(usec(after) - usec(before), 25000);
}

}  // namespace
