#include "zelvo/products/catalogue.hpp"

#include <algorithm>
#include <array>
#include <set>

#include "zelvo/core/errors.hpp"

namespace zelvo {
namespace {

using M = ModuleId;

constexpr double kRatio16 = 10.0 / 32768.0;       // +-10 V over a signed 16-bit range
constexpr double kRatio24 = 1.3904889343373708e-6;  // Tavra-A2, volts per 24-bit count

std::vector<int> range(int first, int last) {
  std::vector<int> v;
  for (int i = first; i <= last; ++i) v.push_back(i);
  return v;
}

PinMap samePins(std::initializer_list<int> ports, int first, int last) {
  PinMap m;
  for (int p : ports) m[p] = range(first, last);
  return m;
}

PairMap onePair(std::initializer_list<int> ports, std::pair<int, int> ref) {
  PairMap m;
  for (int p : ports) m[p] = {ref};
  return m;
}

AIData ai16(PairMap dict, double rate, bool variable) {
  return AIData{std::move(dict), rate, kRatio16, 8, variable};
}

// Pellor maps shared by several models.
const PairMap kPellorUart = {{1, {{0, 3}, {0, 4}}}, {2, {{1, 2}, {1, 3}}}};
const PairMap kPellorI2C = {{1, {{2, 6}, {2, 7}}}, {2, {{3, 0}, {3, 1}}}};
const PairMap kPellorSPI = {{1, {{2, 1}, {2, 2}, {2, 3}}}, {2, {{3, 3}, {3, 4}, {3, 5}}}};
const PairMap kPellorSPI2 = {{2, {{3, 3}, {3, 4}, {3, 5}}}};
const PairMap kPellorThermal = {{1, {{1, 5}, {2, 0}, {2, 1}, {2, 2}, {2, 3}}},
                                {2, {{1, 5}, {2, 0}, {3, 3}, {3, 4}, {3, 5}}}};

DIOData sameInOut(PinMap m, int pins) { return DIOData{m, m, pins}; }

const std::vector<M> kPellorD = {M::DataLogger, M::UART,    M::I2C,     M::SPI,
                                 M::DIO,        M::PWM,     M::Counter, M::Encoder};

std::vector<M> pellorPlus(M extra) {
  auto v = kPellorD;
  v.push_back(extra);
  return v;
}

std::vector<ProductSpec> build() {
  std::vector<ProductSpec> v;
  auto add = [&](std::string cls, std::string model, DeviceBase base, std::vector<M> mods) -> ProductSpec& {
    ProductSpec p;
    p.class_name = std::move(cls);
    p.model = std::move(model);
    p.base = base;
    p.modules = std::move(mods);
    v.push_back(std::move(p));
    return v.back();
  };
  const auto eth = DeviceBase::ETH;
  const auto usb = DeviceBase::USB;
  const auto wifi = DeviceBase::Wifi;

  // Wi-Fi
  {
    auto& p = add("AerisR3AH", "Aeris-R3-AH", wifi,
                  {M::DataLogger, M::SystemAnalog, M::Network, M::Wifi, M::AI, M::AHRS, M::SDCard});
    p.ai = ai16(onePair({0}, {1, 5}), 10000, true);
    p.ahrs_dict = onePair({0}, {1, 5});
  }
  {
    auto& p = add("AerisR3A", "Aeris-R3-A", wifi, {M::DataLogger, M::SystemAnalog, M::Network, M::Wifi, M::AI});
    p.ai = ai16(onePair({0}, {1, 5}), 10000, true);
  }
  {
    auto& p = add("AerisR4A", "Aeris-R4-A", wifi, {M::DataLogger, M::SystemAnalog, M::Network, M::Wifi, M::AI});
    p.ai = ai16(onePair({0}, {1, 5}), 20000, true);
  }
  {
    auto& p = add("AerisR3AOD", "Aeris-R3-AOD", wifi,
                  {M::DataLogger, M::SystemAnalog, M::Network, M::Wifi, M::AI, M::AO, M::DIO, M::SDCard});
    p.ai = ai16(onePair({0}, {1, 5}), 10000, true);
    p.ao = AOData{onePair({0}, {3, 11}), -10, 10, 8, 15000};
    p.dio = DIOData{samePins({2}, 0, 7), samePins({3}, 0, 7), 8};
  }
  // Ethernet
  {
    auto& p = add("Koru", "Koru", eth, {M::DataLogger, M::Network, M::AI, M::AO, M::DIO, M::MCX514});
    p.ai = ai16(onePair({0, 1, 3}, {1, 5}), 12000, false);
    p.ao = AOData{onePair({0, 1, 3}, {1, 5}), -10, 10, 8, 15000};
    p.motion_dict = onePair({0, 1, 3}, {1, 5});
    p.dio = DIOData{samePins({0, 1, 2, 3, 4, 5, 6, 7}, 0, 11), samePins({0, 1, 2, 3, 4, 5, 6, 7}, 0, 11), 12};
  }
  {
    auto& p = add("TorvaneST", "Torvane-ST", eth, {M::Network, M::TMC5240, M::SNTP});
    p.tvst_dict = onePair({0}, {1, 5});
  }
  {
    auto& p = add("Kinora", "Kinora", eth, {M::DataLogger, M::MCX514, M::Network, M::SNTP});
    p.motion_dict = onePair({0}, {1, 5});
  }
  {
    auto& p = add("TavraA2", "Tavra-A2", eth, {M::DataLogger, M::Network, M::AI24BitStreaming, M::SNTP});
    p.ai = AIData{onePair({0}, {1, 11}), 10000, kRatio24, 8, false};
  }
  {
    auto& p = add("TavraA", "Tavra-A", eth, {M::DataLogger, M::Network, M::AI, M::SNTP});
    p.ai = ai16(onePair({0}, {1, 11}), 20000, false);
  }
  {
    auto& p = add("TavraD", "Tavra-D", eth, {M::DataLogger, M::Network, M::DIO, M::PWM, M::SNTP});
    p.dio = DIOData{samePins({1}, 0, 7), samePins({0}, 0, 5), 8};
  }
  {
    auto& p = add("TavraEXD", "Tavra-EX-D", eth, {M::DataLogger, M::Network, M::DIO, M::SNTP});
    p.dio = DIOData{samePins({2, 3}, 0, 7), samePins({0, 1}, 0, 7), 8};
  }
  {
    auto& p = add("TavraI", "Tavra-I", eth, {M::DataLogger, M::Network, M::AI24Bit, M::SNTP});
    p.ai24_dict = onePair({0}, {1, 11});
  }
  {
    auto& p = add("TavraIA", "Tavra-IA", eth, {M::DataLogger, M::Network, M::AI24Bit, M::SNTP});
    p.ai24_dict = onePair({0, 1}, {1, 11});
  }
  {
    auto& p = add("TavraL", "Tavra-L", eth, {M::DataLogger, M::Network, M::DIO, M::Relay, M::SNTP});
    p.dio = DIOData{samePins({1}, 0, 5), samePins({0}, 0, 5), 8};
  }
  {
    auto& p = add("TavraO", "Tavra-O", eth, {M::DataLogger, M::Network, M::AOStreaming, M::SNTP});
    p.ao = AOData{onePair({0}, {3, 11}), -10, 10, 8, 15000};
  }
  add("TavraP", "Tavra-P", eth, {M::DataLogger, M::Network, M::DPOT, M::SNTP});
  {
    auto& p = add("TavraT", "Tavra-T", eth, {M::DataLogger, M::Network, M::Thermocouple, M::SNTP});
    p.thermal_dict = onePair({1}, {3, 11});
  }
  // USB
  {
    auto& p = add("PellorK1D", "Pellor-K1-D", usb, kPellorD);
    p.dio = sameInOut({{0, range(0, 7)}, {1, range(0, 5)}, {2, {0, 1, 2, 3, 6, 7}}, {3, range(0, 5)}}, 8);
    p.uart_dict = kPellorUart;
    p.I2C_dict = kPellorI2C;
    p.SPI_dict = kPellorSPI;
  }
  {
    auto& p = add("PellorK1AD", "Pellor-K1-AD", usb, pellorPlus(M::AI));
    p.dio = sameInOut({{0, range(0, 7)}, {1, range(0, 3)}, {2, {6, 7}}, {3, range(0, 5)}}, 8);
    p.uart_dict = kPellorUart;
    p.I2C_dict = kPellorI2C;
    p.SPI_dict = kPellorSPI2;
    p.ai = ai16(onePair({0}, {1, 5}), 16000, true);
  }
  {
    auto& p = add("PellorK1TD", "Pellor-K1-TD", usb, pellorPlus(M::Thermocouple));
    p.dio = sameInOut({{0, range(0, 7)}, {1, range(0, 4)}, {2, {6, 7}}, {3, range(0, 5)}}, 8);
    p.uart_dict = kPellorUart;
    p.I2C_dict = kPellorI2C;
    p.SPI_dict = kPellorSPI2;
    p.thermal_dict = kPellorThermal;
  }
  {
    auto& p = add("PellorK1CD", "Pellor-K1-CD", usb, pellorPlus(M::CAN));
    p.dio = sameInOut({{0, range(0, 7)}, {1, range(0, 3)}, {2, {6, 7}}, {3, range(0, 5)}}, 8);
    p.uart_dict = kPellorUart;
    p.I2C_dict = kPellorI2C;
    p.SPI_dict = kPellorSPI2;
    p.can_dict = PairMap{{1, {{1, 4}, {1, 5}, {2, 0}, {2, 1}, {2, 2}, {2, 3}}}};
  }
  {
    auto& p = add("PellorK1RD", "Pellor-K1-RD", usb, pellorPlus(M::ThermalResistance));
    p.dio = sameInOut({{0, range(0, 7)}, {1, range(0, 4)}, {2, {6, 7}}, {3, range(0, 5)}}, 8);
    p.uart_dict = kPellorUart;
    p.I2C_dict = kPellorI2C;
    p.SPI_dict = kPellorSPI2;
    p.thermal_dict = kPellorThermal;
  }
  {
    auto& p = add("PellorK1DSNK", "Pellor-K1-D-SNK", usb, {M::DataLogger, M::DIO, M::PWM, M::Counter, M::Encoder});
    p.dio = DIOData{{{0, range(0, 7)}, {1, range(0, 5)}}, {{2, range(0, 7)}, {3, range(0, 3)}}, 8};
  }
  {
    auto& p = add("PellorK1AOD", "Pellor-K1-AOD", usb,
                  {M::DataLogger, M::UART, M::I2C, M::AI, M::AOStreaming, M::DIO, M::PWM, M::Counter, M::Encoder});
    p.dio = sameInOut({{0, range(0, 7)}, {1, range(0, 3)}, {2, {6, 7}}, {3, {0, 1}}}, 8);
    p.uart_dict = kPellorUart;
    p.I2C_dict = kPellorI2C;
    p.ai = ai16(onePair({0}, {1, 5}), 16000, true);
    p.ao = AOData{onePair({0}, {1, 4}), 0, 5, 8, 16000};
  }
  // Not products in the strict sense: a plain class and the discovery handle.
  add("KORULite", "Koru-Lite", DeviceBase::None, {});
  add("DeviceFinder", "Device finder", DeviceBase::Broadcast, {M::Broadcast});
  return v;
}

struct ModuleName {
  ModuleId id;
  const char* name;
};
constexpr std::array kModuleNames = {
    ModuleName{M::System, "SystemModule"},
    ModuleName{M::DataLogger, "DataLogger"},
    ModuleName{M::SystemAnalog, "SystemAnalogModule"},
    ModuleName{M::Network, "NetworkModule"},
    ModuleName{M::Wifi, "WifiModule"},
    ModuleName{M::AI, "AIModule"},
    ModuleName{M::AI24Bit, "AI24BitModule"},
    ModuleName{M::AI24BitStreaming, "AI24BitStreamingModule"},
    ModuleName{M::AO, "AOModule"},
    ModuleName{M::AOStreaming, "AOStreamingModule"},
    ModuleName{M::DIO, "DIOModule"},
    ModuleName{M::PWM, "PWMModule"},
    ModuleName{M::Counter, "CounterModule"},
    ModuleName{M::Encoder, "EncoderModule"},
    ModuleName{M::UART, "UARTModule"},
    ModuleName{M::I2C, "I2CModule"},
    ModuleName{M::SPI, "SPIModule"},
    ModuleName{M::CAN, "CANModule"},
    ModuleName{M::Thermocouple, "ThermocoupleModule"},
    ModuleName{M::ThermalResistance, "ThermalResistanceModule"},
    ModuleName{M::Relay, "RelayModule"},
    ModuleName{M::DPOT, "DPOTModule"},
    ModuleName{M::AHRS, "AHRSModule"},
    ModuleName{M::SDCard, "SDCardModule"},
    ModuleName{M::SNTP, "SNTPModule"},
    ModuleName{M::MCX514, "MCX514Module"},
    ModuleName{M::TMC5240, "TMC5240Module"},
    ModuleName{M::Broadcast, "BroadcastModule"},
};

}  // namespace

const char* moduleClassName(ModuleId m) {
  for (const auto& row : kModuleNames)
    if (row.id == m) return row.name;
  return "";
}

std::span<const ModuleId> allModules() {
  static const std::vector<ModuleId> ids = [] {
    std::vector<ModuleId> v;
    for (const auto& row : kModuleNames) v.push_back(row.id);
    return v;
  }();
  return ids;
}

bool ProductSpec::has(ModuleId m) const {
  if (m == ModuleId::System) return base != DeviceBase::None && base != DeviceBase::Broadcast;
  return std::find(modules.begin(), modules.end(), m) != modules.end();
}

const std::vector<ProductSpec>& products() {
  static const std::vector<ProductSpec> all = build();
  return all;
}

const ProductSpec* findProduct(std::string_view class_name) {
  for (const auto& p : products())
    if (p.class_name == class_name) return &p;
  return nullptr;
}

const ProductSpec& product(std::string_view class_name) {
  if (const auto* p = findProduct(class_name)) return *p;
  throw Error(Err::InputDataNotInRangeError, "Unknown product class '" + std::string(class_name) + "'.");
}

std::map<std::string, std::string> labelDict() {
  std::map<std::string, std::string> m;
  for (const auto& p : products()) m[p.class_name] = p.model;
  return m;
}

std::vector<PortLayout> portLayout(const ProductSpec& p) {
  std::map<int, int> pins;  // device port -> pin count
  auto note = [&](int port, int pin) { pins[port] = std::max(pins[port], pin + 1); };
  if (p.dio) {
    for (const auto* map : {&p.dio->di_dict, &p.dio->do_dict})
      for (const auto& [port, list] : *map) {
        note(port, p.dio->dio_num_pins_per_port - 1);
        for (int pin : list) note(port, pin);
      }
  }
  auto notePairs = [&](const std::optional<PairMap>& m) {
    if (!m) return;
    for (const auto& [port, refs] : *m)
      for (const auto& [dev_port, pin] : refs) note(dev_port, pin);
  };
  if (p.ai) notePairs(p.ai->ai_dict);
  if (p.ao) notePairs(p.ao->ao_dict);
  for (const auto* m : {&p.ai24_dict, &p.motion_dict, &p.tvst_dict, &p.thermal_dict, &p.ahrs_dict,
                        &p.uart_dict, &p.I2C_dict, &p.SPI_dict, &p.can_dict})
    notePairs(*m);
  std::vector<PortLayout> out;
  for (const auto& [port, n] : pins) out.push_back({port, n});
  return out;
}

}  // namespace zelvo
