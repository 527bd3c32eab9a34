#include "binding/bindings.hpp"

namespace nb = nanobind;

NB_MODULE(_core, m) {
  m.doc() = "pyzelvo core: the C++ driver and device emulator";
  zelvo::py::bindSim(m);
}
