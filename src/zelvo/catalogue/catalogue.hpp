// The product catalogue: for every product class its device base, model text, modules and the
// per-model construction data (pin maps, rates, ratios, channel counts), plus the model
// differences the modules act on, as fields. Everything above reads it: the modules receive their
// slice of an entry, the product classes compose them, the binding exports the data Python sees
// and the emulator builds each emulated device from the same entry.
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
#define ZELVO_MODULE(Id, Name, Data, Library, Binder, Firmware) Id,
#include "zelvo/catalogue/module_list.def"
#undef ZELVO_MODULE
};

// The module's class name ("SystemModule", "DataLogger", "AIModule", ...).
const char* moduleClassName(ModuleId m);
std::span<const ModuleId> allModules();

// Port -> pin indices.
using PinMap = std::map<int, std::vector<int>>;
// Port -> pin references (pairs whose meaning belongs to the module that reads them).
using PairMap = std::map<int, std::vector<std::pair<int, int>>>;

// The year the device clock counts from: it reports (and takes) year - kClockYearBase.
inline constexpr int kClockYearBase = 1900;

// What every device's system module needs to know of its model.
struct SystemData {
  int rtc_year_base = kClockYearBase;  // the year the clock reports from (2000 on the Wi-Fi models)
  bool slots = false;                  // modules sit in numbered slots (the modular controller)
};

// How AI_setSamplingRate finds the highest rate it accepts.
enum class AIRateLimit {
  None,                // any positive rate
  MaxRate,             // ai_max_rate
  PerChannelCount,     // rate_by_count[enabled channels]
  PerChipSelectCount,  // rate_by_count[enabled chip selects of the port]
};

struct AIData {
  PairMap ai_dict;
  double ai_max_rate = 0;
  double ai_ratio = 0;
  int ai_num_channels = 0;
  bool ai_variable = false;
  // Model differences (not construction data: Python does not see them).
  bool samples_24bit = false;            // 3-byte two's complement samples, else 2-byte counts
  bool slot_ports = false;               // the caller names slots; the wire port is slot - 1
  bool chip_selects = false;             // three chip selects per port, one signal queue each
  bool opens_locally = false;            // AI_open / AI_close send nothing
  bool streaming_opens_locally = false;  // AI_openStreaming sends nothing
  bool fixed_channels = false;           // AI_enableChannel is not supported
  bool external_trigger = true;          // trigger modes with the external input are supported
  AIRateLimit rate_limit = AIRateLimit::None;
  std::vector<double> rate_by_count;     // index: the count the limit depends on; 0: no limit
};

// The on-demand 24-bit models.
struct AI24Data {
  PairMap ai_dict;
};

struct AOData {
  PairMap ao_dict;
  double ao_volt_min = 0;
  double ao_volt_max = 0;
  int ao_channel = 0;
  double ao_rate = 0;
  // Model differences (not construction data: Python does not see them).
  bool opens_locally = false;        // AO_open / AO_close send nothing
  bool checks_pins_on_open = false;  // AO_open first checks that the output pins are Idle
  bool slot_ports = false;           // the caller names slots; the wire port is slot - 1
  bool generator_ops_inert = false;  // the generator and buffer service operations send nothing and
                                     // return None (the buffer push excepted)
};

// Thermocouple and resistance-thermometer inputs.
struct ThermalData {
  PairMap thermal_dict;
  // Model differences (not construction data: Python does not see them).
  int channels = 0;                     // channels per port
  bool opens_locally = false;           // Thermal_open / Thermal_close send nothing
  bool status_open_circuit_only = false;  // Thermal_getStatus asks for the fault bits and keeps
                                          // only the open-circuit bit
};

struct DIOData {
  PinMap di_dict;
  PinMap do_dict;
  int dio_num_pins_per_port = 0;
  // Model difference (not construction data): directions wired in hardware, so opening and
  // closing pins does nothing.
  bool fixed_direction = false;
};

// The relay outputs (no construction data).
struct RelayData {
  // Model difference: Relay_open_async reports success (0) on the relay product; other products
  // that mixed the module in would report -1.
  bool async_open_supported = false;
};

// The addresses a network device leaves the factory with (dotted texts); the emulator starts its
// devices with them. Not construction data: no module takes them.
struct NetworkData {
  std::string ip_addr;
  std::string subnet_mask;
  std::string gateway;
};

struct MotionData {
  PairMap motion_dict;  // the motion ports (keys) of the model
  // Model difference (not construction data): the caller names slots; the wire port is slot - 1.
  bool slot_ports = false;
};

struct ProductSpec {
  std::string class_name;  // "TavraA"
  std::string model;       // "Tavra-A"
  DeviceBase base = DeviceBase::None;
  std::vector<ModuleId> modules;  // besides SystemModule, which every device has

  // Each module's slice (module_list.def names the member a module receives).
  SystemData system;
  std::optional<AIData> ai;      // AIModule or AI24BitStreamingModule
  std::optional<AI24Data> ai24;  // AI24BitModule
  std::optional<AOData> ao;      // AOModule or AOStreamingModule
  std::optional<DIOData> dio;
  std::optional<PairMap> uart_dict, I2C_dict, SPI_dict, can_dict;
  std::optional<ThermalData> thermal;  // ThermocoupleModule or ThermalResistanceModule
  std::optional<PairMap> ahrs_dict, tvst_dict;
  std::optional<MotionData> motion;    // MCX514Module
  std::optional<RelayData> relay;
  std::optional<NetworkData> network;  // the products with NetworkModule
  // The slice of a module without construction data.
  static constexpr std::nullopt_t no_data = std::nullopt;

  bool has(ModuleId m) const;
};

// Every product class (the 24 products, KORULite and DeviceFinder), in catalogue order.
const std::vector<ProductSpec>& products();
// Throws InputDataNotInRangeError for an unknown class name.
const ProductSpec& product(std::string_view class_name);
const ProductSpec* findProduct(std::string_view class_name);

// Class name -> model text of every product class.
std::map<std::string, std::string> labelDict();

// The pin-reference maps of a product (analog, bus, thermal, motion, ...), those it has.
std::vector<const PairMap*> pinReferenceMaps(const ProductSpec& p);

// Digital pins the model's DIO maps name on each device port (DI and DO maps merged), the ports of
// every pin-reference map, and the pin count per port; the basis of the pin-mode table a device
// reports.
struct PortLayout {
  int port;
  int num_pins;
};
std::vector<PortLayout> portLayout(const ProductSpec& p);

}  // namespace zelvo
