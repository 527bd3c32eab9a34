#include "zelvo/sim/network_firmware.hpp"

#include <arpa/inet.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <stdexcept>

#include "zelvo/sim/payload_route.hpp"

namespace zelvo::sim {
namespace {

// Answers start with this mark; devices ignore the leading byte of a request.
constexpr Byte kAnswerMark = 1;
constexpr Byte kAnswerLead = 0;
constexpr std::size_t kRequestLead = 1;
// Payload of CHECK_MAC_AND_SET_IP: lead, ip, mask, mac, gateway; of the other MAC requests: lead,
// mac (the ring request adds a byte).
namespace set_ip {
constexpr std::size_t kIP = 1, kMask = 5, kMac = 9, kGateway = 15, kSize = 19;
}
constexpr std::size_t kMacRequest = kRequestLead + 6;

// The first bytes of every MAC this emulator hands out: locally administered, unicast.
constexpr Byte kMacPrefix0 = 0x02, kMacPrefix1 = 0x5A;
constexpr Byte kMulticastBit = 0x01;
constexpr int kFirstMulticastOctet = 224;

IPv4 parseIPv4(const std::string& text) {
  in_addr a{};
  if (inet_pton(AF_INET, text.c_str(), &a) != 1) throw std::invalid_argument("bad factory address '" + text + "'");
  const std::uint32_t v = ntohl(a.s_addr);
  return {Byte(v >> 24), Byte(v >> 16), Byte(v >> 8), Byte(v)};
}

std::uint32_t word(const IPv4& a) { return std::uint32_t{a[0]} << 24 | std::uint32_t{a[1]} << 16 | a[2] << 8 | a[3]; }

bool hostAddress(const IPv4& ip) { return ip[0] != 0 && ip[0] < kFirstMulticastOctet; }

// Ones, then zeros, at least one one.
bool contiguousMask(const IPv4& mask) {
  const std::uint32_t m = word(mask);
  return m != 0 && (~m & (~m + 1)) == 0;
}

bool usableMac(const MAC& mac) {
  return !(mac[0] & kMulticastBit) && std::any_of(mac.begin(), mac.end(), [](Byte b) { return b != 0; });
}

template <std::size_t N>
std::array<Byte, N> take(ByteView from) {
  std::array<Byte, N> out{};
  std::copy_n(from.begin(), N, out.begin());
  return out;
}

// A text field of the record: the text's bytes, cut to the field, NUL-padded.
void appendField(Bytes& out, const std::string& text, std::size_t width) {
  const std::size_t n = std::min(text.size(), width);
  out.insert(out.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
  out.insert(out.end(), width - n, 0);
}

template <std::size_t N>
void appendBytes(Bytes& out, const std::array<Byte, N>& a) {
  out.insert(out.end(), a.begin(), a.end());
}

}  // namespace

MAC freshMacAddress() {
  // A random start per process, then a step that visits all 2^32 values before repeating.
  static const std::uint32_t start = std::random_device{}();
  static std::atomic<std::uint32_t> issued{0};
  const std::uint32_t n = start + issued.fetch_add(1) * 0x9E3779B1u;
  return {kMacPrefix0, kMacPrefix1, Byte(n >> 24), Byte(n >> 16), Byte(n >> 8), Byte(n)};
}

void NetworkFirmware::install(Firmware& fw) {
  fw_ = &fw;
  const NetworkData& factory = fw.product().network.value();
  now_ = NetworkSettings{parseIPv4(factory.ip_addr), parseIPv4(factory.subnet_mask), parseIPv4(factory.gateway),
                         freshMacAddress()};
  auto route = [&fw](int code, std::size_t need, auto body) { routePayload(fw, code, need, std::move(body)); };
  using namespace netcmd;
  constexpr std::size_t kNone = 0, kAddress = 4, kAddressAndMask = 8, kMac = 6;
  //    code         bytes needed     reply payload of the request payload
  route(GET_GATEWAY, kNone,           [this](ByteView) { return Bytes(now_.gateway.begin(), now_.gateway.end()); });
  route(GET_IP,      kNone,           [this](ByteView) {
    Bytes out(now_.ip.begin(), now_.ip.end());
    appendBytes(out, now_.mask);
    return out;
  });
  route(GET_MAC,     kNone,           [this](ByteView) { return Bytes(now_.mac.begin(), now_.mac.end()); });
  route(SET_GATEWAY, kAddress,        [this](ByteView p) {
    return Bytes{setAddresses(now_.ip, now_.mask, take<4>(p)) ? status::kOk : kAddressRefused};
  });
  route(SET_IP,      kAddressAndMask, [this](ByteView p) {
    return Bytes{setAddresses(take<4>(p), take<4>(p.subspan(4)), now_.gateway) ? status::kOk : kAddressRefused};
  });
  route(SET_MAC,     kMac,            [this](ByteView p) { return Bytes{setMac(take<6>(p)) ? status::kOk : kAddressRefused}; });
}

NetworkSettings NetworkFirmware::settings() const {
  std::lock_guard lock(fw_->mutex());
  return now_;
}

bool NetworkFirmware::setAddresses(const IPv4& ip, const IPv4& mask, const IPv4& gateway) {
  if (!hostAddress(ip) || !contiguousMask(mask)) return false;
  std::lock_guard lock(fw_->mutex());
  now_.ip = ip;
  now_.mask = mask;
  now_.gateway = gateway;
  return true;
}

bool NetworkFirmware::setMac(const MAC& mac) {
  if (!usableMac(mac)) return false;
  std::lock_guard lock(fw_->mutex());
  now_.mac = mac;
  return true;
}

Bytes NetworkFirmware::deviceRecord() const {
  std::lock_guard lock(fw_->mutex());
  Bytes r;
  r.reserve(kRecordSize);
  appendBytes(r, now_.ip);
  appendBytes(r, now_.mask);
  appendBytes(r, now_.mac);
  appendField(r, fw_->product().model, kModelBytes);
  appendField(r, fw_->serialNumber(), kSerialBytes);
  appendField(r, fw_->alias(), kAliasBytes);
  appendField(r, fw_->product().model + "_APP_" + fw_->version(), kAppBytes);
  appendBytes(r, now_.gateway);
  return r;
}

int NetworkFirmware::rings() const {
  std::lock_guard lock(fw_->mutex());
  return rings_;
}

int NetworkFirmware::reboots() const {
  std::lock_guard lock(fw_->mutex());
  return reboots_;
}

bool NetworkFirmware::addressedToUs(ByteView p) const {
  return p.size() >= kMacRequest && std::equal(now_.mac.begin(), now_.mac.end(), p.begin() + kRequestLead);
}

Bytes NetworkFirmware::macAnswer(Byte st) const {
  Bytes out{kAnswerMark, kAnswerLead, st};
  appendBytes(out, now_.mac);
  return out;
}

DiscoveryOutcome NetworkFirmware::discover(const Request& req) {
  using namespace netcmd;
  std::lock_guard lock(fw_->mutex());
  const ByteView p(req.payload);
  switch (req.code) {
    case GET_DEVICE_INFO: {
      Bytes out{kAnswerMark};
      const Bytes record = deviceRecord();
      out.insert(out.end(), record.begin(), record.end());
      return {out, false};
    }
    case CHECK_MAC_AND_SET_IP: {
      using namespace set_ip;
      if (p.size() < kSize || !std::equal(now_.mac.begin(), now_.mac.end(), p.begin() + kMac)) return {};
      const bool ok = setAddresses(take<4>(p.subspan(kIP)), take<4>(p.subspan(kMask)), take<4>(p.subspan(kGateway)));
      return {macAnswer(ok ? status::kOk : kAddressRefused), false};
    }
    case CHECK_MAC_AND_REBOOT:
      if (!addressedToUs(p)) return {};
      ++reboots_;
      return {macAnswer(status::kOk), true};
    case NETCOM_CHECK_MAC_RINGING:
      if (!addressedToUs(p)) return {};
      ++rings_;
      return {macAnswer(status::kOk), false};
    default:
      return {};
  }
}

}  // namespace zelvo::sim
