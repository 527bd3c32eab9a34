// Emulator controls grouped by peripheral (dev.ao, dev.thermal, dev.ahrs, dev.wifi): each group
// keeps its emulated device alive and finds its peripheral at every call, so a control of a
// peripheral the product lacks raises ValueError when it is used.
#pragma once

#include <nanobind/nanobind.h>

#include <stdexcept>
#include <string>

#include "binding/property.hpp"
#include "zelvo/sim/emulator.hpp"
#include "zelvo/sim/usb_device.hpp"

namespace zelvo::py {

namespace nb = nanobind;

// The controls of peripheral F on one emulated device.
template <class F>
struct PeripheralControls {
  nb::object device;  // keeps the emulated device alive
  sim::Firmware* fw = nullptr;
  std::string class_name;
  const char* what = "";  // "analog outputs", ...

  F& get() const {
    F* f = fw->findModule<F>();
    if (!f) throw std::invalid_argument(class_name + " has no " + what);
    return *f;
  }
};

// Adds the read-only property `name` that gives the group G (a PeripheralControls) to both emulated
// device classes.
template <class G>
void addControlGroup(nb::handle tcp, nb::handle usb, const char* name, const char* what, const char* doc) {
  auto property = [what]<class D>(D*) {
    return nb::cpp_function(
        [what](nb::handle self) {
          D& d = nb::cast<D&>(self);
          return G{nb::borrow(self), &d.firmware(), d.product().class_name, what};
        },
        nb::is_method());
  };
  setProperty(tcp, name, property(static_cast<sim::EmulatedDevice*>(nullptr)), nb::none(), doc);
  setProperty(usb, name, property(static_cast<sim::UsbEmulatedDevice*>(nullptr)), nb::none(), doc);
}

// Registration of each group (one call each in sim.cpp): the class and the device property.
void bindAoControls(nb::module_& s, nb::handle tcp, nb::handle usb);
void bindThermalControls(nb::module_& s, nb::handle tcp, nb::handle usb);
void bindAhrsControls(nb::module_& s, nb::handle tcp, nb::handle usb);
void bindWifiControls(nb::module_& s, nb::handle tcp, nb::handle usb);

}  // namespace zelvo::py
