#include "zelvo/catalogue/catalogue.hpp"

#include <algorithm>
#include <array>

#include "zelvo/catalogue/tables.hpp"
#include "zelvo/core/errors.hpp"

namespace zelvo {
namespace {

struct ModuleName {
  ModuleId id;
  const char* name;
};
constexpr std::array kModuleNames = {
#define ZELVO_MODULE(Id, Name, Data, Library, Binder, Firmware) ModuleName{ModuleId::Id, Name},
#include "zelvo/catalogue/module_list.def"
#undef ZELVO_MODULE
};

constexpr std::array kModuleIds = {
#define ZELVO_MODULE(Id, Name, Data, Library, Binder, Firmware) ModuleId::Id,
#include "zelvo/catalogue/module_list.def"
#undef ZELVO_MODULE
};

}  // namespace

const char* moduleClassName(ModuleId m) {
  for (const auto& row : kModuleNames)
    if (row.id == m) return row.name;
  return "";
}

std::span<const ModuleId> allModules() { return kModuleIds; }

bool ProductSpec::has(ModuleId m) const {
  if (m == ModuleId::System) return base != DeviceBase::None && base != DeviceBase::Broadcast;
  return std::find(modules.begin(), modules.end(), m) != modules.end();
}

const std::vector<ProductSpec>& products() {
  static const std::vector<ProductSpec> all = [] {
    std::vector<ProductSpec> v = catalogue::productTable();
    for (ProductSpec& p : v) catalogue::applyModelRules(p);
    return v;
  }();
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

std::vector<const PairMap*> pinReferenceMaps(const ProductSpec& p) {
  std::vector<const PairMap*> out;
  if (p.ai) out.push_back(&p.ai->ai_dict);
  if (p.ai24) out.push_back(&p.ai24->ai_dict);
  if (p.ao) out.push_back(&p.ao->ao_dict);
  if (p.thermal) out.push_back(&p.thermal->thermal_dict);
  if (p.motion) out.push_back(&p.motion->motion_dict);
  for (const auto* m : {&p.uart_dict, &p.I2C_dict, &p.SPI_dict, &p.can_dict, &p.ahrs_dict, &p.tvst_dict})
    if (*m) out.push_back(&**m);
  return out;
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
  for (const PairMap* m : pinReferenceMaps(p))
    for (const auto& [port, refs] : *m)
      for (const auto& [dev_port, pin] : refs) note(dev_port, pin);
  std::vector<PortLayout> out;
  for (const auto& [port, n] : pins) out.push_back({port, n});
  return out;
}

}  // namespace zelvo
