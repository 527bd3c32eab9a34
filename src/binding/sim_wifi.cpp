// Emulator controls of the Wi-Fi products' board (dev.wifi): battery, charge indications, LEDs,
// signal strength, radio settings, thermometer and accelerometer.
#include "binding/sim_group.hpp"
#include "zelvo/sim/wifi_firmware.hpp"

namespace zelvo::py {
namespace {

using WifiControls = PeripheralGroup<sim::WifiFirmware>;

sim::WifiBoard board(const WifiControls& g) { return g.module().board(); }

int battery(const WifiControls& g) { return board(g).battery_mv; }
void setBattery(const WifiControls& g, int mv) { g.module().setBattery(mv); }
bool powerGood(const WifiControls& g) { return board(g).power_good; }
void setPowerGood(const WifiControls& g, bool on) { g.module().setPowerGood(on); }
bool charging(const WifiControls& g) { return board(g).charging; }
void setCharging(const WifiControls& g, bool on) { g.module().setCharging(on); }
int rssi(const WifiControls& g) { return board(g).rssi_dbm; }
void setRssi(const WifiControls& g, int dbm) { g.module().setRssi(dbm); }
double temperature(const WifiControls& g) { return board(g).board_celsius; }
void setTemperature(const WifiControls& g, double c) { g.module().setBoardTemperature(c); }
nb::tuple acceleration(const WifiControls& g) {
  const auto a = board(g).acceleration;
  return nb::make_tuple(a[0], a[1], a[2]);
}
void setAcceleration(const WifiControls& g, nb::handle words) {
  const nb::sequence seq = nb::borrow<nb::sequence>(words);
  if (nb::len(seq) != 3) throw std::invalid_argument("acceleration is three words (x, y, z)");
  g.module().setAcceleration({nb::cast<int>(seq[0]), nb::cast<int>(seq[1]), nb::cast<int>(seq[2])});
}
nb::tuple leds(const WifiControls& g) {
  const auto l = board(g).leds;
  return nb::make_tuple(l >> sim::kWifiRedBit & 1, l >> sim::kWifiGreenBit & 1, l >> sim::kWifiBlueBit & 1);
}
int bandwidth(const WifiControls& g) { return board(g).bandwidth; }
int retryCount(const WifiControls& g) { return board(g).retry_count; }
int apSeconds(const WifiControls& g) { return board(g).ap_seconds; }
bool apMode(const WifiControls& g) { return board(g).ap_mode; }
std::uint64_t aiBufferResets(const WifiControls& g) { return board(g).ai_buffer_resets; }

}  // namespace

void bindWifiControls(nb::module_& s, nb::handle tcp, nb::handle usb) {
  nb::class_<WifiControls>(s, "WifiControls", "The board controls of an emulated Wi-Fi device (dev.wifi).")
      .def_prop_rw("battery", &battery, &setBattery, "Battery voltage, millivolts (0..65535).")
      .def_prop_rw("power_good", &powerGood, &setPowerGood, "The 'fully charged' input (digital port 1, bit 0).")
      .def_prop_rw("charging", &charging, &setCharging, "The 'charging' input (digital port 1, bit 1).")
      .def_prop_ro("leds", &leds, "(red, green, blue): 1 for an LED that is on (digital port 0, bits 0..2).")
      .def_prop_rw("rssi", &rssi, &setRssi, "Received signal strength, dBm (-256..-1).")
      .def_prop_rw("board_temperature", &temperature, &setTemperature,
                   "The on-board thermometer, degrees Celsius (reported in 1/128 degree).")
      .def_prop_rw("acceleration", &acceleration, &setAcceleration,
                   "The accelerometer's (x, y, z) words as the board reports them (each 0..65535).")
      .def_prop_ro("bandwidth", &bandwidth, "The radio bandwidth the host set: 1 HT20, 2 HT40.")
      .def_prop_ro("retry_count", &retryCount, "Reconnection retries the host set.")
      .def_prop_ro("ap_seconds", &apSeconds, "Seconds in access-point mode the host set.")
      .def_prop_ro("ap_mode", &apMode, "True once the host switched the device to access-point mode (state only).")
      .def_prop_ro("ai_buffer_resets", &aiBufferResets, "How many analog-input buffer resets the device answered.");
  addGroupProperty<WifiControls>(tcp, usb, "wifi", "Wi-Fi board", "Wi-Fi board controls (WifiControls).");
}

}  // namespace zelvo::py
