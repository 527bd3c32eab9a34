// Python forms of what the bus modules return beyond the shared conversions of pyconv.hpp.
#pragma once

#include <utility>
#include <vector>

#include "binding/pyconv.hpp"

namespace zelvo::py {

// A bus port's pins: a list of (device port, pin) tuples. With the map conversion of pyconv.hpp a
// whole pin map becomes {port: [(device port, pin), ...]}, the form of the product attributes.
template <>
struct Result<std::vector<std::pair<int, int>>> {
  static constexpr const char* pyName = "list[tuple[int, int]]";
  static nb::object to(const std::vector<std::pair<int, int>>& pins) {
    nb::list out;
    for (const auto& [port, pin] : pins) out.append(nb::make_tuple(port, pin));
    return out;
  }
};

}  // namespace zelvo::py
