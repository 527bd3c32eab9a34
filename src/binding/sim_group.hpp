// Emulator controls grouped by peripheral (dev.pwm, dev.ao, dev.thermal, ...): a group keeps its emulated
// device alive and looks the peripheral's firmware module up at each call, so a control of a
// peripheral the product lacks raises ValueError when used (the group itself always exists).
#pragma once

#include <nanobind/nanobind.h>

#include <stdexcept>
#include <string>

#include "binding/property.hpp"
#include "zelvo/sim/emulator.hpp"
#include "zelvo/sim/usb_device.hpp"

namespace zelvo::py {

namespace nb = nanobind;

// The controls of firmware module F on one device.
template <class F>
struct PeripheralGroup {
  nb::object device;  // keeps the emulated device alive
  sim::Firmware* fw = nullptr;
  std::string class_name;
  const char* peripheral = "";  // "PWM outputs", for the refusal

  F& module() const {
    F* m = fw->findModule<F>();
    if (!m) throw std::invalid_argument(class_name + " has no " + peripheral);
    return *m;
  }
};

template <class G, class D>
G peripheralGroupOf(nb::handle self, const char* peripheral) {
  D& d = nb::cast<D&>(self);
  G g;
  g.device = nb::borrow(self);
  g.fw = &d.firmware();
  g.class_name = d.product().class_name;
  g.peripheral = peripheral;
  return g;
}

// `name` on both emulated device classes: the device's group G.
template <class G>
void addGroupProperty(nb::handle tcp, nb::handle usb, const char* name, const char* peripheral, const char* doc) {
  setProperty(tcp, name,
              nb::cpp_function([peripheral](nb::handle self) { return peripheralGroupOf<G, sim::EmulatedDevice>(self, peripheral); },
                               nb::is_method()),
              nb::none(), doc);
  setProperty(usb, name,
              nb::cpp_function(
                  [peripheral](nb::handle self) { return peripheralGroupOf<G, sim::UsbEmulatedDevice>(self, peripheral); },
                  nb::is_method()),
              nb::none(), doc);
}

// The PWM, counter, encoder, relay and potentiometer groups (sim_timers.cpp).
void bindTimerControls(nb::module_& s, nb::handle tcp, nb::handle usb);
// The analog-output, thermal, attitude-sensor and Wi-Fi board groups (one file each).
void bindAoControls(nb::module_& s, nb::handle tcp, nb::handle usb);
void bindThermalControls(nb::module_& s, nb::handle tcp, nb::handle usb);
void bindAhrsControls(nb::module_& s, nb::handle tcp, nb::handle usb);
void bindWifiControls(nb::module_& s, nb::handle tcp, nb::handle usb);
// The network-settings, time-synchronisation and SD card groups (one file each).
void bindNetworkControls(nb::module_& s, nb::handle tcp, nb::handle usb);
void bindSntpControls(nb::module_& s, nb::handle tcp, nb::handle usb);
void bindSdCardControls(nb::module_& s, nb::handle tcp, nb::handle usb);
// The I2C, SPI, UART and CAN groups (one file each), and all four (sim_buses.cpp).
void bindI2cControls(nb::module_& s, nb::handle tcp, nb::handle usb);
void bindSpiControls(nb::module_& s, nb::handle tcp, nb::handle usb);
void bindUartControls(nb::module_& s, nb::handle tcp, nb::handle usb);
void bindCanControls(nb::module_& s, nb::handle tcp, nb::handle usb);
void bindBusControls(nb::module_& s, nb::handle tcp, nb::handle usb);
// The motion controller and stepper drive groups (sim_motion.cpp).
void bindMotionControls(nb::module_& s, nb::handle tcp, nb::handle usb);

}  // namespace zelvo::py
