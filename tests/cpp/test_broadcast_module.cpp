// Discovery against a scripted responder on loopback: the requests each operation broadcasts, how
// answers become results (duplicates, answers that are not records, the first answer's status),
// no answer, one search at a time per code, an unbound finder; where copies are sent from, and the
// switch that keeps discovery on loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <functional>
#include <thread>
#include <tuple>

#include "support/as_text.hpp"
#include "support/bench.hpp"
#include "support/udp_peer.hpp"
#include "zelvo/core/broadcast_guard.hpp"
#include "zelvo/system/broadcast_module.hpp"


namespace {

using zelvo::Byte;
using zelvo::Bytes;
using zelvo::Call;
using zelvo::Op;
using ztest::asText;
using namespace std::chrono_literals;

// A record as text.
Op<std::string> recordText(Op<Bytes> op) {
  const Bytes r = co_await std::move(op);
  co_return "record " + ztest::format(std::vector<int>(r.begin(), r.end()));
}

constexpr double kCollect = 0.3;
const Bytes kMac = {0x02, 0x5A, 1, 2, 3, 4};

int boundPort(const zelvo::UdpClient& c) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  getsockname(c.socketFd(), reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

// A 106-byte record with these texts (model, serial, alias) and a MAC ending in `last`.
Bytes record(const std::string& model, const std::string& serial, const std::string& alias, Byte last) {
  Bytes r = {10, 0, 0, last, 255, 255, 255, 0, 0x02, 0x5A, 1, 2, 3, last};
  auto field = [&](const std::string& t, std::size_t width) {
    Bytes f(t.begin(), t.end());
    f.resize(width, 0);
    r.insert(r.end(), f.begin(), f.end());
  };
  field(model, 32);
  field(serial, 8);
  field(alias, 16);
  field(model + "_APP_1.0.0", 32);
  r.insert(r.end(), {10, 0, 0, 1});
  return r;
}

Bytes answer(int code, Byte mark, const Bytes& body) {
  Bytes p{mark};
  p.insert(p.end(), body.begin(), body.end());
  return ztest::wireFrame(code, p);
}

// A finder bound on loopback whose requests go to a scripted responder.
struct Finder {
  explicit Finder(ztest::UdpPeer::Script script, double collect = kCollect) : dev("Device finder", false) {
    dev.connect(false, "127.0.0.1", 0);
    peer = std::make_unique<ztest::UdpPeer>(boundPort(*dev.client()), std::move(script));
    auto& c = *dev.client();
    c.bcst_address = "127.0.0.1";
    c.bcst_port = peer->port();
    c.bcst_sources = {"127.0.0.1"};
    dev.setCollectSeconds(collect);
    bm = std::make_unique<zelvo::BroadcastModule>(dev);
  }
  zelvo::BroadcastDevice dev;
  std::unique_ptr<ztest::UdpPeer> peer;
  std::unique_ptr<zelvo::BroadcastModule> bm;
};
using SearchRun = std::function<Op<std::string>(zelvo::BroadcastModule&, Call&)>;

struct SearchCase {
  const char* name;
  std::vector<Bytes> answers;  // sent back for every copy of the request
  SearchRun run;
  std::string result;  // "timeout": ReceivePacketTimeoutError
  int code;
  Bytes request;
};
void PrintTo(const SearchCase& c, std::ostream* os) { *os << c.name; }

class Search : public ::testing::TestWithParam<std::tuple<SearchCase, bool>> {};

TEST_P(Search, BroadcastsThreeCopiesAndDecodesTheAnswers) {
  const auto& [c, blocking] = GetParam();
  Finder f([&](const ztest::Datagram&, int) { return c.answers; });
  std::string got;
  try {
    got = ztest::runIn(blocking, f.dev, 1.0, [&](Call& call) { return c.run(*f.bm, call); });
  } catch (const zelvo::Error& e) {
    EXPECT_EQ(e.id(), zelvo::Err::ReceivePacketTimeoutError) << e.what();
    got = "timeout";
  }
  EXPECT_EQ(got, c.result);
  const auto reqs = f.peer->requests();
  ASSERT_EQ(reqs.size(), 3U);
  for (const auto& r : reqs) {
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.payload, c.request);
    EXPECT_EQ(r.source, "127.0.0.1");
  }
}

#define OP(expr) [](zelvo::BroadcastModule & m, Call & c) { return asText(expr); }
#define RECORD(expr) [](zelvo::BroadcastModule & m, Call & c) { return recordText(expr); }

const Bytes kA = record("Tavra-A", "ZS000001", "bench", 1);
const Bytes kB = record("Koru", "ZS000002", "rig", 2);
// A model text that fills its field, an alias that is not UTF-8.
const Bytes kC = record(std::string(32, 'M'), "ZS000003", "a\xFF" "b", 3);
const std::string kTextsA = "10.0.0.1,255.255.255.0,02:5a:01:02:03:01,Tavra-A,ZS000001,bench,Tavra-A_APP_1.0.0,10.0.0.1";
const std::string kTextsC = "10.0.0.3,255.255.255.0,02:5a:01:02:03:03," + std::string(32, 'M') + ",ZS000003,a\xEF\xBF\xBD" "b," +
                            std::string(32, 'M') + ",10.0.0.1";
const Bytes kSetIP = {0, 10, 0, 0, 9, 255, 255, 0, 0, 0x02, 0x5A, 1, 2, 3, 4, 10, 0, 0, 1};

const SearchCase kCases[] = {
    {"nobody_answers", {}, OP(m.enumerateNetworkDevices(c)), "", 252, {0}},
    {"records_in_arrival_order", {answer(252, 1, kC), answer(252, 1, kA)}, OP(m.enumerateNetworkDevices(c)),
     kTextsC + "," + kTextsA, 252, {0}},
    {"not_answers_and_short_records_skipped",
     {answer(252, 0, kB), answer(252, 1, Bytes(kB.begin(), kB.end() - 1)), answer(252, 1, kA)},
     OP(m.enumerateNetworkDevices(c)), kTextsA, 252, {0}},
    {"set_ip_first_status", {answer(253, 1, {0, 0}), answer(253, 1, {0, 71, 9})},
     OP(m.checkMACAndSetIP(c, "10.0.0.9", "2:5a:1:2:3:4", "10.0.0.1", "255.255.0.0")), "0", 253, kSetIP},
    {"set_ip_refused", {answer(253, 1, {0, 71})},
     OP(m.checkMACAndSetIP(c, "10.0.0.9", "02:5A:01:02:03:04", "10.0.0.1", "255.255.0.0")), "-7024", 253, kSetIP},
    {"set_ip_nobody", {}, OP(m.checkMACAndSetIP(c, "10.0.0.9", "2:5a:1:2:3:4", "10.0.0.1", "255.255.0.0")), "timeout",
     253, kSetIP},
    {"ring_returns_the_record", {answer(2582, 1, {0, 0, 7})}, RECORD(m.checkMACAndRing(c, "2:5a:1:2:3:4")), "record 0,0,7",
     2582, {0, 0x02, 0x5A, 1, 2, 3, 4, 1}},
    {"ring_nobody", {answer(2582, 0, {0, 0})}, RECORD(m.checkMACAndRing(c, "2:5a:1:2:3:4")), "timeout", 2582,
     {0, 0x02, 0x5A, 1, 2, 3, 4, 1}},
    {"reboot", {answer(254, 1, {0, 0})}, OP(m.checkMACAndReboot(c, "2:5a:1:2:3:4")), "0", 254, {0, 0x02, 0x5A, 1, 2, 3, 4}},
    {"reboot_answer_without_status", {answer(254, 1, {0})}, OP(m.checkMACAndReboot(c, "2:5a:1:2:3:4")), "-7028", 254,
     {0, 0x02, 0x5A, 1, 2, 3, 4}},
};

#undef RECORD

INSTANTIATE_TEST_SUITE_P(Ops, Search, ::testing::Combine(::testing::ValuesIn(kCases), ::testing::Bool()),
                         [](const auto& p) {
                           return std::string(std::get<0>(p.param).name) + (std::get<1>(p.param) ? "_blocking" : "_awaitable");
                         });

#define RECORD(expr) [](zelvo::BroadcastModule & m, Call & c) { return recordText(expr); }

TEST(SearchArguments, BadAddressesAreRefusedBeforeSending) {
  Finder f({});
  const SearchRun bad[] = {RECORD(m.checkMACAndRing(c, "2:5a:1:2:3")), OP(m.checkMACAndReboot(c, "2:5a:1:2:3:4:5")),
                     OP(m.checkMACAndSetIP(c, "10.0.0.256", "2:5a:1:2:3:4", "10.0.0.1", "255.0.0.0")),
                     OP(m.checkMACAndSetIP(c, "10.0.0.9", "2:5a:1:2:3:4", "10.0.0.1", "mask"))};
  for (const auto& run : bad) {
    try {
      ztest::runIn(true, f.dev, 1.0, [&](Call& c) { return run(*f.bm, c); });
      ADD_FAILURE() << "accepted";
    } catch (const zelvo::Error& e) {
      EXPECT_EQ(e.id(), zelvo::Err::InputDataNotInRangeError) << e.what();
    }
  }
  std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(f.peer->requests().empty());
}

#undef OP
#undef RECORD

// Two searches for the same code: the second waits for the first to finish collecting, so each
// sees its own answers instead of one emptying the other's.
TEST(SearchOrder, SearchesForOneCodeTakeTurns) {
  Finder f([](const ztest::Datagram&, int) { return std::vector<Bytes>{answer(252, 1, kA)}; }, 1.0);
  std::vector<std::vector<std::string>> results(2);
  const auto start = ztest::Clock::now();
  std::vector<std::thread> searches;
  for (auto& r : results)
    searches.emplace_back([&f, &r] {
      Call call = Call::blocking(f.dev, 1.0);
      for (auto& entry : f.bm->enumerateNetworkDevices(call).runBlocking()) r.push_back(entry.at(4));
    });
  for (auto& t : searches) t.join();
  EXPECT_GE(ztest::secondsSince(start), 2.0);
  for (const auto& r : results) EXPECT_EQ(r, std::vector<std::string>{"ZS000001"});
}

TEST(SearchUnbound, AFinderNotBoundSendsNothingAndFindsNothing) {
  Finder f([](const ztest::Datagram&, int) { return std::vector<Bytes>{answer(252, 1, kA)}; });
  f.dev.disconnect(false);
  Call call = Call::blocking(f.dev, 1.0);
  EXPECT_TRUE(f.bm->enumerateNetworkDevices(call).runBlocking().empty());
  EXPECT_TRUE(f.peer->requests().empty());
}

// --- where copies are sent from ---------------------------------------------------------------------

TEST(BroadcastSources, TheInterfacesThatAreUpLoopbackIncluded) {
  const auto sources = zelvo::localIPv4Addresses();
  EXPECT_NE(std::find(sources.begin(), sources.end(), "127.0.0.1"), sources.end());
  EXPECT_EQ(std::set<std::string>(sources.begin(), sources.end()).size(), sources.size());
}

// 192.0.2.1 (a documentation address) is no address of this machine: its copy cannot be sent, and
// the loopback copy still is.
TEST(BroadcastSources, AFailingSourceDoesNotKeepTheOthersFromSending) {
  Finder f({});
  auto& c = *f.dev.client();
  c.bcst_sources = {"192.0.2.1", "127.0.0.1", "not an address"};
  const Bytes frame = ztest::wireFrame(252, {0});
  c.sendBcstPacket(frame);
  ASSERT_TRUE(f.peer->waitForRequests(1));
  c.bcst_sources = {"192.0.2.1"};
  EXPECT_THROW(c.sendBcstPacket(frame), zelvo::Error);
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(f.peer->requests().size(), 1U);
}

struct GuardCase {
  const char* name;
  std::string destination;
  std::vector<std::string> sources;
  bool refused;
};
void PrintTo(const GuardCase& c, std::ostream* os) { *os << c.name; }

class LoopbackOnly : public ::testing::TestWithParam<GuardCase> {};

TEST_P(LoopbackOnly, RefusesEveryCopyWhenOneAddressIsNotLoopback) {
  const auto& g = GetParam();
  Finder f({});
  auto& c = *f.dev.client();
  c.bcst_address = g.destination;
  c.bcst_sources = g.sources;
  setenv(zelvo::kBroadcastLoopbackOnlyVariable, "1", 1);
  const auto before = zelvo::broadcastRefusals();
  bool refused = false;
  try {
    c.sendBcstPacket(ztest::wireFrame(252, {0}));
  } catch (const zelvo::Error& e) {
    refused = e.id() == zelvo::Err::NetworkConnectionError;
  }
  unsetenv(zelvo::kBroadcastLoopbackOnlyVariable);
  EXPECT_EQ(refused, g.refused);
  EXPECT_EQ(zelvo::broadcastRefusals() - before, g.refused ? 1U : 0U);
  if (g.refused) {
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(f.peer->requests().empty());  // not even the loopback copy
  }
}

// Nothing here could leave this machine even if the switch failed: 192.0.2.1 (a documentation
// address) is no address of it, and a limited broadcast from 127.0.0.1 goes out on loopback.
INSTANTIATE_TEST_SUITE_P(
    Addresses, LoopbackOnly,
    ::testing::Values(GuardCase{"loopback", "127.0.0.1", {"127.0.0.1", "127.0.0.2"}, false},
                      GuardCase{"loopback_network_broadcast", "127.255.255.255", {"127.0.0.1"}, false},
                      GuardCase{"a_real_source", "127.0.0.1", {"127.0.0.1", "192.0.2.1"}, true},
                      GuardCase{"limited_broadcast", "255.255.255.255", {"127.0.0.1"}, true}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
