// The record views of the motion modules, their conversion tables and the chips' constants.
#include "binding/motion_views.hpp"

#include <nanobind/stl/function.h>
#include <nanobind/stl/string.h>

#include <cmath>
#include <string>

#include "binding/errors.hpp"
#include "binding/pyconv.hpp"
#include "zelvo/motion/mcx514_registers.hpp"
#include "zelvo/motion/tmc5240_registers.hpp"

namespace zelvo::py {
namespace {

// Integers a setting can hold exactly.
constexpr double kLargestExact = 9007199254740992.0;  // 2^53

template <class T, class Get>
auto read(const RecordView<T>& v, Get get) {
  decltype(get(std::declval<T&>())) out{};
  v.with([&](T& r) { out = get(r); });
  return out;
}

Setting settingOf(const std::string& key) {
  if (const auto s = findSetting(key)) return *s;
  throw nb::key_error(key.c_str());
}

nb::object settingToPy(Setting s, double v) {
  if (settingInfo(s).text == SettingText::Real) return nb::float_(v);
  return nb::int_(static_cast<std::int64_t>(v));
}

double settingFromPy(Setting s, nb::handle value) {
  const char* key = settingInfo(s).key;
  if (settingInfo(s).text == SettingText::Real) return Arg<double>::from(value, key);
  const std::int64_t v = Arg<std::int64_t>::from(value, key);
  if (std::fabs(static_cast<double>(v)) >= kLargestExact)
    throw Error(Err::InputDataNotInRangeError, std::string(key) + " does not fit 53 bits.");
  return static_cast<double>(v);
}

MotionSettings settingsOf(const AxisView& v) {
  MotionSettings out;
  v.with([&](MotionAxis& a) { out = a.motion_dict; });
  return out;
}

nb::dict settingsDict(const MotionSettings& s) {
  nb::dict d;
  for (std::size_t i = 0; i < kSettingCount; ++i) {
    const auto setting = static_cast<Setting>(i);
    d[settingInfo(setting).key] = settingToPy(setting, s.value(setting));
  }
  return d;
}

struct SettingsView {
  AxisView axis;
};

void bindSettings(nb::module_& m) {
  nb::class_<SettingsView> cls(m, "MotionSettings",
                               "The configuration of one axis (MotionAxis.motion_dict): a mapping of the 22 setting\n"
                               "names ('Stepper Output', 'Home Enable', ...) to their values, live: what operations\n"
                               "and Motion_loadCfgFile store shows here, and values set here are what\n"
                               "_Motion_sendAllConfiguration and Motion_saveCfgFile use. Keys cannot be added or\n"
                               "removed.");
  cls.def("__getitem__", [](const SettingsView& v, const std::string& key) {
       const Setting s = settingOf(key);
       return settingToPy(s, settingsOf(v.axis).value(s));
     })
      .def("__setitem__",
           [](SettingsView& v, const std::string& key, nb::handle value) {
             const Setting s = settingOf(key);
             const double x = settingFromPy(s, value);
             v.axis.with([&](MotionAxis& a) { a.motion_dict.set(s, x); });
           })
      .def("__delitem__",
           [](SettingsView&, const std::string&) { throw nb::type_error("the settings of an axis cannot be removed"); })
      .def("__len__", [](const SettingsView&) { return kSettingCount; })
      .def("__contains__", [](const SettingsView&, nb::handle key) {
        return nb::isinstance<nb::str>(key) && findSetting(nb::cast<std::string>(key)).has_value();
      })
      .def("__iter__", [](const SettingsView& v) { return nb::iter(settingsDict(settingsOf(v.axis))); })
      .def("keys", [](const SettingsView& v) { return settingsDict(settingsOf(v.axis)).keys(); })
      .def("values", [](const SettingsView& v) { return settingsDict(settingsOf(v.axis)).values(); })
      .def("items", [](const SettingsView& v) { return settingsDict(settingsOf(v.axis)).items(); })
      .def(
          "get",
          [](const SettingsView& v, const std::string& key, nb::object fallback) -> nb::object {
            const auto s = findSetting(key);
            return s ? settingToPy(*s, settingsOf(v.axis).value(*s)) : fallback;
          },
          nb::arg("key"), nb::arg("default") = nb::none())
      .def("copy", [](const SettingsView& v) { return settingsDict(settingsOf(v.axis)); }, "A plain dict of the values now.")
      .def("__eq__",
           [](const SettingsView& v, nb::handle other) {
             return settingsDict(settingsOf(v.axis)).equal(nb::borrow(other));
           })
      .def("__repr__", [](const SettingsView& v) { return nb::repr(settingsDict(settingsOf(v.axis))); });
  nb::module_::import_("collections.abc").attr("MutableMapping").attr("register")(cls);
}

#define ZELVO_BIND_FIELD(name, initial, meaning)                                                         \
  cls.def_prop_rw(                                                                                       \
      #name, [](const View& v) { return read(v, [](const auto& r) { return r.name; }); },               \
      [](View& v, nb::handle value) {                                                                    \
        const std::int64_t x = Arg<std::int64_t>::from(value, #name);                                   \
        v.with([&](auto& r) { r.name = x; });                                                            \
      },                                                                                                 \
      nb::for_setter(nb::sig("def " #name "(self, value: int, /) -> None")), meaning " (initially " #initial ").");

void bindAxis(nb::module_& m) {
  using View = RecordView<MotionAxis>;
  nb::class_<View> cls(m, "MotionAxis",
                       "The settings an axis keeps between operations (dev.axis_1 ... dev.axis_4, or dev.axis):\n"
                       "move parameters the start operations use, and motion_dict, the configuration the file\n"
                       "stores. Live: reading shows what operations stored; setting changes what later\n"
                       "operations use.");
  ZELVO_MOTION_AXIS_FIELDS(ZELVO_BIND_FIELD)
  cls.def_prop_ro(
         "motion_dict",
         [](const View& v) { return SettingsView{v}; },
         "The axis configuration (MotionSettings), as the configuration file stores it.")
      .def("__repr__", [](const View& v) {
        const std::int64_t accel = read(v, [](const MotionAxis& a) { return a.acceleration; });
        const std::int64_t velocity = read(v, [](const MotionAxis& a) { return a.velocity; });
        const std::int64_t mode = read(v, [](const MotionAxis& a) { return a.operation_mode; });
        return "<MotionAxis operation_mode=" + std::to_string(mode) + " velocity=" + std::to_string(velocity) +
               " acceleration=" + std::to_string(accel) + ">";
      });
}

template <class T>
void bindInterpolation(nb::module_& m, const char* name, const char* doc) {
  using View = RecordView<T>;
  nb::class_<View> cls(m, name, doc);
  if constexpr (std::is_same_v<T, MotionLinearInterpolation>) {
    ZELVO_LINEAR_INTERPOLATION_FIELDS(ZELVO_BIND_FIELD)
  } else if constexpr (std::is_same_v<T, MotionCircularInterpolation>) {
    ZELVO_CIRCULAR_INTERPOLATION_FIELDS(ZELVO_BIND_FIELD)
  } else {
    ZELVO_HELICAL_INTERPOLATION_FIELDS(ZELVO_BIND_FIELD)
  }
  cls.def("__repr__", [name](const View& v) {
    nb::dict d;
#define ZELVO_REPR_FIELD(field, initial, meaning) d[#field] = read(v, [](const T& r) { return r.field; });
    if constexpr (std::is_same_v<T, MotionLinearInterpolation>) {
      ZELVO_LINEAR_INTERPOLATION_FIELDS(ZELVO_REPR_FIELD)
    } else if constexpr (std::is_same_v<T, MotionCircularInterpolation>) {
      ZELVO_CIRCULAR_INTERPOLATION_FIELDS(ZELVO_REPR_FIELD)
    } else {
      ZELVO_HELICAL_INTERPOLATION_FIELDS(ZELVO_REPR_FIELD)
    }
#undef ZELVO_REPR_FIELD
    return "<" + std::string(name) + " " + nb::cast<std::string>(nb::repr(d)) + ">";
  });
}

#undef ZELVO_BIND_FIELD

struct IniTables {};

nb::dict iniTable(bool inverse) {
  nb::dict out;
  for (const SettingInfo& info : settingInfos()) {
    const auto* texts = settingTexts(info.text);
    if (!texts) continue;
    nb::dict entry;
    for (int v = 0; v < 2; ++v) {
      if (inverse)
        entry[(*texts)[v]] = v;
      else
        entry[nb::int_(v)] = (*texts)[v];
    }
    out[info.key] = entry;
  }
  return out;
}

void bindIniTables(nb::module_& m) {
  nb::class_<IniTables>(m, "MotionInifile",
                        "The configuration file's conversion tables between stored values and texts (dev.motion_ini).")
      .def(nb::init<>())
      .def_prop_ro("ini_out_dict", [](const IniTables&) { return iniTable(false); },
                   "Setting -> {value: text} (\"Approach Velocity Percent\" and \"Offset Position\" have none).")
      .def_prop_ro("ini_in_dict", [](const IniTables&) { return iniTable(true); }, "Setting -> {text: value}.");
}

// A configuration file the file system refuses raises OSError (PermissionError, ... by its error
// number) with the path.
void translateIniErrors(const std::exception_ptr& p, void*) {
  try {
    std::rethrow_exception(p);
  } catch (const IniFileWriteError& e) {
    nb::object path = nb::steal(
        PyUnicode_DecodeFSDefaultAndSize(e.path().data(), static_cast<Py_ssize_t>(e.path().size())));
    if (!path.is_valid()) return;
    nb::object exc =
        nb::steal(PyObject_CallFunction(PyExc_OSError, "isO", e.code().value(), e.what(), path.ptr()));
    if (exc.is_valid()) PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.ptr())), exc.ptr());
  }
}

void bindConstants(nb::module_& m) {
  for (const auto& r : mcx514::kRegisterNames) m.attr(r.name) = r.code;
  for (const auto& r : tmc5240::kRegisterNames) m.attr(r.name) = r.address;
}

}  // namespace

nb::object motionIniTables() { return nb::cast(IniTables{}); }

nb::dict iniDocumentToPy(const IniDocument& doc) {
  nb::dict out;
  for (const auto& [section, options] : doc.sections()) {
    nb::dict d;
    for (const auto& [name, value] : options) d[name.c_str()] = value;
    out[section.c_str()] = d;
  }
  return out;
}

void bindIniConversions(nb::handle cls) {
  nb::setattr(
      cls, "_Motion_INI_convertIntToString",
      nb::cpp_function(
          [](nb::handle, nb::handle key, nb::handle value) -> nb::object {
            const Setting s = settingOf(Arg<std::string>::from(key, "key"));
            const SettingText form = settingInfo(s).text;
            if (form == SettingText::Real || form == SettingText::Integer) return nb::borrow(value);
            const std::int64_t v = Arg<std::int64_t>::from(value, "value");
            if (v != 0 && v != 1) throw nb::key_error(std::to_string(v).c_str());
            return nb::str((*settingTexts(form))[v]);
          },
          nb::scope(cls), nb::name("_Motion_INI_convertIntToString"), nb::is_method(), nb::arg("key").none(),
          nb::arg("value").none(), nb::sig("def _Motion_INI_convertIntToString(self, key: str, value: int | float) -> str | int | float"),
          "The text the configuration file holds for a value (the value itself for 'Approach Velocity Percent'\n"
          "and 'Offset Position'); KeyError for an unknown setting or value."));
  nb::setattr(
      cls, "_Motion_INI_convertStringToInt",
      nb::cpp_function(
          [](nb::handle, nb::handle key, nb::handle label) {
            const Setting s = settingOf(Arg<std::string>::from(key, "key"));
            return settingToPy(s, settingFromText(s, Arg<std::string>::from(label, "label")));
          },
          nb::scope(cls), nb::name("_Motion_INI_convertStringToInt"), nb::is_method(), nb::arg("key").none(),
          nb::arg("label").none(), nb::sig("def _Motion_INI_convertStringToInt(self, key: str, label: str) -> int | float"),
          "The value of a configuration file's text: a real for 'Approach Velocity Percent', an integer\n"
          "otherwise; InputDataNotInRangeError for a text the setting does not know."));
}

void bindMotionShared(nb::module_& m) {
  bindSettings(m);
  bindAxis(m);
  bindInterpolation<MotionLinearInterpolation>(m, "MotionLinearInterpolation",
                                               "The linear interpolation set up last (dev.linear_interpo); live.");
  bindInterpolation<MotionCircularInterpolation>(m, "MotionCircularInterpolation",
                                                 "The circular interpolation set up last (dev.circular_interpo); live.");
  bindInterpolation<MotionHelicalInterpolation>(m, "MotionHelicalInterpolation",
                                                "The helical interpolation set up last (dev.helical_interpo); live.");
  bindIniTables(m);
  bindConstants(m);
  nb::register_exception_translator(&translateIniErrors);
}

}  // namespace zelvo::py
