#include "zelvo/bus/bus_ports.hpp"

#include <limits>
#include <set>

#include "zelvo/core/status_exchange.hpp"
#include "zelvo/system/pin_modes.hpp"

namespace zelvo {

std::vector<std::string> busOpenModes() { return {kIdlePinMode, "DI", "DO"}; }

std::vector<int> BusPortMap::ports() const {
  std::vector<int> out;
  for (const auto& entry : map_) out.push_back(entry.first);
  return out;
}

const BusPins& BusPortMap::pins(int port) const {
  const auto it = map_.find(port);
  if (it == map_.end()) throw Error(unavailable_);
  return it->second;
}

bool BusPortMap::check(int port) const {
  pins(port);
  return true;
}

std::vector<int> BusPortMap::dioPorts(int port) const {
  std::set<int> out;
  for (const auto& [dio_port, pin] : pins(port)) out.insert(dio_port);
  return {out.begin(), out.end()};
}

Op<bool> BusPortMap::requirePinModes(Call& call, int port, std::vector<std::string> allowed) const {
  const BusPins& bus_pins = pins(port);
  for (int dio_port : dioPorts(port)) {
    std::vector<int> on_port;
    for (const auto& [p, pin] : bus_pins)
      if (p == dio_port) on_port.push_back(pin);
    co_await zelvo::requirePinModes(call, dio_port, std::move(on_port), allowed, unavailable_);
  }
  co_return true;
}

void appendByteField(Bytes& out, std::int64_t value, const char* name) {
  out.push_back(unsignedField<Byte>(value, name));
}

void appendByteFields(Bytes& out, std::span<const std::int64_t> values, const char* name) {
  const Bytes checked = toPayload(values, name);
  out.insert(out.end(), checked.begin(), checked.end());
}

void appendU32Field(Bytes& out, std::int64_t value, const char* name) {
  appendBE(out, unsignedField<std::uint32_t>(value, name));
}

void appendCountField(Bytes& out, std::size_t count, const char* name, Err too_long) {
  constexpr std::size_t kCountMax = std::numeric_limits<Byte>::max();
  if (count > kCountMax && too_long != Err::InputDataNotInRangeError) throw Error(too_long);
  out.push_back(unsignedField<Byte>(static_cast<std::int64_t>(count), name));
}

Op<int> busStatus(Call& call, int cmd, Bytes payload, const char* operation) {
  return echoStatus(call, cmd, std::move(payload), kBusStatusIndex, operation);
}

}  // namespace zelvo
