// Measurement: the multimeter reading record as a Python value class. The reading is a
// decimal.Decimal: the number the display spells, scaled exactly by the unit's prefix; an overload
// is Decimal('Infinity') (signed like the display).
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include "binding/bus_values.hpp"
#include "binding/pyconv.hpp"
#include "zelvo/bus/measurement.hpp"

namespace nb = nanobind;

namespace zelvo::py {
namespace {

struct Measurement {
  MeasurementRecord r;
  nb::object display_decimal;
  nb::object value;
};

nb::object decimalOf(const MeasurementRecord& r) {
  const nb::object decimal = nb::module_::import_("decimal").attr("Decimal");
  if (r.reading == MeasurementRecord::Reading::Overload) return decimal(r.negative ? "-Infinity" : "Infinity");
  return decimal(r.number.c_str());
}

nb::object optionalText(const std::optional<std::string>& s) { return s ? nb::object(nb::str(s->c_str())) : nb::none(); }

Measurement make(nb::handle b) {
  if (!PyBytes_Check(b.ptr()) && !PyByteArray_Check(b.ptr())) wrongType("b", "bytes", b);
  const char* data = PyBytes_Check(b.ptr()) ? PyBytes_AsString(b.ptr()) : PyByteArray_AsString(b.ptr());
  const auto size = static_cast<std::size_t>(PyObject_Size(b.ptr()));
  Measurement m{decodeMeasurement(ByteView(reinterpret_cast<const Byte*>(data), size)), {}, {}};
  m.display_decimal = decimalOf(m.r);
  m.value = m.display_decimal;
  if (m.r.exponent != 0) {
    const nb::object decimal = nb::module_::import_("decimal").attr("Decimal");
    m.value = m.display_decimal.attr("__mul__")(decimal(10).attr("__pow__")(m.r.exponent));
  }
  return m;
}

// "label=value\n" per field, in the record's text-form order (labels exactly as they have always
// been written, isBarPol not among them).
std::string text(const Measurement& m) {
  const auto& r = m.r;
  const std::pair<const char*, nb::object> fields[] = {
      {"mode=", nb::str(r.mode.c_str())},
      {"range=", nb::str(r.range.c_str())},
      {"display=", nb::str(r.display.c_str())},
      {"display_decimal=", m.display_decimal},
      {"display_unit=", optionalText(r.display_unit)},
      {"overload=", nb::bool_(r.overload)},
      {"value=", m.value},
      {"unit=", optionalText(r.unit)},
      {"isMax=", nb::bool_(r.max)},
      {"ismin=", nb::bool_(r.min)},
      {"isHold=", nb::bool_(r.hold)},
      {"isRel=", nb::bool_(r.rel)},
      {"isAuto=", nb::bool_(r.auto_range)},
      {"hasBatteryWarning=", nb::bool_(r.battery)},
      {"hashasHVWarning=", nb::bool_(r.hvwarning)},
      {"isDC=", nb::bool_(r.dc)},
      {"isMaxPeak=", nb::bool_(r.peak_max)},
      {"isMinPeak=", nb::bool_(r.peak_min)},
  };
  std::string out;
  for (const auto& [label, value] : fields) out += std::string(label) + nb::str(value).c_str() + "\n";
  return out;
}

template <bool MeasurementRecord::*Flag>
bool flag(const Measurement& m) {
  return m.r.*Flag;
}

}  // namespace

void bindMeasurement(nb::module_& m) {
  using R = MeasurementRecord;
  nb::class_<Measurement>(m, "Measurement",
                          "One reading frame of a handheld multimeter, decoded: mode, range, display, value (a\n"
                          "decimal.Decimal scaled by the unit's prefix) and unit, bar-graph position and flags.\n"
                          "Measurement(b) takes the frame's bytes; a malformed frame raises InputDataNotInRangeError.")
      .def("__init__", [](Measurement* self, nb::handle b) { new (self) Measurement(make(b)); }, nb::arg("b").none(),
           nb::sig("def __init__(self, b: bytes) -> None"))
      .def_prop_ro("binary", [](const Measurement& x) {
        return nb::bytes(reinterpret_cast<const char*>(x.r.binary.data()), x.r.binary.size());
      }, "The frame's bytes.")
      .def_prop_ro("mode", [](const Measurement& x) { return x.r.mode; }, "The measuring function, e.g. 'OHM'.")
      .def_prop_ro("range", [](const Measurement& x) { return x.r.range; }, "The range: one character '0'..'7'.")
      .def_prop_ro("display", [](const Measurement& x) { return x.r.display; }, "The display text without spaces.")
      .def_prop_ro("overload", [](const Measurement& x) { return x.r.overload; }, "True when the display shows an overload.")
      .def_prop_ro("display_decimal", [](const Measurement& x) { return x.display_decimal; },
                   "The number the display spells (Decimal; signed Infinity for an overload, the bar level for NCV).")
      .def_prop_ro("display_unit", [](const Measurement& x) { return optionalText(x.r.display_unit); },
                   "The unit the display shows, with its prefix (None where the range has no unit).")
      .def_prop_ro("value", [](const Measurement& x) { return x.value; }, "The reading in the unit of `unit`.")
      .def_prop_ro("unit", [](const Measurement& x) { return optionalText(x.r.unit); },
                   "The unit without its prefix (None where the range has no unit).")
      .def_prop_ro("progress", [](const Measurement& x) { return x.r.progres; }, "The bar-graph position.")
      .def_prop_ro("isMax", &flag<&R::max>)
      .def_prop_ro("isMin", &flag<&R::min>)
      .def_prop_ro("isHold", &flag<&R::hold>)
      .def_prop_ro("isRel", &flag<&R::rel>)
      .def_prop_ro("isAuto", &flag<&R::auto_range>)
      .def_prop_ro("hasBatteryWarning", &flag<&R::battery>)
      .def_prop_ro("hasHVWarning", &flag<&R::hvwarning>)
      .def_prop_ro("isDC", &flag<&R::dc>)
      .def_prop_ro("isMaxPeak", &flag<&R::peak_max>)
      .def_prop_ro("isMinPeak", &flag<&R::peak_min>)
      .def_prop_ro("isBarPol", &flag<&R::bar_pol>)
      .def("__str__", &text)
      .def("__repr__", [](const Measurement& x) {
        return "Measurement(" + std::string(nb::repr(nb::bytes(reinterpret_cast<const char*>(x.r.binary.data()),
                                                                 x.r.binary.size()))
                                                 .c_str()) +
               ")";
      });
  m.attr("GET_MEASUREMENT") = GET_MEASUREMENT;
}

}  // namespace zelvo::py
