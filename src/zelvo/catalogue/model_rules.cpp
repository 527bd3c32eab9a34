// Model differences that go with particular product classes, chosen by class name (for the clock,
// by the model text; for the factory addresses, by the connection kind). Each rule lists its
// classes once, here; the library, the emulator and the tests read the fields it sets.
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "zelvo/catalogue/tables.hpp"

namespace zelvo::catalogue {
namespace {

// The Wi-Fi models' clocks report years from 2000; their model texts carry this marker.
constexpr std::string_view kWifiClockMarker = "Aeris";
constexpr int kWifiClockYearBase = 2000;

// Sampling-rate limits by the count they depend on (index = count; 0 = no limit).
const std::vector<double> kRateByChannelCount = {0, 16000, 8000, 6300, 4000, 3200, 2600, 2200, 2000};
const std::vector<double> kRateByChipSelectCount = {0, 12000, 6000, 4000};

// Factory addresses by connection kind: the default connection targets of the Ethernet and the
// Wi-Fi products, on a /24 network whose gateway is its first address.
const NetworkData kEthernetAddresses = {.ip_addr = "192.168.1.110", .subnet_mask = "255.255.255.0", .gateway = "192.168.1.1"};
const NetworkData kWifiAddresses = {.ip_addr = "192.168.5.38", .subnet_mask = "255.255.255.0", .gateway = "192.168.5.1"};

bool named(const ProductSpec& p, std::initializer_list<std::string_view> classes) {
  for (std::string_view c : classes)
    if (p.class_name == c) return true;
  return false;
}

void applyAIRules(const ProductSpec& p, AIData& ai) {
  ai.samples_24bit = named(p, {"TavraA2"});
  ai.slot_ports = ai.chip_selects = named(p, {"Koru"});
  ai.opens_locally = named(p, {"TavraA", "TavraA2", "Koru"});
  ai.streaming_opens_locally = named(p, {"AerisR3A", "AerisR3AH", "AerisR4A", "AerisR3AOD"});
  ai.fixed_channels = named(p, {"TavraA", "Koru", "AerisR3A", "AerisR3AH", "AerisR4A"});
  ai.external_trigger = !named(p, {"PellorK1AD", "PellorK1AOD"});
  if (named(p, {"Koru"})) {
    ai.rate_limit = AIRateLimit::PerChipSelectCount;
    ai.rate_by_count = kRateByChipSelectCount;
  } else if (named(p, {"PellorK1AD", "PellorK1AOD"})) {
    ai.rate_limit = AIRateLimit::PerChannelCount;
    ai.rate_by_count = kRateByChannelCount;
  } else if (named(p, {"TavraA", "AerisR4A", "TavraA2", "AerisR3A", "AerisR3AH", "AerisR3AOD"})) {
    ai.rate_limit = AIRateLimit::MaxRate;
  }
}

// Thermal channels per port: seven on the Ethernet thermocouple model, two on the USB models.
constexpr int kThermalChannelsEthernet = 7;
constexpr int kThermalChannelsUsb = 2;

void applyAORules(const ProductSpec& p, AOData& ao) {
  ao.opens_locally = named(p, {"TavraO", "Koru"});
  ao.checks_pins_on_open = named(p, {"AerisR3AOD"});
  ao.slot_ports = ao.generator_ops_inert = named(p, {"Koru"});
}

void applyThermalRules(const ProductSpec& p, ThermalData& thermal) {
  const bool ethernet = named(p, {"TavraT"});
  thermal.channels = ethernet ? kThermalChannelsEthernet : kThermalChannelsUsb;
  thermal.opens_locally = ethernet;
  thermal.status_open_circuit_only = named(p, {"PellorK1TD"});
}

}  // namespace

void applyModelRules(ProductSpec& p) {
  if (p.model.find(kWifiClockMarker) != std::string::npos) p.system.rtc_year_base = kWifiClockYearBase;
  p.system.slots = named(p, {"Koru"});
  if (p.dio) p.dio->fixed_direction = named(p, {"TavraL", "TavraD", "PellorK1DSNK", "Koru", "AerisR3AOD"});
  if (p.ai) applyAIRules(p, *p.ai);
  if (p.relay) p.relay->async_open_supported = named(p, {"TavraL"});
  if (p.ao) applyAORules(p, *p.ao);
  if (p.thermal) applyThermalRules(p, *p.thermal);
  if (p.has(ModuleId::Network)) p.network = p.base == DeviceBase::Wifi ? kWifiAddresses : kEthernetAddresses;
  if (p.motion) p.motion->slot_ports = named(p, {"Koru"});
}

}  // namespace zelvo::catalogue
