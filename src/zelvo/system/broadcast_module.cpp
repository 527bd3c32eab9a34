#include "zelvo/system/broadcast_module.hpp"

#include "zelvo/core/reply.hpp"
#include "zelvo/system/address_text.hpp"

namespace zelvo {
namespace {

// The byte every discovery request starts with.
constexpr Byte kRequestLead = 0;
// The byte that ends a ring request.
constexpr Byte kRingTrail = 1;
// Where the status sits in the answer to a MAC command.
constexpr std::size_t kStatusAt = 1;

BroadcastDevice& finderOf(Device& dev) {
  auto* finder = dynamic_cast<BroadcastDevice*>(&dev);
  if (!finder) throw Error(Err::APINotSupportError, "Discovery needs a BroadcastDevice.");
  return *finder;
}

void append(Bytes& out, const Bytes& part) { out.insert(out.end(), part.begin(), part.end()); }

}  // namespace

std::optional<std::vector<std::string>> decodeDeviceRecord(ByteView r) {
  using namespace device_record;
  if (r.size() < kSize) return std::nullopt;
  std::vector<std::string> texts;
  texts.push_back(dottedQuad(r.subspan(kIP, kIPv4Bytes)));
  texts.push_back(dottedQuad(r.subspan(kMask, kIPv4Bytes)));
  texts.push_back(macText(r.subspan(kMAC, kMACBytes), true));
  texts.push_back(decodeText(r.subspan(kModel, kModelBytes)));
  texts.push_back(decodeText(r.subspan(kSerial, kSerialBytes)));
  texts.push_back(decodeText(r.subspan(kAlias, kAliasBytes)));
  texts.push_back(decodeText(r.subspan(kApp, kAppBytes)));
  texts.push_back(dottedQuad(r.subspan(kGateway, kIPv4Bytes)));
  return texts;
}

BroadcastModule::BroadcastModule(Device& dev) : dev_(finderOf(dev)) {}

Op<std::vector<Bytes>> BroadcastModule::search(Call& call, int cmd, Bytes payload) {
  return call.broadcastAnswers(cmd, std::move(payload), dev_.collectSeconds());
}

Op<Bytes> BroadcastModule::firstAnswer(Call& call, int cmd, Bytes payload) {
  std::vector<Bytes> answers = co_await search(call, cmd, std::move(payload));
  if (answers.empty()) throw Error(Err::ReceivePacketTimeoutError);
  co_return std::move(answers.front());
}

Op<int> BroadcastModule::statusOf(Call& call, int cmd, Bytes payload, const char* operation) {
  const Bytes first = co_await firstAnswer(call, cmd, std::move(payload));
  co_return Reply(first, operation).status(kStatusAt);
}

Op<std::vector<std::vector<std::string>>> BroadcastModule::enumerateNetworkDevices(Call& call) {
  const std::vector<Bytes> answers = co_await search(call, GET_DEVICE_INFO, payloadOf(kRequestLead));
  std::vector<std::vector<std::string>> devices;
  for (const Bytes& a : answers)
    if (auto texts = decodeDeviceRecord(a)) devices.push_back(std::move(*texts));
  co_return devices;
}

Op<int> BroadcastModule::checkMACAndSetIP(Call& call, std::string ip_addr, std::string mac_addr, std::string gateway,
                                          std::string subnet) {
  // Checked in argument order; sent in payload order.
  const Bytes ip = ipv4Bytes(ip_addr, "ip_addr");
  const Bytes mac = macBytes(mac_addr, "mac_addr");
  const Bytes gw = ipv4Bytes(gateway, "gateway");
  const Bytes mask = ipv4Bytes(subnet, "subnet");
  Bytes payload = payloadOf(kRequestLead);
  append(payload, ip);
  append(payload, mask);
  append(payload, mac);
  append(payload, gw);
  co_return co_await statusOf(call, CHECK_MAC_AND_SET_IP, std::move(payload), "Bcst_checkMACAndSetIP");
}

Op<Bytes> BroadcastModule::checkMACAndRing(Call& call, std::string mac_addr) {
  Bytes payload = payloadOf(kRequestLead);
  append(payload, macBytes(mac_addr, "mac_addr"));
  payload.push_back(kRingTrail);
  co_return co_await firstAnswer(call, NETCOM_CHECK_MAC_RINGING, std::move(payload));
}

Op<int> BroadcastModule::checkMACAndReboot(Call& call, std::string mac_addr) {
  Bytes payload = payloadOf(kRequestLead);
  append(payload, macBytes(mac_addr, "mac_addr"));
  co_return co_await statusOf(call, CHECK_MAC_AND_REBOOT, std::move(payload), "Bcst_checkMACAndReboot");
}

}  // namespace zelvo
