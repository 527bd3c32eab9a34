// Emulator controls grouped by peripheral (dev.i2c, dev.spi, dev.uart, dev.can): a group object
// keeps its emulated device alive and looks the peripheral up at each call, so a control of a
// peripheral the product lacks raises ValueError when it is used.
#pragma once

#include <nanobind/nanobind.h>

#include <stdexcept>
#include <string>

#include "binding/property.hpp"
#include "zelvo/sim/emulator.hpp"
#include "zelvo/sim/usb_device.hpp"

namespace zelvo::py {

struct SimGroup {
  nanobind::object device;  // keeps the emulated device alive
  sim::Firmware* fw;
  std::string class_name;
};

// The peripheral F of the group's device; ValueError naming `what` when the product has none.
template <class F>
F& peripheralOf(const SimGroup& g, const char* what) {
  auto* p = g.fw->findModule<F>();
  if (!p) throw std::invalid_argument(g.class_name + " has no " + what);
  return *p;
}

// Adds the read-only attribute `name` holding a group G to both emulated device classes.
template <class G>
void addGroup(nanobind::handle tcp, nanobind::handle usb, const char* name, const char* doc) {
  namespace nb = nanobind;
  auto make = [](auto* tag) {
    using D = std::remove_pointer_t<decltype(tag)>;
    return nb::cpp_function(
        [](nb::handle self) {
          D& d = nb::cast<D&>(self);
          return G{{nb::borrow(self), &d.firmware(), d.product().class_name}};
        },
        nb::is_method());
  };
  setProperty(tcp, name, make(static_cast<sim::EmulatedDevice*>(nullptr)), nb::none(), doc);
  setProperty(usb, name, make(static_cast<sim::UsbEmulatedDevice*>(nullptr)), nb::none(), doc);
}

// Each binds its group class in the submodule `s` and adds the group to both device classes.
void bindI2cControls(nanobind::module_& s, nanobind::handle tcp, nanobind::handle usb);
void bindSpiControls(nanobind::module_& s, nanobind::handle tcp, nanobind::handle usb);
void bindUartControls(nanobind::module_& s, nanobind::handle tcp, nanobind::handle usb);
void bindCanControls(nanobind::module_& s, nanobind::handle tcp, nanobind::handle usb);
// All of the bus groups.
void bindBusControls(nanobind::module_& s, nanobind::handle tcp, nanobind::handle usb);

}  // namespace zelvo::py
