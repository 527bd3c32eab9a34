// Where the driver also looks for libusb-1.0: inside the Python package `libusb_package` (a wheel
// that carries the library), when it is installed. Looked up once, when the module is imported,
// with importlib's find_spec (which locates the package without importing it).
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include <string>
#include <vector>

#include "binding/bindings.hpp"
#include "binding/errors.hpp"
#include "zelvo/core/usb_client.hpp"

namespace nb = nanobind;

namespace zelvo::py {
namespace {

constexpr const char* kLibusbPackage = "libusb_package";
constexpr const char* kPackagedLibrary = "libusb-1.0.so";

std::vector<std::string> packagedLibraries() {
  std::vector<std::string> out;
  try {
    nb::object spec = nb::module_::import_("importlib.util").attr("find_spec")(kLibusbPackage);
    if (spec.is_none()) return out;
    nb::object dirs = spec.attr("submodule_search_locations");
    if (dirs.is_none()) return out;
    for (nb::handle dir : dirs) out.push_back(nb::cast<std::string>(nb::str(dir)) + "/" + kPackagedLibrary);
  } catch (const nb::python_error&) {
    // A broken installation of the package is not ours to report; the other places still count.
  }
  return out;
}

}  // namespace

void bindUsbLibrarySearch(nb::module_& m) {
  setLibusbCandidates(packagedLibraries());
  m.def(
      "_libusb_path", [] { return libusbPath(); }, nb::call_guard<Unlocked>(),
      "The libusb-1.0 file the driver uses for USB ('' when there is none), found as connect would.");
}

}  // namespace zelvo::py
