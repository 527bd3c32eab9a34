#include "binding/awaitable.hpp"
#include "binding/bindings.hpp"
#include "binding/bus_values.hpp"
#include "binding/interpreter.hpp"
#include "zelvo/system/system_module.hpp"

namespace nb = nanobind;

NB_MODULE(_core, m) {
  m.doc() = "pyzelvo core: the C++ driver and the device emulator";
  m.attr("__version__") = zelvo::kLibraryVersion;  // the package's version, from pyproject.toml
  // Devices may still be alive when the interpreter ends (they are closed by the exit hook, but
  // objects referenced from module globals are not collected); that is not a leak to report.
  nb::set_leak_warnings(false);
  zelvo::py::bindInterpreter(m);
  zelvo::py::bindErrors(m);
  zelvo::py::bindHelpers(m);
  zelvo::py::bindAwaitable(m);
  zelvo::py::bindClients(m);
  zelvo::py::bindUsbLibrarySearch(m);
  zelvo::py::bindDevices(m);
  zelvo::py::bindBusValues(m);
  zelvo::py::bindProducts(m);
  zelvo::py::bindSim(m);
}
