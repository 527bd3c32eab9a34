#include "zelvo/system/network_module.hpp"

#include "zelvo/core/reply.hpp"
#include "zelvo/core/status_exchange.hpp"
#include "zelvo/system/address_text.hpp"

namespace zelvo {
namespace {

constexpr std::size_t kStatusAt = 0;

// The address the device is connected to now (network devices only).
std::optional<std::string> connectionAddress(Device& dev) {
  if (auto* net = dynamic_cast<NetworkDevice*>(&dev)) return net->ipAddr();
  return std::nullopt;
}

Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

NetworkModule::NetworkModule(Device& dev) : dev_(dev) {}

NetworkModule::State NetworkModule::state() const {
  std::lock_guard lock(m_);
  return state_;
}

std::optional<std::string> NetworkModule::ipAddr() const {
  const auto now_at = connectionAddress(dev_);
  std::lock_guard lock(m_);
  if (state_.ip_addr && read_while_at_ == now_at) return state_.ip_addr;
  return now_at;
}

Op<std::string> NetworkModule::getGateway(Call& call) {
  const Bytes r = co_await call.echo(GET_GATEWAY, {});
  std::string gateway = dottedQuad(Reply(r, "Net_getGateway").span(0, kIPv4Bytes));
  update([&](State& s) { s.gateway = gateway; });
  co_return gateway;
}

Op<std::vector<std::string>> NetworkModule::getIPAddrAndSubmask(Call& call) {
  const Bytes r = co_await call.echo(GET_IP, {});
  const Reply reply(r, "Net_getIPAddrAndSubmask");
  std::vector<std::string> both;  // (not a braced list: those trip GCC 12 inside coroutines)
  both.push_back(dottedQuad(reply.span(0, kIPv4Bytes)));
  both.push_back(dottedQuad(reply.span(kIPv4Bytes, kIPv4Bytes)));
  const auto at = connectionAddress(dev_);
  update([&](State& s) {
    s.ip_addr = both[0];
    s.subnet_mask = both[1];
    read_while_at_ = at;
  });
  co_return both;
}

Op<std::string> NetworkModule::getMACAddr(Call& call) {
  const Bytes r = co_await call.echo(GET_MAC, {});
  std::string mac = macText(Reply(r, "Net_getMACAddr").span(0, kMACBytes), false);
  update([&](State& s) { s.mac_addr = mac; });
  co_return mac;
}

Op<int> NetworkModule::setIPAddrAndSubmask(Call& call, std::string ip_addr, std::string subnet_mask) {
  Bytes payload = concat(ipv4Bytes(ip_addr, "ip_addr"), ipv4Bytes(subnet_mask, "subnet_mask"));
  co_return co_await echoStatus(call, SET_IP, std::move(payload), kStatusAt, "Net_setIPAddrAndSubmask");
}

Op<int> NetworkModule::setGateway(Call& call, std::string gateway) {
  Bytes payload = ipv4Bytes(gateway, "gateway");
  co_return co_await echoStatus(call, SET_GATEWAY, std::move(payload), kStatusAt, "_setGateway");
}

Op<int> NetworkModule::setMACAddr(Call& call, std::string mac_addr) {
  Bytes payload = macBytes(mac_addr, "mac_addr");
  co_return co_await echoStatus(call, SET_MAC, std::move(payload), kStatusAt, "_setMACAddr");
}

}  // namespace zelvo
