#include "zelvo/core/broadcast_guard.hpp"

#include <arpa/inet.h>

#include <atomic>
#include <cstdlib>
#include <string_view>

#include "zelvo/core/errors.hpp"

namespace zelvo {
namespace {

constexpr std::uint32_t kLoopbackNet = 127;
constexpr int kNetShift = 24;

std::atomic<std::uint64_t> g_refusals{0};

}  // namespace

bool broadcastLoopbackOnly() {
  const char* v = std::getenv(kBroadcastLoopbackOnlyVariable);
  return v && std::string_view(v) != "" && std::string_view(v) != "0";
}

bool isLoopbackAddress(const std::string& ip) {
  in_addr a{};
  return inet_pton(AF_INET, ip.c_str(), &a) == 1 && (ntohl(a.s_addr) >> kNetShift) == kLoopbackNet;
}

void requireAllowedBroadcast(const std::string& destination, const std::vector<std::string>& sources) {
  if (!broadcastLoopbackOnly()) return;
  auto refuse = [](const std::string& what) {
    ++g_refusals;
    throw Error(Err::NetworkConnectionError, "Discovery refused: " + what + " is not a loopback address and " +
                                                 kBroadcastLoopbackOnlyVariable + " is set.");
  };
  if (!isLoopbackAddress(destination)) refuse("the destination " + destination);
  for (const auto& s : sources)
    if (!isLoopbackAddress(s)) refuse("the source " + s);
}

std::uint64_t broadcastRefusals() { return g_refusals.load(); }

}  // namespace zelvo
