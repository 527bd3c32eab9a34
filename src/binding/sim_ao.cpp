// Emulator controls of the analog outputs (dev.ao): what the outputs put out, the generator's state
// and counters, the channels' settings, the buffer, the setter requests received, and the wiring of
// the outputs to the analog inputs.
#include <nanobind/stl/pair.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include "binding/sim_group.hpp"
#include "zelvo/sim/ao_firmware.hpp"

namespace zelvo::py {
namespace {

using namespace nb::literals;
using AoControls = PeripheralGroup<sim::AoFirmware>;

constexpr const char* kStateNames[] = {"idle", "stand-by", "running"};
constexpr const char* kFormNames[] = {"level", "rectangle", "triangle", "sine"};

nb::list channelList(unsigned mask) {
  nb::list out;
  for (int ch = 0; ch < sim::kAoChannels; ++ch)
    if (mask >> ch & 1u) out.append(ch);
  return out;
}

std::vector<int> aoPorts(const AoControls& g) { return g.module().ports(); }

std::vector<double> aoOutputs(const AoControls& g, int port) {
  const auto v = g.module().outputs(port);
  return {v.begin(), v.end()};
}

nb::dict aoState(const AoControls& g, int port) {
  const sim::AoPort p = g.module().port(port);
  const auto counters = g.module().counters(port);
  nb::dict out;
  out["state"] = kStateNames[static_cast<int>(g.module().state(port))];
  out["open"] = p.open;
  out["mode"] = static_cast<int>(p.mode);
  out["rate"] = p.rate;
  out["num_samples"] = p.num_samples;
  out["enabled"] = channelList(p.enabled);
  out["span"] = p.span;
  out["buffer_values"] = p.buffer.size();
  out["samples"] = counters[0];
  out["converter_writes"] = counters[1];
  return out;
}

nb::dict aoChannel(const AoControls& g, int channel, int port) {
  if (channel < 0 || channel >= sim::kAoChannels) throw std::invalid_argument("no analog output channel " + std::to_string(channel));
  const sim::AoChannel c = g.module().port(port).channels[static_cast<std::size_t>(channel)];
  nb::dict out;
  out["form"] = kFormNames[static_cast<int>(c.form)];
  out["amplitude"] = c.params.amplitude;
  out["offset"] = c.params.offset;
  out["frequency"] = c.params.frequency;
  out["phase"] = c.params.phase;
  out["duty_cycle"] = c.params.duty_cycle;
  out["level"] = c.level;
  return out;
}

std::vector<double> aoBuffer(const AoControls& g, int port) { return g.module().port(port).buffer; }

nb::list aoSetters(const AoControls& g, int port) {
  nb::list out;
  for (const auto& [code, payload] : g.module().setters(port))
    out.append(nb::make_tuple(code, nb::bytes(reinterpret_cast<const char*>(payload.data()), payload.size())));
  return out;
}

bool aoWired(const AoControls& g) { return g.module().wiredToInputs(); }
void aoSetWired(const AoControls& g, bool on) { g.module().setWiredToInputs(on); }

}  // namespace

void bindAoControls(nb::module_& s, nb::handle tcp, nb::handle usb) {
  nb::class_<AoControls>(s, "AoControls", "The analog-output controls of an emulated device (dev.ao).")
      .def_prop_ro("ports", &aoPorts, "The analog-output port numbers (the wire ports on Koru).")
      .def("outputs", &aoOutputs, "port"_a = 0, "What the eight channels of the port put out now, volts.")
      .def("state", &aoState, "port"_a = 0,
           "The port's generator: {'state' ('idle', 'stand-by', 'running'), 'open', 'mode' (0 on demand,\n"
           "1 N samples, 2 continuous), 'rate' (Hz), 'num_samples', 'enabled' (channels), 'span' (0..4),\n"
           "'buffer_values', 'samples' and 'converter_writes' (the counters)}.")
      .def("channel", &aoChannel, "channel"_a, nb::kw_only(), "port"_a = 0,
           "A channel's settings: {'form' ('level', 'rectangle', 'triangle', 'sine'), 'amplitude', 'offset',\n"
           "'frequency', 'phase' (degrees), 'duty_cycle', 'level' (the value written on demand)}.")
      .def("buffer", &aoBuffer, "port"_a = 0, "The values pushed into the port's buffer, oldest first.")
      .def("setters", &aoSetters, "port"_a = 0,
           "The setter requests the port received, oldest first, as (command code, payload bytes): on-demand\n"
           "writes, span, mode, rate, sample count, enabled channels, forms, form parameters, buffer pushes\n"
           "(the last 1024).")
      .def_prop_rw("wired_to_ai", &aoWired, &aoSetWired,
                   "True: output channel i of every port is wired to analog input channel i of the port with the\n"
                   "same number (chip select 0), so the inputs measure what the outputs put out (on demand at the\n"
                   "present device time, streamed at each sample's device time). False (default): the inputs\n"
                   "measure their own waveforms. ValueError for a product without analog inputs.");
  addGroupProperty<AoControls>(tcp, usb, "ao", "analog outputs", "Analog-output controls (AoControls).");
}

}  // namespace zelvo::py
