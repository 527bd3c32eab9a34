// A counter or encoder reading as Python sees it: the list [position, frequency].
#pragma once

#include "binding/pyconv.hpp"
#include "zelvo/dio/timer_wire.hpp"

namespace zelvo::py {

template <>
struct Result<PulseReading> {
  static constexpr const char* pyName = "list[int | float]";
  static nb::object to(const PulseReading& r) {
    nb::list out;
    out.append(nb::int_(r.position));
    out.append(nb::float_(r.frequency));
    return out;
  }
};

}  // namespace zelvo::py
