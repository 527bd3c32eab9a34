// The product classes: each a subclass of its device base with the operations of its modules and
// its construction data as attributes.
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include <map>
#include <optional>
#include <set>
#include <string_view>

#include "binding/bindings.hpp"
#include "binding/errors.hpp"
#include "binding/modules.hpp"
#include "binding/property.hpp"
#include "binding/pyconv.hpp"
#include "zelvo/products/product.hpp"

namespace zelvo::py {
namespace {

// Koru-Lite: a plain class without modules or connection.
struct KORULite {};

nb::dict pinMapToPy(const PinMap& m) {
  nb::dict d;
  for (const auto& [port, pins] : m) d[nb::int_(port)] = toPy(pins);
  return d;
}

nb::dict pairMapToPy(const PairMap& m) {
  nb::dict d;
  for (const auto& [port, refs] : m) {
    nb::list l;
    for (const auto& [a, b] : refs) l.append(nb::make_tuple(a, b));
    d[nb::int_(port)] = l;
  }
  return d;
}

// The construction data of a slice as {attribute name: value}. A map slice is exported under the
// name of its member; model differences and the system slice are not construction data.
void exportSlice(nb::dict&, const char*, std::nullopt_t) {}
void exportSlice(nb::dict&, const char*, const SystemData&) {}
void exportFields(nb::dict& d, const char* member, const PairMap& m) { d[member] = pairMapToPy(m); }
void exportFields(nb::dict& d, const char*, const AIData& ai) {
  d["ai_dict"] = pairMapToPy(ai.ai_dict);
  d["ai_max_rate"] = ai.ai_max_rate;
  d["ai_ratio"] = ai.ai_ratio;
  d["ai_num_channels"] = ai.ai_num_channels;
  d["ai_variable"] = ai.ai_variable;
}
void exportFields(nb::dict& d, const char*, const AI24Data& ai) { d["ai_dict"] = pairMapToPy(ai.ai_dict); }
void exportFields(nb::dict& d, const char*, const AOData& ao) {
  d["ao_dict"] = pairMapToPy(ao.ao_dict);
  d["ao_volt_min"] = ao.ao_volt_min;
  d["ao_volt_max"] = ao.ao_volt_max;
  d["ao_channel"] = ao.ao_channel;
  d["ao_rate"] = ao.ao_rate;
}
void exportFields(nb::dict&, const char*, const RelayData&) {}
void exportFields(nb::dict& d, const char*, const ThermalData& thermal) {
  d["thermal_dict"] = pairMapToPy(thermal.thermal_dict);
}
void exportFields(nb::dict& d, const char*, const DIOData& dio) {
  d["di_dict"] = pinMapToPy(dio.di_dict);
  d["do_dict"] = pinMapToPy(dio.do_dict);
  d["dio_num_pins_per_port"] = dio.dio_num_pins_per_port;
}
void exportFields(nb::dict& d, const char*, const MotionData& m) { d["motion_dict"] = pairMapToPy(m.motion_dict); }
template <class T>
void exportSlice(nb::dict& d, const char* member, const std::optional<T>& slice) {
  if (slice) exportFields(d, member, *slice);
}

// Which members each module adds (its binder's operations and its construction data), for the API
// reference: the names a module defines on a product class are that module's, whatever their prefix.
std::map<std::string, std::set<std::string>>& moduleMembers() {
  static std::map<std::string, std::set<std::string>> members;
  return members;
}
std::set<std::string> ownNames(nb::handle cls) {
  std::set<std::string> names;
  for (nb::handle key : nb::borrow<nb::object>(cls.attr("__dict__")).attr("keys")()) names.insert(nb::cast<std::string>(key));
  return names;
}
void recordMembers(const char* module, const std::set<std::string>& before, const std::set<std::string>& after) {
  auto& mine = moduleMembers()[module];
  for (const auto& name : after)
    if (!before.contains(name)) mine.insert(name);
}

// The construction data of a product: the slices of the modules it lists.
nb::dict constructionData(const ProductSpec& p) {
  nb::dict d;
#define ZELVO_MODULE(Id, Name, Data, Library, Binder, Firmware) \
  if (p.has(ModuleId::Id)) {                                        \
    nb::dict slice;                                                 \
    exportSlice(slice, #Data, p.Data);                              \
    for (auto [key, value] : slice) {                               \
      d[key] = value;                                               \
      moduleMembers()[Name].insert(nb::cast<std::string>(key));     \
    }                                                               \
  }
#include "zelvo/catalogue/module_list.def"
#undef ZELVO_MODULE
  return d;
}

// Read-only class attributes for the construction data (each access returns a fresh copy, so a
// caller cannot change a model's maps by accident).
void addConstructionData(nb::handle cls, const ProductSpec& p) {
  const nb::object own = cls.attr("__dict__");  // the class's own attributes (a mapping proxy)
  for (auto [name, value] : constructionData(p)) {
    if (PySequence_Contains(own.ptr(), name.ptr()) == 1) continue;  // a module keeps it up to date (e.g. ai_num_channels)
    nb::object v = nb::borrow(value);
    setProperty(cls, nb::cast<std::string>(name).c_str(),
                nb::cpp_function([v](nb::handle) { return nb::module_::import_("copy").attr("deepcopy")(v); },
                                 nb::is_method()),
                nb::none(), nullptr);
  }
}

template <class P, class Base>
void bindProduct(nb::module_& m, const char* name) {
  const ProductSpec& spec = product(name);
  auto cls = nb::class_<P, Base>(m, name, (spec.model + " (" + name + ")").c_str())
                 .def(
                     "__init__",
                     [](P* self, nb::handle verbose) {
                       const bool v = Arg<bool>::from(verbose, "verbose");
                       Unlocked release;
                       new (self) P(v);
                       self->markLive();
                     },
                     nb::arg("verbose").none() = true, nb::sig("def __init__(self, verbose: bool = True) -> None"),
                     "Prints 'Opened handle (<model>)' when verbose.");
#define ZELVO_MODULE(Id, Name, Data, Library, Binder, Firmware) \
  if (spec.has(ModuleId::Id)) {                                     \
    const auto before = ownNames(cls);                              \
    Binder(cls);                                                    \
    recordMembers(Name, before, ownNames(cls));                     \
  }
#include "zelvo/catalogue/module_list.def"
#undef ZELVO_MODULE
  addConstructionData(cls, spec);  // after the modules: their live state wins (see there)
}

}  // namespace

// Modules without members of their own yet.
void bindNothing(nb::handle) {}

void bindProducts(nb::module_& m) {
  bindSignalQueue(m);
  bindMotionShared(m);
#define ZELVO_PRODUCT(Name, Base) bindProduct<Name, Base>(m, #Name);
#include "zelvo/products/product_list.def"
#undef ZELVO_PRODUCT

  nb::class_<KORULite>(m, "KORULite", "Koru-Lite: a plain class without modules.")
      .def(nb::init<>())
      .def("_getDeviceName", [](KORULite&) { return product("KORULite").model; });

  nb::dict labels;
  for (const auto& [cls, model] : labelDict()) labels[cls.c_str()] = model;
  m.attr("_MODEL_TEXTS") = labels;

  nb::dict mods;
  for (const auto& p : products()) {
    nb::list l;
    if (p.has(ModuleId::System)) l.append(moduleClassName(ModuleId::System));
    for (ModuleId id : p.modules) l.append(moduleClassName(id));
    mods[p.class_name.c_str()] = l;
  }
  m.attr("_PRODUCT_MODULES") = mods;
  nb::list all;
  for (ModuleId id : allModules()) all.append(moduleClassName(id));
  m.attr("_MODULE_CLASSES") = all;
  nb::dict members;
  for (const auto& [module, names] : moduleMembers()) {
    nb::list l;
    for (const auto& name : names) l.append(name.c_str());
    members[module.c_str()] = l;
  }
  m.attr("_MODULE_MEMBERS") = members;

  // The modules the library implements (a library class in their row), in list order.
  nb::list implemented;
#define ZELVO_MODULE(Id, Name, Data, Library, Binder, Firmware) \
  if (std::string_view(#Library) != "NoModule") implemented.append(Name);
#include "zelvo/catalogue/module_list.def"
#undef ZELVO_MODULE
  m.attr("_IMPLEMENTED_MODULES") = implemented;
}

}  // namespace zelvo::py
