#include "zelvo/sim/relay_firmware.hpp"

#include <stdexcept>
#include <string>

#include "zelvo/sim/channel_routes.hpp"
#include "zelvo/sim/dio_firmware.hpp"

namespace zelvo::sim {
namespace {

constexpr int kPorts = 1;
constexpr Byte kRelayStatus = 51;
constexpr Byte kAllRelays = 255;
constexpr std::size_t kPortAndIndex = 2;

}  // namespace

void RelayFirmware::install(Firmware& fw) {
  fw_ = &fw;
  std::size_t k = 0;
  if (const auto& dio = fw.product().dio) {
    for (const auto& [port, pins] : dio->do_dict)
      for (int pin : pins)
        if (k < pins_.size()) pins_[k++] = {port, pin};
  }
  if (k < pins_.size()) throw std::logic_error(fw.product().class_name + " has fewer digital outputs than relays");
  if (auto* dio = fw.findModule<DioFirmware>())
    dio->watchOutputs([this](int port, std::uint16_t before, std::uint16_t after) { outputsChanged(port, before, after); });

  routeChannel(fw, relaycmd::RELAY_READ, kPortAndIndex, kPorts, kRelayStatus,
               [this](const Request& r, int) -> ChannelOutcome {
                 const Byte index = r.payload[1];
                 if (index != kAllRelays && index >= kRelays) return kRelayStatus;
                 Bytes data{status::kOk};
                 for (int relay = 0; relay < kRelays; ++relay)
                   if (index == kAllRelays || index == relay) appendBE(data, counts_[static_cast<std::size_t>(relay)]);
                 return data;
               });
}

void RelayFirmware::outputsChanged(int port, std::uint16_t before, std::uint16_t after) {
  for (std::size_t k = 0; k < pins_.size(); ++k) {
    if (pins_[k].first != port) continue;
    const auto bit = static_cast<std::uint16_t>(1U << pins_[k].second);
    const bool was = (before & bit) != 0, is = (after & bit) != 0;
    if (!was && is) ++counts_[k];  // wraps at 2^32 as the device's counter does
    closed_[k] = is;
  }
}

int RelayFirmware::known(int relay) const {
  if (relay < 0 || relay >= kRelays) throw std::invalid_argument("the device has no relay " + std::to_string(relay));
  return relay;
}

std::array<std::uint32_t, RelayFirmware::kRelays> RelayFirmware::counts() const {
  std::lock_guard lock(fw_->mutex());
  return counts_;
}

void RelayFirmware::setCount(int relay, std::uint32_t value) {
  std::lock_guard lock(fw_->mutex());
  counts_[static_cast<std::size_t>(known(relay))] = value;
}

bool RelayFirmware::closed(int relay) const {
  std::lock_guard lock(fw_->mutex());
  return closed_[static_cast<std::size_t>(known(relay))];
}

std::pair<int, int> RelayFirmware::pinOf(int relay) const { return pins_[static_cast<std::size_t>(known(relay))]; }

}  // namespace zelvo::sim
