// The product catalogue: for every product class its device base, model text, modules and the
// per-model construction data (pin maps, rates, ratios, channel counts). Read by the product
// classes, the binding and the emulator (which builds each emulated device's pin-mode table from
// the same maps).
#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zelvo {

enum class DeviceBase { USB, ETH, Wifi, Broadcast, None };

// Module classes a product mixes in (each in its blocking and awaitable form).
enum class ModuleId {
  System,
  DataLogger,
  SystemAnalog,
  Network,
  Wifi,
  AI,
  AI24Bit,
  AI24BitStreaming,
  AO,
  AOStreaming,
  DIO,
  PWM,
  Counter,
  Encoder,
  UART,
  I2C,
  SPI,
  CAN,
  Thermocouple,
  ThermalResistance,
  Relay,
  DPOT,
  AHRS,
  SDCard,
  SNTP,
  MCX514,
  TMC5240,
  Broadcast,
};

// The module's class name ("SystemModule", "DataLogger", "AIModule", ...).
const char* moduleClassName(ModuleId m);
std::span<const ModuleId> allModules();

// Port -> pin indices.
using PinMap = std::map<int, std::vector<int>>;
// Port -> pin references (pairs whose meaning belongs to the module that reads them).
using PairMap = std::map<int, std::vector<std::pair<int, int>>>;

struct AIData {
  PairMap ai_dict;
  double ai_max_rate = 0;
  double ai_ratio = 0;
  int ai_num_channels = 0;
  bool ai_variable = false;
};

struct AOData {
  PairMap ao_dict;
  double ao_volt_min = 0;
  double ao_volt_max = 0;
  int ao_channel = 0;
  double ao_rate = 0;
};

struct DIOData {
  PinMap di_dict;
  PinMap do_dict;
  int dio_num_pins_per_port = 0;
};

struct ProductSpec {
  std::string class_name;  // "TavraA"
  std::string model;       // "Tavra-A"
  DeviceBase base = DeviceBase::None;
  std::vector<ModuleId> modules;  // besides SystemModule, which every product has

  std::optional<AIData> ai;          // AIModule or AI24BitStreamingModule
  std::optional<PairMap> ai24_dict;  // AI24BitModule
  std::optional<AOData> ao;          // AOModule or AOStreamingModule
  std::optional<DIOData> dio;
  std::optional<PairMap> motion_dict, tvst_dict, thermal_dict, ahrs_dict;
  std::optional<PairMap> uart_dict, I2C_dict, SPI_dict, can_dict;

  bool has(ModuleId m) const;
};

// Every product class (the 24 products, KORULite and DeviceFinder), in catalogue order.
const std::vector<ProductSpec>& products();
// Throws InputDataNotInRangeError for an unknown class name.
const ProductSpec& product(std::string_view class_name);
const ProductSpec* findProduct(std::string_view class_name);

// Class name -> model text of every product class.
std::map<std::string, std::string> labelDict();

// Digital pins the model's DIO maps name on each device port (DI and DO maps merged), the ports of
// every pin-reference map, and the pin count per port; the basis of the pin-mode table a device
// reports.
struct PortLayout {
  int port;
  int num_pins;
};
std::vector<PortLayout> portLayout(const ProductSpec& p);

}  // namespace zelvo
