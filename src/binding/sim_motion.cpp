// Python controls of the emulated motion chips: dev.motion on an emulated device whose product has
// the four-axis motion module. Inputs per axis (forced levels, or switches placed along the axis),
// encoder ratio, the helical calculation's duration; observation of positions, registers, GPIO
// lines, held drives and what the SYNC actions did.
#include <nanobind/nanobind.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include <cmath>
#include <stdexcept>
#include <string>

#include "binding/sim_group.hpp"
#include "zelvo/sim/emulator.hpp"
#include "zelvo/sim/mcx514_firmware.hpp"
#include "zelvo/sim/tmc5240_firmware.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace zelvo::py {

namespace {

using MotionGroup = PeripheralGroup<sim::Mcx514Firmware>;

sim::Mcx514Firmware& motionOf(const MotionGroup& g) { return g.module(); }

struct InputName {
  const char* name;
  sim::McxInput input;
};
constexpr InputName kInputs[] = {{"home", sim::McxInput::Home},
                                 {"limit_forward", sim::McxInput::LimitForward},
                                 {"limit_reverse", sim::McxInput::LimitReverse},
                                 {"z", sim::McxInput::Z},
                                 {"alarm", sim::McxInput::Alarm},
                                 {"inposition", sim::McxInput::Inposition}};

sim::McxInput inputNamed(const std::string& name) {
  for (const auto& i : kInputs)
    if (name == i.name) return i.input;
  throw std::invalid_argument("input is 'home', 'limit_forward', 'limit_reverse', 'z', 'alarm' or 'inposition', not '" +
                              name + "'");
}

void checkAxis(int axis) {
  if (axis < 0 || axis >= sim::kMcxAxes) throw std::invalid_argument("axis is 0..3");
}

template <class F>
decltype(auto) onAxis(const MotionGroup& g, int port, int axis, F&& f) {
  checkAxis(axis);
  return motionOf(g).withChip(port, [&](sim::McxChip& c, double now) -> decltype(auto) { return f(c.axis(axis), now); });
}

nb::tuple position(const MotionGroup& g, int axis, int port) {
  return onAxis(g, port, axis, [](sim::McxAxis& a, double now) { return nb::make_tuple(a.logical(now), a.real(now)); });
}

bool moving(const MotionGroup& g, int axis, int port) {
  return onAxis(g, port, axis, [](sim::McxAxis& a, double) { return a.driving(); });
}

double speed(const MotionGroup& g, int axis, int port) {
  return onAxis(g, port, axis, [](sim::McxAxis& a, double now) { return a.speed(now); });
}

std::int64_t reg(const MotionGroup& g, int code, int axis, int port) {
  checkAxis(axis);
  if (code < 0 || code > 0xFF) throw std::invalid_argument("a register code is 0..255");
  return motionOf(g).withChip(port, [&](sim::McxChip& c, double now) { return c.peek(now, code, axis); });
}

void setInput(const MotionGroup& g, int axis, const std::string& name, std::optional<int> level, int port) {
  const sim::McxInput in = inputNamed(name);
  if (level && *level != 0 && *level != 1) throw std::invalid_argument("level is 0, 1 or None");
  onAxis(g, port, axis, [&](sim::McxAxis& a, double now) {
    a.input(in).forced = level ? std::optional<bool>(*level == 1) : std::nullopt;
    a.inputChanged(now);
  });
}

// A switch along an axis: a limit actuated from `first` on (`limit`: the side it covers), or one
// from `first` to `last`, or with `period` one every period-th position from `first`.
sim::PlacedSwitch switchAt(std::optional<sim::PlacedSwitch::Shape> limit, std::int64_t first,
                           std::optional<std::int64_t> last, std::int64_t period) {
  constexpr std::int64_t kShortestPeriod = 2;
  sim::PlacedSwitch sw;
  sw.a = first;
  if (limit) {
    sw.shape = *limit;
  } else if (period > 0) {
    if (period < kShortestPeriod) throw std::invalid_argument("a period is at least 2 positions");
    sw.shape = sim::PlacedSwitch::Shape::Periodic;
    sw.b = period;
  } else {
    sw.shape = sim::PlacedSwitch::Shape::Region;
    sw.b = last.value_or(first);
    if (sw.b < sw.a) throw std::invalid_argument("last must not be below first");
  }
  return sw;
}

void placeSwitch(const MotionGroup& g, int axis, const std::string& name, std::int64_t first,
                 std::optional<std::int64_t> last, std::int64_t period, bool wired_high, int port) {
  const sim::McxInput in = inputNamed(name);
  using Shape = sim::PlacedSwitch::Shape;
  const sim::PlacedSwitch sw = switchAt(in == sim::McxInput::LimitForward   ? std::optional(Shape::AtOrAbove)
                                        : in == sim::McxInput::LimitReverse ? std::optional(Shape::AtOrBelow)
                                                                            : std::nullopt,
                                        first, last, period);
  onAxis(g, port, axis, [&](sim::McxAxis& a, double now) {
    a.input(in).placed = sw;
    a.input(in).wired_high = wired_high;
    a.inputChanged(now);
  });
}

void removeSwitch(const MotionGroup& g, int axis, const std::string& name, int port) {
  const sim::McxInput in = inputNamed(name);
  onAxis(g, port, axis, [&](sim::McxAxis& a, double now) {
    a.input(in).placed = {};
    a.inputChanged(now);
  });
}

nb::dict levels(const MotionGroup& g, int axis, int port) {
  return onAxis(g, port, axis, [](sim::McxAxis& a, double now) {
    nb::dict d;
    const std::int64_t lp = a.logical(now);
    for (const auto& i : kInputs) d[i.name] = a.level(i.input, lp) ? 1 : 0;
    return d;
  });
}

void setRatio(const MotionGroup& g, int axis, double ratio, int port) {
  if (!(ratio == ratio) || ratio == 0 || std::abs(ratio) > 1e6) throw std::invalid_argument("ratio is a finite, non-zero number");
  onAxis(g, port, axis, [&](sim::McxAxis& a, double now) { a.setEncoderRatio(now, ratio); });
}

int gpio(const MotionGroup& g, int axis, int port) {
  return onAxis(g, port, axis, [](sim::McxAxis& a, double) { return static_cast<int>(a.gpio()); });
}

nb::dict syncCounts(const MotionGroup& g, int axis, int port) {
  return onAxis(g, port, axis, [](sim::McxAxis& a, double) {
    const sim::McxSyncCounts& c = a.syncCounts();
    nb::dict d;
    d["break_points"] = c.break_points;
    d["split_pulses"] = c.split_pulses;
    d["captures"] = c.captures;
    d["reversals"] = c.reversals;
    return d;
  });
}

int pendingHolds(const MotionGroup& g, int port) {
  return motionOf(g).withChip(port, [](sim::McxChip& c, double) { return c.pendingHolds(); });
}

int held(const MotionGroup& g, int port) {
  return motionOf(g).withChip(port, [](sim::McxChip& c, double) { return c.held(); });
}

std::vector<int> ports(const MotionGroup& g) { return motionOf(g).ports(); }

// --- the stepper drive -----------------------------------------------------------------------------

using StepperGroup = PeripheralGroup<sim::Tmc5240Firmware>;

sim::Tmc5240Firmware& stepperOf(const StepperGroup& g) { return g.module(); }

struct StepperInputName {
  const char* name;
  sim::TmcInput input;
};
constexpr StepperInputName kStepperInputs[] = {
    {"left", sim::TmcInput::Left}, {"right", sim::TmcInput::Right}, {"home", sim::TmcInput::Home}, {"z", sim::TmcInput::Z}};

sim::TmcInput stepperInput(const std::string& name) {
  for (const auto& i : kStepperInputs)
    if (name == i.name) return i.input;
  throw std::invalid_argument("input is 'left', 'right', 'home' or 'z', not '" + name + "'");
}

template <class F>
decltype(auto) onDrive(const StepperGroup& g, int port, F&& f) {
  return stepperOf(g).withDrive(port, std::forward<F>(f));
}

nb::tuple stepperPosition(const StepperGroup& g, int port) {
  return onDrive(g, port, [](sim::TmcDrive& d, double now) { return nb::make_tuple(d.position(now), d.encoder(now)); });
}
double stepperVelocity(const StepperGroup& g, int port) {
  return onDrive(g, port, [](sim::TmcDrive& d, double now) { return d.velocity(now); });
}
bool stepperMoving(const StepperGroup& g, int port) {
  return onDrive(g, port, [](sim::TmcDrive& d, double) { return d.moving(); });
}
std::int64_t stepperRegister(const StepperGroup& g, int address, int port) {
  return onDrive(g, port, [&](sim::TmcDrive& d, double now) {
    const auto v = d.read(now, address);
    if (!v) throw std::invalid_argument("the chip has no register " + std::to_string(address));
    return *v;
  });
}
int stepperState(const StepperGroup& g, int port) {
  return onDrive(g, port, [](sim::TmcDrive& d, double) { return d.processState(); });
}
int stepperOutputs(const StepperGroup& g, int port) {
  return onDrive(g, port, [](sim::TmcDrive& d, double) { return static_cast<int>(d.outputs()); });
}
int stepperSwitches(const StepperGroup& g, int port) {
  return onDrive(g, port, [](sim::TmcDrive& d, double now) { return static_cast<int>(d.switchLevels(now)); });
}
void stepperSetInput(const StepperGroup& g, const std::string& name, std::optional<int> level, int port) {
  const sim::TmcInput in = stepperInput(name);
  if (level && *level != 0 && *level != 1) throw std::invalid_argument("level is 0, 1 or None");
  onDrive(g, port, [&](sim::TmcDrive& d, double now) {
    d.input(in).forced = level ? std::optional<bool>(*level == 1) : std::nullopt;
    d.inputChanged(now);
  });
}
void stepperPlace(const StepperGroup& g, const std::string& name, std::int64_t first, std::optional<std::int64_t> last,
                  std::int64_t period, bool wired_high, int port) {
  const sim::TmcInput in = stepperInput(name);
  using Shape = sim::PlacedSwitch::Shape;
  const sim::PlacedSwitch sw = switchAt(in == sim::TmcInput::Left    ? std::optional(Shape::AtOrBelow)
                                        : in == sim::TmcInput::Right ? std::optional(Shape::AtOrAbove)
                                                                     : std::nullopt,
                                        first, last, period);
  onDrive(g, port, [&](sim::TmcDrive& d, double now) {
    d.input(in).placed = sw;
    d.input(in).wired_high = wired_high;
    d.inputChanged(now);
  });
}
void stepperFault(const StepperGroup& g, int bits, int port) {
  if (bits < 0 || bits > 0x1F) throw std::invalid_argument("fault bits are GSTAT bits 0..4");
  onDrive(g, port, [&](sim::TmcDrive& d, double) { d.raiseFault(static_cast<std::uint32_t>(bits)); });
}
std::vector<int> stepperPorts(const StepperGroup& g) { return stepperOf(g).ports(); }

void bindStepperControls(nb::module_& s, nb::handle tcp, nb::handle usb) {
  nb::class_<StepperGroup>(s, "StepperControls",
                           "The stepper drive of an emulated device (dev.stepper). Switches sit at physical positions\n"
                           "(XACTUAL, or -XACTUAL with the motor reversed): 'left', 'right', 'home', 'z'.")
      .def_prop_ro("ports", &stepperPorts, "The stepper ports of the device.")
      .def("position", &stepperPosition, nb::kw_only(), "port"_a = 0, "(XACTUAL, XENC) now.")
      .def("velocity", &stepperVelocity, nb::kw_only(), "port"_a = 0, "The velocity now, steps per second (signed).")
      .def("moving", &stepperMoving, nb::kw_only(), "port"_a = 0, "Whether the motor turns.")
      .def("register", &stepperRegister, "address"_a, nb::kw_only(), "port"_a = 0,
           "What a read of the register returns now (signed registers as signed values).")
      .def("process_state", &stepperState, nb::kw_only(), "port"_a = 0,
           "The procedure state: 0 idle, 1 running, 2 finished, 3 failed.")
      .def("outputs", &stepperOutputs, nb::kw_only(), "port"_a = 0,
           "The DO port 2 output word (pin 0: the servo enable, low for on).")
      .def("switch_levels", &stepperSwitches, nb::kw_only(), "port"_a = 0,
           "DI port 1: bit 0 left, bit 1 right, bit 2 home switch level.")
      .def("set_input", &stepperSetInput, "name"_a, "level"_a, nb::kw_only(), "port"_a = 0,
           "Forces an input's level (0 or 1); None hands it back to its placed switch.")
      .def("place_switch", &stepperPlace, "name"_a, "first"_a, "last"_a = nb::none(), nb::kw_only(), "period"_a = 0,
           "wired_high"_a = true, "port"_a = 0,
           "Places a switch (physical positions): 'left' actuated at `first` and below, 'right' at `first`\n"
           "and above, 'home' and 'z' from `first` to `last`, or with `period` at every period-th step\n"
           "from `first`. Actuated it shows level 1 (0 with wired_high=False).")
      .def("raise_fault", &stepperFault, "bits"_a, nb::kw_only(), "port"_a = 0,
           "Sets global status bits (1 driver error, 2 charge pump, 4 supply undervoltage; 0 the reset flag).");
  addGroupProperty<StepperGroup>(tcp, usb, "stepper", "stepper drive", "Stepper drive controls (StepperControls).");
}
std::optional<double> calcTime(const MotionGroup& g) { return motionOf(g).calculationTime(); }
void setCalcTime(MotionGroup& g, std::optional<double> s) { motionOf(g).setCalculationTime(s); }

}  // namespace

void bindMotionControls(nb::module_& s, nb::handle tcp, nb::handle usb) {
  nb::class_<MotionGroup>(s, "MotionControls",
                          "The motion controllers of an emulated device (dev.motion): one four-axis chip per motion\n"
                          "port. Ports are wire ports (Koru slot 1 is port 0). Inputs: 'home', 'limit_forward',\n"
                          "'limit_reverse', 'z', 'alarm', 'inposition'.")
      .def_prop_ro("ports", &ports, "The motion ports of the device.")
      .def("position", &position, "axis"_a = 0, nb::kw_only(), "port"_a = 0, "(logical, real) position of an axis now.")
      .def("moving", &moving, "axis"_a = 0, nb::kw_only(), "port"_a = 0,
           "Whether the axis drives (a move, a home search or an interpolation).")
      .def("speed", &speed, "axis"_a = 0, nb::kw_only(), "port"_a = 0, "The axis's speed now, pulses per second.")
      .def("register", &reg, "code"_a, "axis"_a = 0, nb::kw_only(), "port"_a = 0,
           "What the chip holds for a register code: a written register's value, or what a read of a\n"
           "read code (LP 0x30, RR0 0xE8, ...) would return now.")
      .def("set_input", &setInput, "axis"_a, "name"_a, "level"_a, nb::kw_only(), "port"_a = 0,
           "Forces an input's electrical level (0 or 1); None hands it back to its placed switch.")
      .def("place_switch", &placeSwitch, "axis"_a, "name"_a, "first"_a, "last"_a = nb::none(), nb::kw_only(),
           "period"_a = 0, "wired_high"_a = true, "port"_a = 0,
           "Places a switch along the axis (logical positions): 'limit_forward' is actuated at `first` and\n"
           "above, 'limit_reverse' at `first` and below, the others from `first` to `last` (inclusive), or\n"
           "with `period` at every period-th position from `first` (an index pulse). While actuated it\n"
           "shows the level 1 (0 with wired_high=False).")
      .def("remove_switch", &removeSwitch, "axis"_a, "name"_a, nb::kw_only(), "port"_a = 0,
           "Takes a placed switch away (its input then shows the inactive wired level).")
      .def("input_levels", &levels, "axis"_a = 0, nb::kw_only(), "port"_a = 0,
           "The electrical level of every input of the axis now.")
      .def("set_encoder_ratio", &setRatio, "axis"_a, "ratio"_a, nb::kw_only(), "port"_a = 0,
           "Encoder counts per output pulse (negative: the encoder counts the other way).")
      .def("gpio", &gpio, "axis"_a = 0, nb::kw_only(), "port"_a = 0,
           "The GPIO output lines of the axis (bit 0: the servo-on line).")
      .def("sync_counts", &syncCounts, "axis"_a = 0, nb::kw_only(), "port"_a = 0,
           "What the SYNC actions did: {'break_points', 'split_pulses', 'captures', 'reversals'}.")
      .def("held", &held, nb::kw_only(), "port"_a = 0, "Mask of the axes held for a common start.")
      .def("pending_holds", &pendingHolds, nb::kw_only(), "port"_a = 0,
           "Mask of the held axes with a drive waiting for the release.")
      .def_prop_rw("helical_calc_seconds", &calcTime, &setCalcTime, nb::arg("seconds").none(),
                   "How long the chip's helical calculation takes, device seconds (None: it never ends).");
  bindStepperControls(s, tcp, usb);
  addGroupProperty<MotionGroup>(tcp, usb, "motion", "motion controller", "Motion controller controls (MotionControls).");
}

}  // namespace zelvo::py
