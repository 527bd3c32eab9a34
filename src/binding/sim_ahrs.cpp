// Emulator controls of the attitude sensor (dev.ahrs): the angular rate it turns at, and its state.
#include <nanobind/stl/vector.h>

#include "binding/sim_group.hpp"
#include "zelvo/sim/ahrs_firmware.hpp"

namespace zelvo::py {
namespace {

using namespace nb::literals;
using AhrsControls = PeripheralGroup<sim::AhrsFirmware>;

nb::tuple triple(const sim::Vec3& v) { return nb::make_tuple(v[0], v[1], v[2]); }

std::vector<int> ahrsPorts(const AhrsControls& g) { return g.module().ports(); }

void ahrsSetRate(const AhrsControls& g, double x, double y, double z, int port) { g.module().setAngularRate(port, {x, y, z}); }

nb::tuple ahrsOrientation(const AhrsControls& g, int port) { return triple(sim::rollPitchYaw(g.module().port(port).attitude)); }

nb::dict ahrsState(const AhrsControls& g, int port) {
  const sim::AhrsPort p = g.module().port(port);
  nb::dict out;
  out["open"] = p.open;
  out["started"] = p.started;
  out["gravity"] = p.gravity;
  out["dt"] = p.dt;
  out["z_offset"] = p.z_offset;
  out["tau_acc"] = p.tau_acc;
  out["tau_mag"] = p.tau_mag;
  out["rate"] = triple(p.rate);
  out["resets"] = p.resets;
  return out;
}

}  // namespace

void bindAhrsControls(nb::module_& s, nb::handle tcp, nb::handle usb) {
  nb::class_<AhrsControls>(s, "AhrsControls", "The attitude-sensor controls of an emulated device (dev.ahrs).")
      .def_prop_ro("ports", &ahrsPorts, "The AHRS port numbers.")
      .def("set_angular_rate", &ahrsSetRate, "x"_a, "y"_a, "z"_a, nb::kw_only(), "port"_a = 0,
           "The body-frame angular rate (rad/s) the sensor turns at from now on; the orientation integrates\n"
           "it while the sensor is started.")
      .def("orientation", &ahrsOrientation, "port"_a = 0, "(roll, pitch, yaw) now, radians.")
      .def("state", &ahrsState, "port"_a = 0,
           "{'open', 'started', 'gravity', 'dt', 'z_offset', 'tau_acc', 'tau_mag', 'rate' (x, y, z rad/s),\n"
           "'resets'}.");
  addGroupProperty<AhrsControls>(tcp, usb, "ahrs", "attitude sensor", "Attitude-sensor controls (AhrsControls).");
}

}  // namespace zelvo::py
