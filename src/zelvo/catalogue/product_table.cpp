// The catalogue's rows: one entry per product class, every number under the name of its field.
// Model differences stated by class name are not written here but set by model_rules.cpp.
#include <initializer_list>
#include <utility>

#include "zelvo/catalogue/tables.hpp"

namespace zelvo::catalogue {
namespace {

using M = ModuleId;
constexpr auto kEth = DeviceBase::ETH;
constexpr auto kUsb = DeviceBase::USB;
constexpr auto kWifi = DeviceBase::Wifi;

constexpr double kRatio16 = 10.0 / 32768.0;         // +-10 V over a signed 16-bit range
constexpr double kRatio24 = 1.3904889343373708e-6;  // Tavra-A2, volts per 24-bit count
constexpr int kChannels = 8;                         // analog channels of every AI and AO model
constexpr int kPinsPerPort = 8;
constexpr int kKoruPinsPerPort = 12;

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

// The 16-bit analog inputs: +-10 V, eight channels.
AIData ai16(PairMap dict, double max_rate, bool variable) {
  return AIData{.ai_dict = std::move(dict), .ai_max_rate = max_rate, .ai_ratio = kRatio16,
                .ai_num_channels = kChannels, .ai_variable = variable};
}

// Pellor models whose input and output maps are the same.
DIOData sameInOut(const PinMap& m) { return DIOData{.di_dict = m, .do_dict = m, .dio_num_pins_per_port = kPinsPerPort}; }

// Pellor maps shared by several models.
const PairMap kPellorUart = {{1, {{0, 3}, {0, 4}}}, {2, {{1, 2}, {1, 3}}}};
const PairMap kPellorI2C = {{1, {{2, 6}, {2, 7}}}, {2, {{3, 0}, {3, 1}}}};
const PairMap kPellorSPI = {{1, {{2, 1}, {2, 2}, {2, 3}}}, {2, {{3, 3}, {3, 4}, {3, 5}}}};
const PairMap kPellorSPI2 = {{2, {{3, 3}, {3, 4}, {3, 5}}}};
const PairMap kPellorThermal = {{1, {{1, 5}, {2, 0}, {2, 1}, {2, 2}, {2, 3}}},
                                {2, {{1, 5}, {2, 0}, {3, 3}, {3, 4}, {3, 5}}}};

const std::vector<M> kPellorD = {M::DataLogger, M::UART, M::I2C, M::SPI, M::DIO, M::PWM, M::Counter, M::Encoder};

std::vector<M> pellorPlus(M extra) {
  auto v = kPellorD;
  v.push_back(extra);
  return v;
}

}  // namespace

std::vector<ProductSpec> productTable() {
  return {
      // Wi-Fi
      {.class_name = "AerisR3AH", .model = "Aeris-R3-AH", .base = kWifi,
       .modules = {M::DataLogger, M::SystemAnalog, M::Network, M::Wifi, M::AI, M::AHRS, M::SDCard},
       .ai = ai16(onePair({0}, {1, 5}), 10000, true),
       .ahrs_dict = onePair({0}, {1, 5})},
      {.class_name = "AerisR3A", .model = "Aeris-R3-A", .base = kWifi,
       .modules = {M::DataLogger, M::SystemAnalog, M::Network, M::Wifi, M::AI},
       .ai = ai16(onePair({0}, {1, 5}), 10000, true)},
      {.class_name = "AerisR4A", .model = "Aeris-R4-A", .base = kWifi,
       .modules = {M::DataLogger, M::SystemAnalog, M::Network, M::Wifi, M::AI},
       .ai = ai16(onePair({0}, {1, 5}), 20000, true)},
      {.class_name = "AerisR3AOD", .model = "Aeris-R3-AOD", .base = kWifi,
       .modules = {M::DataLogger, M::SystemAnalog, M::Network, M::Wifi, M::AI, M::AO, M::DIO, M::SDCard},
       .ai = ai16(onePair({0}, {1, 5}), 10000, true),
       .ao = AOData{.ao_dict = onePair({0}, {3, 11}), .ao_volt_min = -10, .ao_volt_max = 10, .ao_channel = kChannels,
                    .ao_rate = 15000},
       .dio = DIOData{.di_dict = samePins({2}, 0, 7), .do_dict = samePins({3}, 0, 7),
                      .dio_num_pins_per_port = kPinsPerPort}},
      // Ethernet
      {.class_name = "Koru", .model = "Koru", .base = kEth,
       .modules = {M::DataLogger, M::Network, M::AI, M::AO, M::DIO, M::MCX514},
       .ai = ai16(onePair({0, 1, 3}, {1, 5}), 12000, false),
       .ao = AOData{.ao_dict = onePair({0, 1, 3}, {1, 5}), .ao_volt_min = -10, .ao_volt_max = 10,
                    .ao_channel = kChannels, .ao_rate = 15000},
       .dio = DIOData{.di_dict = samePins({0, 1, 2, 3, 4, 5, 6, 7}, 0, 11),
                      .do_dict = samePins({0, 1, 2, 3, 4, 5, 6, 7}, 0, 11),
                      .dio_num_pins_per_port = kKoruPinsPerPort},
       .motion = MotionData{.motion_dict = onePair({0, 1, 3}, {1, 5})}},
      {.class_name = "TorvaneST", .model = "Torvane-ST", .base = kEth,
       .modules = {M::Network, M::TMC5240, M::SNTP},
       .tvst_dict = onePair({0}, {1, 5})},
      {.class_name = "Kinora", .model = "Kinora", .base = kEth,
       .modules = {M::DataLogger, M::MCX514, M::Network, M::SNTP},
       .motion = MotionData{.motion_dict = onePair({0}, {1, 5})}},
      {.class_name = "TavraA2", .model = "Tavra-A2", .base = kEth,
       .modules = {M::DataLogger, M::Network, M::AI24BitStreaming, M::SNTP},
       .ai = AIData{.ai_dict = onePair({0}, {1, 11}), .ai_max_rate = 10000, .ai_ratio = kRatio24,
                    .ai_num_channels = kChannels, .ai_variable = false}},
      {.class_name = "TavraA", .model = "Tavra-A", .base = kEth,
       .modules = {M::DataLogger, M::Network, M::AI, M::SNTP},
       .ai = ai16(onePair({0}, {1, 11}), 20000, false)},
      {.class_name = "TavraD", .model = "Tavra-D", .base = kEth,
       .modules = {M::DataLogger, M::Network, M::DIO, M::PWM, M::SNTP},
       .dio = DIOData{.di_dict = samePins({1}, 0, 7), .do_dict = samePins({0}, 0, 5),
                      .dio_num_pins_per_port = kPinsPerPort}},
      {.class_name = "TavraEXD", .model = "Tavra-EX-D", .base = kEth,
       .modules = {M::DataLogger, M::Network, M::DIO, M::SNTP},
       .dio = DIOData{.di_dict = samePins({2, 3}, 0, 7), .do_dict = samePins({0, 1}, 0, 7),
                      .dio_num_pins_per_port = kPinsPerPort}},
      {.class_name = "TavraI", .model = "Tavra-I", .base = kEth,
       .modules = {M::DataLogger, M::Network, M::AI24Bit, M::SNTP},
       .ai24 = AI24Data{.ai_dict = onePair({0}, {1, 11})}},
      {.class_name = "TavraIA", .model = "Tavra-IA", .base = kEth,
       .modules = {M::DataLogger, M::Network, M::AI24Bit, M::SNTP},
       .ai24 = AI24Data{.ai_dict = onePair({0, 1}, {1, 11})}},
      {.class_name = "TavraL", .model = "Tavra-L", .base = kEth,
       .modules = {M::DataLogger, M::Network, M::DIO, M::Relay, M::SNTP},
       .dio = DIOData{.di_dict = samePins({1}, 0, 5), .do_dict = samePins({0}, 0, 5),
                      .dio_num_pins_per_port = kPinsPerPort},
       .relay = RelayData{}},
      {.class_name = "TavraO", .model = "Tavra-O", .base = kEth,
       .modules = {M::DataLogger, M::Network, M::AOStreaming, M::SNTP},
       .ao = AOData{.ao_dict = onePair({0}, {3, 11}), .ao_volt_min = -10, .ao_volt_max = 10, .ao_channel = kChannels,
                    .ao_rate = 15000}},
      {.class_name = "TavraP", .model = "Tavra-P", .base = kEth,
       .modules = {M::DataLogger, M::Network, M::DPOT, M::SNTP}},
      {.class_name = "TavraT", .model = "Tavra-T", .base = kEth,
       .modules = {M::DataLogger, M::Network, M::Thermocouple, M::SNTP},
       .thermal = ThermalData{.thermal_dict = onePair({1}, {3, 11})}},
      // USB
      {.class_name = "PellorK1D", .model = "Pellor-K1-D", .base = kUsb, .modules = kPellorD,
       .dio = sameInOut({{0, range(0, 7)}, {1, range(0, 5)}, {2, {0, 1, 2, 3, 6, 7}}, {3, range(0, 5)}}),
       .uart_dict = kPellorUart, .I2C_dict = kPellorI2C, .SPI_dict = kPellorSPI},
      {.class_name = "PellorK1AD", .model = "Pellor-K1-AD", .base = kUsb, .modules = pellorPlus(M::AI),
       .ai = ai16(onePair({0}, {1, 5}), 16000, true),
       .dio = sameInOut({{0, range(0, 7)}, {1, range(0, 3)}, {2, {6, 7}}, {3, range(0, 5)}}),
       .uart_dict = kPellorUart, .I2C_dict = kPellorI2C, .SPI_dict = kPellorSPI2},
      {.class_name = "PellorK1TD", .model = "Pellor-K1-TD", .base = kUsb, .modules = pellorPlus(M::Thermocouple),
       .dio = sameInOut({{0, range(0, 7)}, {1, range(0, 4)}, {2, {6, 7}}, {3, range(0, 5)}}),
       .uart_dict = kPellorUart, .I2C_dict = kPellorI2C, .SPI_dict = kPellorSPI2,
       .thermal = ThermalData{.thermal_dict = kPellorThermal}},
      {.class_name = "PellorK1CD", .model = "Pellor-K1-CD", .base = kUsb, .modules = pellorPlus(M::CAN),
       .dio = sameInOut({{0, range(0, 7)}, {1, range(0, 3)}, {2, {6, 7}}, {3, range(0, 5)}}),
       .uart_dict = kPellorUart, .I2C_dict = kPellorI2C, .SPI_dict = kPellorSPI2,
       .can_dict = PairMap{{1, {{1, 4}, {1, 5}, {2, 0}, {2, 1}, {2, 2}, {2, 3}}}}},
      {.class_name = "PellorK1RD", .model = "Pellor-K1-RD", .base = kUsb, .modules = pellorPlus(M::ThermalResistance),
       .dio = sameInOut({{0, range(0, 7)}, {1, range(0, 4)}, {2, {6, 7}}, {3, range(0, 5)}}),
       .uart_dict = kPellorUart, .I2C_dict = kPellorI2C, .SPI_dict = kPellorSPI2,
       .thermal = ThermalData{.thermal_dict = kPellorThermal}},
      {.class_name = "PellorK1DSNK", .model = "Pellor-K1-D-SNK", .base = kUsb,
       .modules = {M::DataLogger, M::DIO, M::PWM, M::Counter, M::Encoder},
       .dio = DIOData{.di_dict = {{0, range(0, 7)}, {1, range(0, 5)}}, .do_dict = {{2, range(0, 7)}, {3, range(0, 3)}},
                      .dio_num_pins_per_port = kPinsPerPort}},
      {.class_name = "PellorK1AOD", .model = "Pellor-K1-AOD", .base = kUsb,
       .modules = {M::DataLogger, M::UART, M::I2C, M::AI, M::AOStreaming, M::DIO, M::PWM, M::Counter, M::Encoder},
       .ai = ai16(onePair({0}, {1, 5}), 16000, true),
       .ao = AOData{.ao_dict = onePair({0}, {1, 4}), .ao_volt_min = 0, .ao_volt_max = 5, .ao_channel = kChannels,
                    .ao_rate = 16000},
       .dio = sameInOut({{0, range(0, 7)}, {1, range(0, 3)}, {2, {6, 7}}, {3, {0, 1}}}),
       .uart_dict = kPellorUart, .I2C_dict = kPellorI2C},
      // Not products in the strict sense: a plain class and the discovery handle.
      {.class_name = "KORULite", .model = "Koru-Lite", .base = DeviceBase::None},
      {.class_name = "DeviceFinder", .model = "Device finder", .base = DeviceBase::Broadcast,
       .modules = {M::Broadcast}},
  };
}

}  // namespace zelvo::catalogue
