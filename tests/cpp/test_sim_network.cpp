// The emulated network peripheral: its settings commands, what it does with each discovery
// request, and its discovery transport over loopback UDP (answers from the device's own address to
// the answer port, several devices on one port, a reboot that takes the device offline for a
// while). The fault controls are exercised through the driver in tests/python/test_discovery.py.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <set>
#include <thread>

#include "support/firmware_steps.hpp"
#include "support/udp_peer.hpp"
#include "support/waits.hpp"
#include "test_sim_client.hpp"
#include "zelvo/sim/emulator.hpp"
#include "zelvo/sim/network_firmware.hpp"

namespace {

using simtest::Bytes;
using namespace std::chrono_literals;
namespace sim = zelvo::sim;

using ztest::handle;
using ztest::runSteps;

TEST(SimNetwork, SettingsCommandsInOrder) {
  sim::Firmware fw(zelvo::product("TavraA"));
  runSteps(fw, {
      {"the catalogue's factory address", 243, {}, {192, 168, 1, 110, 255, 255, 255, 0}},
      {"factory gateway", 124, {}, {192, 168, 1, 1}},
      {"set address and mask", 244, {10, 0, 0, 5, 255, 255, 0, 0}, {0}},
      {"read back", 243, {}, {10, 0, 0, 5, 255, 255, 0, 0}},
      {"not a host address", 244, {0, 0, 0, 1, 255, 255, 0, 0}, {71}},
      {"multicast", 244, {224, 0, 0, 1, 255, 255, 0, 0}, {71}},
      {"not a mask", 244, {10, 0, 0, 6, 255, 0, 255, 0}, {71}},
      {"empty mask", 244, {10, 0, 0, 6, 0, 0, 0, 0}, {71}},
      {"too short", 244, {10, 0, 0}, {80}},
      {"set gateway", 125, {10, 0, 0, 254}, {0}},
      {"gateway read back", 124, {}, {10, 0, 0, 254}},
      {"unchanged by the refusals", 243, {}, {10, 0, 0, 5, 255, 255, 0, 0}},
      {"multicast MAC", 246, {3, 0, 0, 0, 0, 9}, {71}},
      {"all-zero MAC", 246, {0, 0, 0, 0, 0, 0}, {71}},
      {"set MAC", 246, {2, 0, 0, 0, 0, 9}, {0}},
      {"MAC read back", 245, {}, {2, 0, 0, 0, 0, 9}},
  });
}

TEST(SimNetwork, WifiFactoryAddressAndUniqueMacs) {
  sim::Firmware a(zelvo::product("AerisR3A")), b(zelvo::product("AerisR3A"));
  EXPECT_EQ(handle(a, 243, {}), (Bytes{192, 168, 5, 38, 255, 255, 255, 0}));
  const Bytes mac_a = handle(a, 245, {}), mac_b = handle(b, 245, {});
  EXPECT_NE(mac_a, mac_b);
  EXPECT_EQ(mac_a[0], 0x02);  // locally administered, unicast
  EXPECT_EQ(handle(a, 245, {}), mac_a);
  EXPECT_EQ(sim::Firmware(zelvo::product("PellorK1D")).findModule<sim::NetworkFirmware>(), nullptr);
}

// --- what the device does with discovery requests --------------------------------------------------

struct Net {
  Net() : fw(zelvo::product("TavraA")), net(*fw.findModule<sim::NetworkFirmware>()) {
    fw.setAlias("an alias of 20 bytes");
    const auto m = net.settings().mac;
    mac.assign(m.begin(), m.end());
  }
  Bytes request(std::initializer_list<Bytes> parts) const {
    Bytes p;
    for (const auto& part : parts) p.insert(p.end(), part.begin(), part.end());
    return p;
  }
  sim::Firmware fw;
  sim::NetworkFirmware& net;
  Bytes mac;
};

TEST(SimDiscovery, EveryDeviceAnswersTheInformationRequest) {
  Net n;
  const auto out = n.net.discover({252, {0}});
  ASSERT_TRUE(out.answer);
  const Bytes& a = *out.answer;
  ASSERT_EQ(a.size(), 1 + sim::NetworkFirmware::kRecordSize);
  EXPECT_EQ(a[0], 1);
  EXPECT_EQ(Bytes(a.begin() + 1, a.begin() + 9), (Bytes{192, 168, 1, 110, 255, 255, 255, 0}));
  EXPECT_EQ(Bytes(a.begin() + 9, a.begin() + 15), n.mac);
  EXPECT_EQ(std::string(a.begin() + 15, a.begin() + 22), "Tavra-A");
  EXPECT_EQ(a[22], 0);  // NUL-padded
  EXPECT_EQ(std::string(a.begin() + 47, a.begin() + 55), n.fw.serialNumber());
  EXPECT_EQ(std::string(a.begin() + 55, a.begin() + 71), "an alias of 20 b");
  EXPECT_EQ(std::string(a.begin() + 71, a.begin() + 88), "Tavra-A_APP_1.0.0");
  EXPECT_EQ(Bytes(a.end() - 4, a.end()), (Bytes{192, 168, 1, 1}));
  EXPECT_FALSE(out.reboot);
}

TEST(SimDiscovery, MacCommandsActOnlyForTheirDevice) {
  Net n;
  Bytes other = n.mac;
  other.back() ^= 1;
  const Bytes addresses = {10, 0, 0, 9, 255, 0, 0, 0};
  const Bytes gateway = {10, 0, 0, 1};
  // Not ours, or too short: silence and no change.
  EXPECT_FALSE(n.net.discover({253, n.request({{0}, addresses, other, gateway})}).answer);
  EXPECT_FALSE(n.net.discover({253, n.request({{0}, addresses, n.mac})}).answer);
  EXPECT_FALSE(n.net.discover({2582, n.request({{0}, other, {1}})}).answer);
  EXPECT_FALSE(n.net.discover({254, {0, 2}}).answer);
  EXPECT_EQ(n.net.settings().ip, (sim::IPv4{192, 168, 1, 110}));

  const Bytes ok = n.request({{1, 0, 0}, n.mac});
  EXPECT_EQ(n.net.discover({253, n.request({{0}, addresses, n.mac, gateway})}).answer, ok);
  EXPECT_EQ(n.net.settings().ip, (sim::IPv4{10, 0, 0, 9}));
  EXPECT_EQ(n.net.settings().gateway, (sim::IPv4{10, 0, 0, 1}));
  EXPECT_EQ(n.net.discover({253, n.request({{0}, {10, 0, 0, 9, 0, 255, 0, 0}, n.mac, gateway})}).answer,
            n.request({{1, 0, 71}, n.mac}));
  EXPECT_EQ(n.net.discover({2582, n.request({{0}, n.mac, {1}})}).answer, ok);
  EXPECT_EQ(n.net.rings(), 1);
  const auto reboot = n.net.discover({254, n.request({{0}, n.mac})});
  EXPECT_EQ(reboot.answer, ok);
  EXPECT_TRUE(reboot.reboot);
  EXPECT_EQ(n.net.reboots(), 1);
}

// --- the transport -------------------------------------------------------------------------------------

// A UDP socket on 127.0.0.1 that sends discovery requests and receives the answers.
class Finder {
 public:
  Finder() {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in a = ztest::endpoint(INADDR_LOOPBACK, 0);
    socklen_t len = sizeof a;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      throw std::runtime_error("cannot bind 127.0.0.1");
    port_ = ntohs(a.sin_port);
  }
  ~Finder() { ::close(fd_); }
  int port() const { return port_; }
  void send(std::uint32_t to, int port, int code, const Bytes& payload) const {
    const Bytes f = simtest::frame(code, payload);
    const sockaddr_in a = ztest::endpoint(to, port);
    ::sendto(fd_, f.data(), f.size(), 0, reinterpret_cast<const sockaddr*>(&a), sizeof a);
  }
  // (source address, answer payload) of each answer within `wait`.
  std::vector<std::pair<std::string, Bytes>> answers(std::chrono::milliseconds wait = 500ms) const {
    std::vector<std::pair<std::string, Bytes>> out;
    pollfd p{fd_, POLLIN, 0};
    while (::poll(&p, 1, static_cast<int>(wait.count())) > 0) {
      std::uint8_t buf[512];
      sockaddr_in from{};
      socklen_t len = sizeof from;
      const ssize_t n = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n < 6) continue;
      const std::size_t code_bytes = buf[3] <= 0x30 ? 2 : 1;
      char text[INET_ADDRSTRLEN] = {};
      inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
      out.emplace_back(text, Bytes(buf + 3 + code_bytes, buf + n - 2));
    }
    return out;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

constexpr std::uint32_t kLoopbackBroadcast = 0x7FFFFFFF;
constexpr std::uint32_t kLimitedBroadcast = 0xFFFFFFFF;

int freeUdpPort() {
  Finder probe;
  return probe.port();
}

struct Segment {
  Segment() : port(freeUdpPort()) {}
  std::shared_ptr<sim::EmulatedDevice> add(const std::string& cls, const std::string& host) {
    sim::DeviceOptions o;
    o.host = host;
    o.discovery_port = port;
    o.answer_port = finder.port();
    return emu.add(cls, o);
  }
  Finder finder;
  int port;
  sim::Emulator emu;
};

TEST(SimDiscoveryTransport, EveryDeviceOnThePortAnswersFromItsOwnAddress) {
  Segment s;
  s.add("TavraA", "127.0.0.2");
  s.add("AerisR3A", "127.0.0.3");
  s.add("TavraA", "127.0.0.3");
  s.add("PellorK1D", "127.0.0.4");  // no network settings: no discovery
  for (std::uint32_t target : {kLoopbackBroadcast, kLimitedBroadcast}) {
    s.finder.send(target, s.port, 252, {0});
    std::multiset<std::string> sources;
    for (const auto& [from, payload] : s.finder.answers()) {
      EXPECT_EQ(payload.size(), 107U);
      sources.insert(from);
    }
    EXPECT_EQ(sources, (std::multiset<std::string>{"127.0.0.2", "127.0.0.3", "127.0.0.3"}));
  }
}

TEST(SimDiscoveryTransport, ARebootDropsTheConnectionsAndListensAgainLater) {
  Segment s;
  auto dev = s.add("TavraA", "127.0.0.2");
  dev->discovery()->setRebootSeconds(3);  // ample for the checks made while it is offline
  simtest::RawClient client(dev->host(), dev->port());
  ASSERT_TRUE(ztest::eventually([&] { return dev->connectionCount() == 1; }));
  const auto mac = dev->firmware().findModule<sim::NetworkFirmware>()->settings().mac;
  Bytes request{0};
  request.insert(request.end(), mac.begin(), mac.end());
  for (int i = 0; i < 3; ++i) s.finder.send(kLoopbackBroadcast, s.port, 254, request);
  EXPECT_EQ(s.finder.answers(200ms).size(), 1U);  // the later copies reach a rebooting device
  EXPECT_EQ(client.readSome(2000ms), std::nullopt);  // the connection is dropped
  EXPECT_FALSE(dev->discovery()->online());
  EXPECT_THROW(simtest::RawClient(dev->host(), dev->port()), std::runtime_error);  // not listening
  ASSERT_TRUE(ztest::eventually([&] { return dev->discovery()->online(); }, 10000ms));
  ASSERT_TRUE(ztest::eventually([&] {
    try {
      simtest::RawClient again(dev->host(), dev->port());
      return again.exchange(122, {}) == simtest::text(dev->firmware().serialNumber());
    } catch (const std::runtime_error&) {
      return false;
    }
  }, 10000ms));
  EXPECT_EQ(dev->firmware().findModule<sim::NetworkFirmware>()->reboots(), 1);
}

}  // namespace
