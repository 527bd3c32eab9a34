// The product classes: each a subclass of its device base with the operations of its modules and
// its construction data as attributes.
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include "binding/bindings.hpp"
#include "binding/errors.hpp"
#include "binding/modules.hpp"
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

// The construction data of a product as {attribute name: value}.
nb::dict constructionData(const ProductSpec& p) {
  nb::dict d;
  if (p.ai) {
    d["ai_dict"] = pairMapToPy(p.ai->ai_dict);
    d["ai_max_rate"] = p.ai->ai_max_rate;
    d["ai_ratio"] = p.ai->ai_ratio;
    d["ai_num_channels"] = p.ai->ai_num_channels;
    d["ai_variable"] = p.ai->ai_variable;
  }
  if (p.ai24) d["ai_dict"] = pairMapToPy(p.ai24->ai_dict);
  if (p.ao) {
    d["ao_dict"] = pairMapToPy(p.ao->ao_dict);
    d["ao_volt_min"] = p.ao->ao_volt_min;
    d["ao_volt_max"] = p.ao->ao_volt_max;
    d["ao_channel"] = p.ao->ao_channel;
    d["ao_rate"] = p.ao->ao_rate;
  }
  if (p.dio) {
    d["di_dict"] = pinMapToPy(p.dio->di_dict);
    d["do_dict"] = pinMapToPy(p.dio->do_dict);
    d["dio_num_pins_per_port"] = p.dio->dio_num_pins_per_port;
  }
  const std::pair<const char*, const std::optional<PairMap>*> maps[] = {
      {"motion_dict", &p.motion_dict}, {"tvst_dict", &p.tvst_dict}, {"thermal_dict", &p.thermal_dict},
      {"ahrs_dict", &p.ahrs_dict},     {"uart_dict", &p.uart_dict}, {"I2C_dict", &p.I2C_dict},
      {"SPI_dict", &p.SPI_dict},       {"can_dict", &p.can_dict},
  };
  for (const auto& [name, map] : maps)
    if (*map) d[name] = pairMapToPy(**map);
  return d;
}

// Read-only class attributes for the construction data (each access returns a fresh copy, so a
// caller cannot change a model's maps by accident).
void addConstructionData(nb::handle cls, const ProductSpec& p) {
  const nb::object own = cls.attr("__dict__");  // the class's own attributes (a mapping proxy)
  for (auto [name, value] : constructionData(p)) {
    if (PySequence_Contains(own.ptr(), name.ptr()) == 1) continue;  // a module keeps it up to date (e.g. ai_num_channels)
    nb::object v = nb::borrow(value);
    nb::setattr(cls, nb::cast<std::string>(name).c_str(),
                nb::handle(reinterpret_cast<PyObject*>(&PyProperty_Type))(
                    nb::cpp_function([v](nb::handle) { return nb::module_::import_("copy").attr("deepcopy")(v); },
                                     nb::is_method())));
  }
}

template <class P, class Base>
void bindProduct(nb::module_& m, const char* name) {
  const ProductSpec& spec = product(name);
  auto cls = nb::class_<P, Base>(m, name, (spec.model + " (" + name + ")").c_str())
                 .def(nb::init<>(), nb::call_guard<Unlocked>());
  using M = ModuleId;
  if (spec.has(M::System)) bindSystemModule(cls);
  if (spec.has(M::DataLogger)) bindDataLogger(cls);
  if (spec.has(M::DIO)) bindDIOModule(cls);
  if (spec.has(M::AI) || spec.has(M::AI24BitStreaming)) bindAIModule(cls);
  if (spec.has(M::AI24Bit)) bindAI24BitModule(cls);
  if (spec.has(M::Broadcast)) bindBroadcastModule(cls);
  addConstructionData(cls, spec);
}

}  // namespace

void bindProducts(nb::module_& m) {
  bindSignalQueue(m);
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
}

}  // namespace zelvo::py
