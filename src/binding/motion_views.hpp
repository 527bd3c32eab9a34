// Python views of the motion modules' records: dev.axis_1 (a MotionAxis), its motion_dict (a
// mutable mapping of the 22 settings), the interpolation records and dev.motion_ini. A view reads
// and writes the module's record under the record's lock, so Python sees the values operations
// store and operations see what Python sets; it keeps its device alive.
#pragma once

#include <nanobind/nanobind.h>

#include <functional>

#include "zelvo/motion/motion_ini.hpp"
#include "zelvo/motion/motion_records.hpp"

namespace zelvo::py {

namespace nb = nanobind;

// The configuration file Motion_openCfgFile names when given none.
inline constexpr const char* kDefaultIniFile = "test.ini";

// A view of one record of type T.
template <class T>
struct RecordView {
  nb::object device;
  // Runs a function on the record, under its lock.
  std::function<void(const std::function<void(T&)>&)> with;
};
using AxisView = RecordView<MotionAxis>;

// A view of a record held in a module's Guarded<Store>, reached by `pick`.
template <class T, class Store, class Pick>
RecordView<T> recordView(nb::handle device, Guarded<Store>& store, Pick pick) {
  return RecordView<T>{nb::borrow(device), [&store, pick](const std::function<void(T&)>& f) {
                         store.with([&](Store& s) { f(pick(s)); });
                       }};
}

// The classes, the register constants of both motion chips (MOTION_05_DV, TVST_20_RAMPMODE, ...)
// as module constants.
void bindMotionShared(nb::module_& m);

// dev.motion_ini: the file's conversion tables.
nb::object motionIniTables();

// _Motion_INI_convertIntToString / _Motion_INI_convertStringToInt on a product class.
void bindIniConversions(nb::handle cls);

// The INI document as {section: {option: value}}.
nb::dict iniDocumentToPy(const IniDocument& doc);

}  // namespace zelvo::py
