// Emulator controls of the PWM outputs, counters, encoder, relays and potentiometers
// (dev.pwm, dev.counter, dev.encoder, dev.relay, dev.dpot).
#include <nanobind/stl/array.h>
#include <nanobind/stl/pair.h>

#include "binding/sim_group.hpp"
#include "zelvo/sim/counter_firmware.hpp"
#include "zelvo/sim/dpot_firmware.hpp"
#include "zelvo/sim/encoder_firmware.hpp"
#include "zelvo/sim/pwm_firmware.hpp"
#include "zelvo/sim/relay_firmware.hpp"

using namespace nanobind::literals;

namespace zelvo::py {
namespace {

using PwmGroup = PeripheralGroup<sim::PwmFirmware>;
using CounterGroup = PeripheralGroup<sim::CounterFirmware>;
using EncoderGroup = PeripheralGroup<sim::EncoderFirmware>;
using RelayGroup = PeripheralGroup<sim::RelayFirmware>;
using DpotGroup = PeripheralGroup<sim::DpotFirmware>;

// --- PWM -----------------------------------------------------------------------------------------

nb::dict pwmState(const PwmGroup& g, int channel) {
  const sim::PwmChannelState s = g.module().state(channel);
  nb::dict d;
  d["open"] = s.open;
  d["started"] = s.started;
  d["frequency"] = s.frequency;
  d["duty_cycle"] = s.duty_cycle;
  d["output_frequency"] = g.module().outputFrequency(channel);
  return d;
}

void bindPwm(nb::module_& s) {
  nb::class_<PwmGroup>(s, "PwmControls", "The PWM controls of an emulated device (dev.pwm).")
      .def("state", &pwmState, "channel"_a,
           "{'open', 'started', 'frequency' (Hz), 'duty_cycle' (percent), 'output_frequency' (the\n"
           "frequency while open and started, else 0)} of a PWM channel (0 or 1).");
}

// --- counter -------------------------------------------------------------------------------------

nb::dict counterState(const CounterGroup& g, int channel) {
  const sim::CounterChannelState s = g.module().state(channel);
  nb::dict d;
  d["open"] = s.open;
  d["started"] = s.started;
  d["rising"] = s.rising;
  d["window_ms"] = s.window_ms;
  d["input"] = s.input;
  d["wired"] = s.wired;
  d["position"] = s.position;
  d["frequency"] = s.frequency;
  return d;
}

void bindCounter(nb::module_& s) {
  nb::class_<CounterGroup>(s, "CounterControls", "The pulse-counter controls of an emulated device (dev.counter).")
      .def("state", &counterState, "channel"_a,
           "{'open', 'started', 'rising' (the counted edge), 'window_ms', 'input' (the applied\n"
           "frequency), 'wired' (fed by the PWM output of the same number), 'position', 'frequency' (as a\n"
           "read would measure it now)} of a counter channel.")
      .def(
          "set_input", [](const CounterGroup& g, int channel, double frequency) { g.module().setInput(channel, frequency); },
          "channel"_a, "frequency"_a,
          "Applies a pulse signal of `frequency` Hz (>= 0) to the channel's input from now on; counted\n"
          "while the channel is started.")
      .def(
          "wire_pwm", [](const CounterGroup& g, int channel, bool wired) { g.module().wirePwm(channel, wired); },
          "channel"_a, "wired"_a = true,
          "Feeds the channel's input from the PWM output of the same number (its frequency while that\n"
          "output runs, falling edges after its duty cycle), or again from set_input (wired=False).")
      .def(
          "set_position", [](const CounterGroup& g, int channel, std::int64_t p) { g.module().setPosition(channel, p); },
          "channel"_a, "position"_a, "Presets the count (0..2**48-1).");
}

// --- encoder -------------------------------------------------------------------------------------

nb::dict encoderState(const EncoderGroup& g) {
  const sim::EncoderState s = g.module().state();
  nb::dict d;
  d["open"] = s.open;
  d["started"] = s.started;
  d["reversed"] = s.reversed;
  d["window_ms"] = s.window_ms;
  d["velocity"] = s.velocity;
  d["position"] = s.position;
  d["frequency"] = s.frequency;
  return d;
}

void bindEncoder(nb::module_& s) {
  nb::class_<EncoderGroup>(s, "EncoderControls", "The encoder controls of an emulated device (dev.encoder).")
      .def("state", &encoderState,
           "{'open', 'started', 'reversed' (direction 255), 'window_ms', 'velocity' (of the shaft,\n"
           "counts/s), 'position', 'frequency' (as a read would measure it now)} of the encoder.")
      .def(
          "set_velocity", [](const EncoderGroup& g, double v) { g.module().setVelocity(v); }, "counts_per_second"_a,
          "Turns the simulated shaft at this many counts per second (negative: backwards) from now on;\n"
          "counted while the encoder is started.")
      .def(
          "set_position", [](const EncoderGroup& g, std::int64_t p) { g.module().setPosition(p); }, "position"_a,
          "Presets the position (-2**47..2**47-1).");
}

// --- relays and potentiometers --------------------------------------------------------------------

void bindRelay(nb::module_& s) {
  nb::class_<RelayGroup>(s, "RelayControls", "The relay controls of an emulated device (dev.relay).")
      .def(
          "counts", [](const RelayGroup& g) { return g.module().counts(); },
          "The six switching counters: closings of each relay (off-to-on changes of its DO pin).")
      .def(
          "set_count", [](const RelayGroup& g, int relay, std::uint32_t value) { g.module().setCount(relay, value); },
          "relay"_a, "value"_a, "Presets a relay's counter (0..2**32-1).")
      .def(
          "closed", [](const RelayGroup& g, int relay) { return g.module().closed(relay); }, "relay"_a,
          "Whether the relay is closed now (its DO pin driven high).")
      .def(
          "pin", [](const RelayGroup& g, int relay) { return g.module().pinOf(relay); }, "relay"_a,
          "(port, pin) of the digital output that drives the relay.");
}

void bindDpot(nb::module_& s) {
  nb::class_<DpotGroup>(s, "DpotControls", "The digital potentiometer controls of an emulated device (dev.dpot).")
      .def(
          "ratios", [](const DpotGroup& g) { return g.module().ratios(); },
          "The resistance ratio (0..1) each of the four channels holds.")
      .def(
          "wiper", [](const DpotGroup& g, int channel) { return g.module().wiper(channel); }, "channel"_a,
          "The wiper position (0..255) a read of the channel reports.");
}

}  // namespace

void bindTimerControls(nb::module_& s, nb::handle tcp, nb::handle usb) {
  bindPwm(s);
  bindCounter(s);
  bindEncoder(s);
  bindRelay(s);
  bindDpot(s);
  addGroupProperty<PwmGroup>(tcp, usb, "pwm", "PWM outputs", "PWM controls (PwmControls).");
  addGroupProperty<CounterGroup>(tcp, usb, "counter", "pulse counters", "Pulse-counter controls (CounterControls).");
  addGroupProperty<EncoderGroup>(tcp, usb, "encoder", "encoder", "Encoder controls (EncoderControls).");
  addGroupProperty<RelayGroup>(tcp, usb, "relay", "relays", "Relay controls (RelayControls).");
  addGroupProperty<DpotGroup>(tcp, usb, "dpot", "digital potentiometers", "Potentiometer controls (DpotControls).");
}

}  // namespace zelvo::py
