// dev.spi: what sits on each emulated SPI port (the loopback or a register device) and the settings
// the host made.
#include <nanobind/stl/set.h>
#include <nanobind/stl/vector.h>

#include "binding/sim_group.hpp"
#include "zelvo/sim/spi_firmware.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace zelvo::py {
namespace {

using SpiGroup = PeripheralGroup<sim::SPIFirmware>;

sim::SPIFirmware& spiOf(const SpiGroup& g) { return g.module(); }

nb::dict state(const SpiGroup& g, int port) {
  const sim::SpiPortState s = spiOf(g).state(port);
  nb::dict out;
  out["open"] = s.open;
  out["data_size"] = s.data_size;
  out["first_bit"] = s.first_bit;
  out["prescaler"] = s.prescaler;
  out["cpol"] = s.cpol;
  out["cpha"] = s.cpha;
  out["device"] = s.registers ? "registers" : "loopback";
  return out;
}

}  // namespace

void bindSpiControls(nb::module_& s, nb::handle tcp, nb::handle usb) {
  nb::class_<SpiGroup>(s, "SpiControls", "The SPI controls of an emulated device (dev.spi).")
      .def("state", &state, "port"_a,
           "What the host set on an SPI port: {'open', 'data_size', 'first_bit', 'prescaler', 'cpol', 'cpha',\n"
           "'device' ('loopback' or 'registers')}.")
      .def(
          "attach_registers",
          [](const SpiGroup& g, int port, const std::vector<int>& values, const std::set<int>& read_only) {
            Bytes cells;
            for (int v : values) {
              if (v < 0 || v > 255) throw std::invalid_argument("register values are bytes (0..255)");
              cells.push_back(static_cast<Byte>(v));
            }
            spiOf(g).attachRegisters(port, std::move(cells), read_only);
          },
          "port"_a, "values"_a, "read_only"_a = std::set<int>{},
          "Replaces the loopback by a register device (1..128 registers): a transfer's first byte selects a\n"
          "register (bits 0..6) and reads (bit 7 set) or writes it and the following ones.")
      .def("detach", [](const SpiGroup& g, int port) { spiOf(g).detach(port); }, "port"_a,
           "Back to the loopback (MISO wired to MOSI).")
      .def(
          "registers",
          [](const SpiGroup& g, int port) {
            const Bytes b = spiOf(g).registers(port);
            return nb::bytes(reinterpret_cast<const char*>(b.data()), b.size());
          },
          "port"_a, "The registers of the port's register device.")
      .def_prop_ro("ports", [](const SpiGroup& g) { return spiOf(g).ports(); }, "The SPI port numbers.");
  addGroupProperty<SpiGroup>(tcp, usb, "spi", "SPI", "SPI controls (SpiControls).");
}

}  // namespace zelvo::py
