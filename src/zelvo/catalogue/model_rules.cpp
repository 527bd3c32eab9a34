// Model differences that go with particular product classes, chosen by class name (for the clock,
// by the model text). Each rule lists its classes once, here; the library, the emulator and the
// tests read the fields it sets.
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

}  // namespace

void applyModelRules(ProductSpec& p) {
  if (p.model.find(kWifiClockMarker) != std::string::npos) p.system.rtc_year_base = kWifiClockYearBase;
  p.system.slots = named(p, {"Koru"});
  if (p.dio) p.dio->fixed_direction = named(p, {"TavraL", "TavraD", "PellorK1DSNK", "Koru", "AerisR3AOD"});
  if (p.ai) applyAIRules(p, *p.ai);
  if (p.motion) p.motion->slot_ports = named(p, {"Koru"});
}

}  // namespace zelvo::catalogue
