// dev.i2c: the slaves on each emulated I2C port and the settings the host made.
#include <nanobind/stl/set.h>
#include <nanobind/stl/vector.h>

#include "binding/sim_group.hpp"
#include "zelvo/sim/i2c_firmware.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace zelvo::py {
namespace {

using I2cGroup = PeripheralGroup<sim::I2CFirmware>;

sim::I2CFirmware& i2cOf(const I2cGroup& g) { return g.module(); }

Bytes byteValues(const std::vector<int>& values) {
  Bytes out;
  for (int v : values) {
    if (v < 0 || v > 255) throw std::invalid_argument("register values are bytes (0..255)");
    out.push_back(static_cast<Byte>(v));
  }
  return out;
}

nb::dict state(const I2cGroup& g, int port) {
  const sim::I2cPortState s = i2cOf(g).state(port);
  nb::dict out;
  out["open"] = s.open;
  out["frequency"] = s.frequency;
  out["address_size"] = s.address_size;
  return out;
}

}  // namespace

void bindI2cControls(nb::module_& s, nb::handle tcp, nb::handle usb) {
  nb::class_<I2cGroup>(s, "I2cControls", "The I2C controls of an emulated device (dev.i2c).")
      .def("state", &state, "port"_a,
           "What the host set on an I2C port: {'open', 'frequency' (Hz), 'address_size' (0: 7-bit, 1: 10-bit)}.")
      .def(
          "attach_memory",
          [](const I2cGroup& g, int port, int address, std::size_t size) { i2cOf(g).attachMemory(port, address, size); },
          "port"_a, "address"_a = sim::kI2cMemoryAddress, "size"_a = sim::kI2cMemorySize,
          "Puts a memory (zeros) at an address, replacing what was there: a write's first byte sets its\n"
          "pointer and the rest are stored from there on; a read continues from the pointer.")
      .def(
          "attach_registers",
          [](const I2cGroup& g, int port, int address, const std::vector<int>& values, const std::set<int>& read_only) {
            i2cOf(g).attachRegisters(port, address, byteValues(values), read_only);
          },
          "port"_a, "address"_a, "values"_a, "read_only"_a = std::set<int>{},
          "Puts a register device at an address: one register per value, addressed like the memory;\n"
          "writes leave the read-only registers alone.")
      .def("detach", [](const I2cGroup& g, int port, int address) { i2cOf(g).detach(port, address); }, "port"_a,
           "address"_a, "Removes the device at an address: the address then gets the I2C error status.")
      .def("addresses", [](const I2cGroup& g, int port) { return i2cOf(g).addresses(port); }, "port"_a,
           "The addresses a device answers on.")
      .def(
          "contents",
          [](const I2cGroup& g, int port, int address) {
            const Bytes b = i2cOf(g).contents(port, address);
            return nb::bytes(reinterpret_cast<const char*>(b.data()), b.size());
          },
          "port"_a, "address"_a, "The cells of the memory or register device at an address.")
      .def_prop_ro("ports", [](const I2cGroup& g) { return i2cOf(g).ports(); }, "The I2C port numbers.");
  addGroupProperty<I2cGroup>(tcp, usb, "i2c", "I2C", "I2C controls (I2cControls).");
}

}  // namespace zelvo::py
