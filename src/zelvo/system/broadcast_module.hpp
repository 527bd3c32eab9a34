// Broadcast discovery: finds the devices on the local network by UDP broadcast, identifies them and
// re-addresses, rings or reboots one by its MAC address, without knowing its IP address. Every
// operation sends its request NUM_BCST_RETRIES times and collects the answers for the finder's
// fixed collection time (PACKET_TIMEOUT); none takes a time-out of its own. Address texts are
// checked before anything is sent.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "zelvo/core/call.hpp"

namespace zelvo {

// Discovery codes: core/routing.hpp (GET_DEVICE_INFO, CHECK_MAC_AND_SET_IP, ...).

// The device information record each device answers GET_DEVICE_INFO with (the answer without its
// leading byte 1): field offsets and widths.
namespace device_record {
inline constexpr std::size_t kIP = 0, kMask = 4, kMAC = 8, kModel = 14, kSerial = 46, kAlias = 54, kApp = 70,
                             kGateway = 102;
inline constexpr std::size_t kModelBytes = 32, kSerialBytes = 8, kAliasBytes = 16, kAppBytes = 32;
inline constexpr std::size_t kSize = 106;
}  // namespace device_record

// The eight texts of a record, in record order: IP address, subnet mask, MAC address (two digits a
// field), firmware model, serial number, alias, application information, gateway. Texts end at
// their first NUL and decode with U+FFFD for invalid UTF-8. nullopt for a record shorter than
// device_record::kSize.
std::optional<std::vector<std::string>> decodeDeviceRecord(ByteView record);

class BroadcastModule {
 public:
  // The device must be a BroadcastDevice (its collection time is read at every operation).
  explicit BroadcastModule(Device& dev);

  // One entry per device that answered, in the order the answers arrived; answers too short to be
  // a record are skipped. An unbound finder sends nothing and finds nothing.
  Op<std::vector<std::vector<std::string>>> enumerateNetworkDevices(Call& call);
  // The status (element 1) of the first answer that arrived, 0 or a negative firmware code;
  // ReceivePacketTimeoutError after the collection time when no device answered.
  Op<int> checkMACAndSetIP(Call& call, std::string ip_addr, std::string mac_addr, std::string gateway,
                           std::string subnet);
  // The first answer that arrived (a whole record); ReceivePacketTimeoutError when none did.
  Op<Bytes> checkMACAndRing(Call& call, std::string mac_addr);
  // As checkMACAndSetIP.
  Op<int> checkMACAndReboot(Call& call, std::string mac_addr);

 private:
  Op<std::vector<Bytes>> search(Call& call, int cmd, Bytes payload);
  // The first answer of a MAC command; ReceivePacketTimeoutError when none arrived.
  Op<Bytes> firstAnswer(Call& call, int cmd, Bytes payload);
  Op<int> statusOf(Call& call, int cmd, Bytes payload, const char* operation);

  BroadcastDevice& dev_;
};

}  // namespace zelvo
