// dev.sntp: the emulated device's time-synchronisation settings and the "unreachable" switch.
#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>

#include "binding/sim_group.hpp"
#include "binding/sim_ipv4.hpp"
#include "zelvo/sim/sntp_firmware.hpp"

namespace zelvo::py {
namespace {

struct SntpGroup : PeripheralGroup<sim::SNTPFirmware> {
  sim::SNTPFirmware& sntp() const { return module(); }
};

void setServer(const SntpGroup& g, const std::string& text) { g.sntp().setServer(ipv4From(text)); }

void setPeriod(const SntpGroup& g, double seconds) {
  if (!g.sntp().setPeriod(static_cast<float>(seconds))) throw std::invalid_argument("the period is a positive number of seconds");
}

}  // namespace

void bindSntpControls(nb::module_& s, nb::handle tcp, nb::handle usb) {
  using G = SntpGroup;
  nb::class_<G>(s, "SntpControls",
                "The time-synchronisation client of an emulated device (dev.sntp). It never contacts a time\n"
                "server: a synchronisation copies the host's clock into the device's.")
      .def_prop_rw("server", [](const G& g) { return ipv4Text(g.sntp().server()); }, &setServer,
                   "The server address set ('255.255.255.255': the device searches for one).")
      .def_prop_rw("period", [](const G& g) { return double{g.sntp().period()}; }, &setPeriod,
                   "Seconds between synchronisations (3600).")
      .def_prop_ro("in_use", [](const G& g) { return ipv4Text(g.sntp().inUse()); },
                   "The server the device reports in use: the one set, its gateway while searching, '0.0.0.0'\n"
                   "while unreachable.")
      .def_prop_rw("unreachable", [](const G& g) { return g.sntp().unreachable(); },
                   [](const G& g, bool on) { g.sntp().setUnreachable(on); },
                   "True: no server answers; a synchronisation fails with status 72 and leaves the clock alone.")
      .def_prop_ro("syncs", [](const G& g) { return g.sntp().syncs(); }, "Synchronisations so far.")
      .def_prop_ro("last_sync", [](const G& g) { return g.sntp().lastSync(); },
                   "Device time (dev.clock.now) of the last synchronisation; None before the first.");
  addGroupProperty<G>(tcp, usb, "sntp", "SNTP client", "Time-synchronisation client (SntpControls).");
}

}  // namespace zelvo::py
