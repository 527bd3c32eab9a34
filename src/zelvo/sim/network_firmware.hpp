// The network peripheral's firmware side: the device's IP address, subnet mask, gateway and MAC
// address, the commands that read and set them over TCP, and what the device does with a
// discovery request that reached it over UDP (the transport is discovery_responder.hpp).
//
// Model of the device:
// - The addresses start as the product's factory addresses (catalogue); the MAC is unique per
//   emulated device (locally administered, 02:5a:...). Setting them changes this state only, at
//   once (also in the discovery record): nothing reconfigures a real interface.
// - An address the device cannot take is refused with status 71 (the network stack's error): an
//   IP address in 0.0.0.0/8 or 224.0.0.0 and above, a mask that is not a run of ones followed by
//   zeros (or is all zeros), a multicast or all-zero MAC. A request too short for its fields is
//   answered [80].
// - Discovery: every device answers GET_DEVICE_INFO with [1] + its 106-byte record. It acts on
//   CHECK_MAC_AND_SET_IP, CHECK_MAC_AND_REBOOT and NETCOM_CHECK_MAC_RINGING only when the MAC in
//   the request is its own, and answers those with [1, 0, status] + its MAC. Other requests get
//   no answer.
//
// TCP replies: GET_GATEWAY [gateway 4]; GET_IP [ip 4, mask 4]; GET_MAC [mac 6] (no status);
// SET_GATEWAY, SET_IP, SET_MAC [status].
#pragma once

#include <array>
#include <optional>
#include <string>

#include "zelvo/sim/firmware.hpp"

namespace zelvo::sim {

// Command codes, under the names the library gives them.
namespace netcmd {
inline constexpr int GET_GATEWAY = 124;
inline constexpr int SET_GATEWAY = 125;
inline constexpr int GET_IP = 243;
inline constexpr int SET_IP = 244;
inline constexpr int GET_MAC = 245;
inline constexpr int SET_MAC = 246;
// Discovery requests (UDP).
inline constexpr int GET_DEVICE_INFO = 252;
inline constexpr int CHECK_MAC_AND_SET_IP = 253;
inline constexpr int CHECK_MAC_AND_REBOOT = 254;
inline constexpr int NETCOM_CHECK_MAC_RINGING = 2582;
}  // namespace netcmd

using IPv4 = std::array<Byte, 4>;
using MAC = std::array<Byte, 6>;

struct NetworkSettings {
  IPv4 ip{}, mask{}, gateway{};
  MAC mac{};
};

// What the device does with one discovery request.
struct DiscoveryOutcome {
  std::optional<Bytes> answer;  // starts with the answer mark 1; none: the device stays silent
  bool reboot = false;          // the device reboots after answering
};

// The status of an address the network stack cannot take.
inline constexpr Byte kAddressRefused = 71;

class NetworkFirmware final : public FirmwareModule {
 public:
  // The record's fields: offsets and widths.
  static constexpr std::size_t kRecordSize = 106;
  static constexpr std::size_t kModelBytes = 32, kSerialBytes = 8, kAliasBytes = 16, kAppBytes = 32;

  void install(Firmware& fw) override;

  // Views and controls for tests and the Python API; safe from any thread.
  NetworkSettings settings() const;
  // False (and no change) for an address the device refuses (see above).
  bool setAddresses(const IPv4& ip, const IPv4& mask, const IPv4& gateway);
  bool setMac(const MAC& mac);
  Bytes deviceRecord() const;
  int rings() const;
  int reboots() const;  // reboots by CHECK_MAC_AND_REBOOT

  // A discovery request, as the UDP transport received it.
  DiscoveryOutcome discover(const Request& req);

 private:
  // Whether a MAC command names this device: its payload after the leading byte starts with our MAC.
  bool addressedToUs(ByteView payload) const;
  Bytes macAnswer(Byte status) const;

  Firmware* fw_ = nullptr;
  NetworkSettings now_;
  int rings_ = 0;
  int reboots_ = 0;
};

// A MAC no other emulated device of this process has: 02:5a followed by four bytes.
MAC freshMacAddress();

}  // namespace zelvo::sim
