// Emulator controls of the thermal inputs (dev.thermal): the temperature each channel measures
// (with drift and noise), the cold junction, the open-circuit fault, and the settings the host made.
#include <nanobind/stl/vector.h>

#include "binding/sim_group.hpp"
#include "zelvo/sim/thermal_firmware.hpp"

namespace zelvo::py {
namespace {

using namespace nb::literals;
using ThermalControls = PeripheralGroup<sim::ThermalFirmware>;

std::vector<int> thermalPorts(const ThermalControls& g) { return g.module().ports(); }

void thermalSetTemperature(const ThermalControls& g, int port, int channel, double celsius, double drift, double noise,
                           std::uint64_t seed) {
  g.module().setTemperature(port, channel, sim::ThermalSignal{celsius, drift, noise, seed, 0});
}

double thermalTemperature(const ThermalControls& g, int port, int channel) { return g.module().temperature(port, channel); }

void thermalSetColdJunction(const ThermalControls& g, int port, double celsius) { g.module().setColdJunction(port, celsius); }

void thermalSetOpenCircuit(const ThermalControls& g, int port, int channel, bool fault) {
  g.module().setOpenCircuit(port, channel, fault);
}

nb::dict thermalChannel(const ThermalControls& g, int port, int channel) {
  const sim::ThermalPort p = g.module().port(port);
  if (channel < 0 || channel >= static_cast<int>(p.channels.size()))
    throw std::invalid_argument("no thermal channel " + std::to_string(channel));
  const sim::ThermalChannel& c = p.channels[static_cast<std::size_t>(channel)];
  nb::dict out;
  out["type"] = c.settings.type;
  out["filter"] = c.settings.filter;
  out["oversampling"] = c.settings.oversampling;
  out["junction_on"] = c.settings.junction_on;
  out["junction_written"] = c.settings.junction_written;
  out["offset"] = c.settings.offset;
  out["saved_offset"] = c.saved_offset;
  out["open_circuit"] = c.open_circuit;
  return out;
}

nb::dict thermalPort(const ThermalControls& g, int port) {
  const sim::ThermalPort p = g.module().port(port);
  nb::dict out;
  out["open"] = p.open;
  out["cold_junction"] = p.cold_junction;
  out["channels"] = p.channels.size();
  return out;
}

}  // namespace

void bindThermalControls(nb::module_& s, nb::handle tcp, nb::handle usb) {
  nb::class_<ThermalControls>(s, "ThermalControls", "The thermal-input controls of an emulated device (dev.thermal).")
      .def_prop_ro("ports", &thermalPorts, "The thermal port numbers.")
      .def("set_temperature", &thermalSetTemperature, "port"_a, "channel"_a, "celsius"_a, nb::kw_only(), "drift"_a = 0.0,
           "noise"_a = 0.0, "seed"_a = 0,
           "Sets what a channel measures from now on: `celsius`, changing by `drift` degrees per second of\n"
           "device time, plus noise of up to `noise` degrees (reproducible from `seed`). ValueError for a\n"
           "port or channel the model lacks or a non-finite number.")
      .def("temperature", &thermalTemperature, "port"_a, "channel"_a,
           "What the channel's sensor sees now (before the offset and the cold-junction handling).")
      .def("set_cold_junction", &thermalSetColdJunction, "port"_a, "celsius"_a,
           "The temperature at the port's terminals (the measured cold junction).")
      .def("set_open_circuit", &thermalSetOpenCircuit, "port"_a, "channel"_a, "fault"_a = true,
           "Sets or clears the channel's open-circuit fault (status bit 0).")
      .def("channel", &thermalChannel, "port"_a, "channel"_a,
           "A channel's settings: {'type', 'filter', 'oversampling', 'junction_on', 'junction_written',\n"
           "'offset' (in use), 'saved_offset' (stored; survives reboots), 'open_circuit'}.")
      .def("port", &thermalPort, "port"_a, "A port's state: {'open', 'cold_junction', 'channels'}.");
  addGroupProperty<ThermalControls>(tcp, usb, "thermal", "thermal inputs", "Thermal-input controls (ThermalControls).");
}

}  // namespace zelvo::py
