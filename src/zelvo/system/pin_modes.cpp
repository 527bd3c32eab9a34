#include "zelvo/system/pin_modes.hpp"

#include <algorithm>

namespace zelvo {

Op<void> requirePinModes(Call& call, int port, std::vector<int> pins, std::vector<std::string> allowed, Err refusal) {
  SystemModule* system = call.device().module<SystemModule>();
  if (!system) throw Error(Err::APINotSupportError);
  const std::vector<std::string> modes = co_await system->getPinModeInPort(call, port);
  for (int pin : pins) {
    const auto at = static_cast<std::size_t>(pin);
    if (pin >= 0 && at < modes.size() && std::find(allowed.begin(), allowed.end(), modes[at]) != allowed.end())
      continue;
    const std::string found =
        pin >= 0 && at < modes.size() ? "is in mode " + modes[at] : "has no mode in the device's report";
    throw Error(refusal, std::string(errorInfo(refusal).message) + " Pin " + std::to_string(pin) + " of port " +
                             std::to_string(port) + " " + found + ".");
  }
}

std::map<int, std::vector<int>> pinsByDevicePort(const PairMap& map) {
  std::map<int, std::vector<int>> out;
  for (const auto& [module_port, refs] : map)
    for (const auto& [port, pin] : refs) out[port].push_back(pin);
  return out;
}

Op<void> requireMapPinModes(Call& call, const PairMap& map, std::vector<std::string> allowed, Err refusal) {
  for (const auto& [port, pins] : pinsByDevicePort(map)) co_await requirePinModes(call, port, pins, allowed, refusal);
}

}  // namespace zelvo
