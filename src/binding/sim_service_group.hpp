// The Python controls of the network services of an emulated device, one group per peripheral
// (dev.network, dev.sntp, dev.sd). A group keeps its device alive and finds the peripheral at each
// call, so a control of a peripheral the product lacks raises ValueError when used. These
// peripherals exist on network products only, so the groups belong to EmulatedDevice (TCP).
#pragma once

#include <nanobind/nanobind.h>

#include <stdexcept>
#include <string>

#include "binding/property.hpp"
#include "zelvo/sim/emulator.hpp"
#include "zelvo/sim/network_firmware.hpp"

namespace zelvo::py {

namespace nb = nanobind;

struct ServiceGroup {
  nb::object device;  // keeps the emulated device alive
  sim::EmulatedDevice* dev;

  template <class M>
  M& firmware(const char* what) const {
    auto* m = dev->firmware().findModule<M>();
    if (!m) throw std::invalid_argument(dev->product().class_name + " has no " + what);
    return *m;
  }
};

// Adds the read-only attribute `name` to the device class: the group G (derived from
// ServiceGroup) of the device.
template <class G>
void addServiceGroup(nb::handle device_cls, const char* name, const char* doc) {
  auto get = [](nb::handle self) {
    return G{{nb::borrow(self), &nb::cast<sim::EmulatedDevice&>(self)}};
  };
  setProperty(device_cls, name, nb::cpp_function(get, nb::is_method()), nb::none(), doc);
}

// Dotted IPv4 texts of the controls (ValueError for anything else), and back.
sim::IPv4 ipv4From(const std::string& text);
std::string ipv4Text(const sim::IPv4& a);

// Each registers its group class in the emulator submodule and adds it to the device class.
void bindNetworkControls(nb::module_& sim_module, nb::handle device_cls);
void bindSntpControls(nb::module_& sim_module, nb::handle device_cls);
void bindSdCardControls(nb::module_& sim_module, nb::handle device_cls);

}  // namespace zelvo::py
