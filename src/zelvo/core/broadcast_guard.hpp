// A process-wide safety switch for discovery traffic. With ZELVO_BROADCAST_LOOPBACK_ONLY set (to
// anything but "" or "0"), discovery requests may only go from and to loopback addresses
// (127.0.0.0/8): a request that would leave from or for any other address is refused before
// anything is sent, and counted. The test suite sets it, so that no test ever broadcasts on a real
// network; it is read at every send.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zelvo {

inline constexpr const char* kBroadcastLoopbackOnlyVariable = "ZELVO_BROADCAST_LOOPBACK_ONLY";

bool broadcastLoopbackOnly();
// Whether a dotted IPv4 address is in 127.0.0.0/8.
bool isLoopbackAddress(const std::string& ip);
// Throws NetworkConnectionError (and counts a refusal) when the switch is on and the destination or
// a source is not a loopback address. An empty source list means the system picks the source,
// which follows the destination.
void requireAllowedBroadcast(const std::string& destination, const std::vector<std::string>& sources);
// Requests refused so far in this process.
std::uint64_t broadcastRefusals();

}  // namespace zelvo
