// The value classes of the serial buses (CANFrame, Measurement), registered once in the module.
#pragma once

#include <nanobind/nanobind.h>

namespace zelvo::py {

void bindCanFrame(nanobind::module_& m);
void bindMeasurement(nanobind::module_& m);

inline void bindBusValues(nanobind::module_& m) {
  bindCanFrame(m);
  bindMeasurement(m);
}

}  // namespace zelvo::py
