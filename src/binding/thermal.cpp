// The thermal modules (thermocouple and resistance-thermometer inputs): operations and checks.
#include "binding/modules.hpp"
#include "binding/ops.hpp"
#include "zelvo/analog/thermal_module.hpp"

namespace zelvo::py {
namespace {

// A flag that must be a real bool: the integer 1 is refused with the library's type error.
struct RealBool {
  bool value = false;
};

}  // namespace

template <>
struct Arg<RealBool> {
  static constexpr const char* pyName = "bool";
  static RealBool from(nb::handle h, const char* name) {
    if (!PyBool_Check(h.ptr())) wrongType(name, "a bool", h);
    return RealBool{h.ptr() == Py_True};
  }
};

namespace {

using T = ThermalModule;

Op<int> setJunctionOn(Device& d, Call& c, int port, int channel, RealBool status) {
  co_return co_await moduleOf<T>(d).setJunctionOn(c, port, channel, status.value);
}

// What both kinds share.
void bindThermalCommon(nb::handle cls) {
  defOp<&T::open>(cls, "Thermal_open", {"port"},
                  "Opens a thermal port after checking that its pins are free; the firmware status byte.");
  defOp<&T::close>(cls, "Thermal_close", {"port"}, "Closes a thermal port; the firmware status byte.");
  defOp<&T::readSensor>(cls, "Thermal_readSensor", {"port", "channel"},
                        "The channel's temperature in degrees Celsius, rounded to 3 decimals.");
  defOp<&T::getStatus>(cls, "Thermal_getStatus", {"port", "channel"},
                       "The channel's status byte (bit 0: open-circuit fault; only that bit on Pellor-K1-TD).");
  defOp<&T::setNoiseFilter>(cls, "_Thermal_setNoiseFilter", {"port", "channel", "mode"},
                            "Noise-rejection filter: 0 60 Hz, 1 50 Hz; the firmware status byte.");
  defOp<&T::readOffset>(cls, "_Thermal_readOffset", {"port", "channel"}, "The channel's offset, degrees Celsius.");
  defOp<&T::writeOffset>(cls, "_Thermal_writeOffset", {"port", "channel", "temperature"},
                         "Sets the channel's offset (degrees Celsius); the firmware status byte.");
  defOp<&T::loadOffset>(cls, "_Thermal_loadOffset", {"port", "channel"},
                        "Loads the stored offset into use; the offset, degrees Celsius.");
  defOp<&T::saveOffset>(cls, "_Thermal_saveOffset", {"port", "channel", "temperature"},
                        "Stores an offset (degrees Celsius) that survives a reboot; the firmware status byte.");
  defOp<&T::checkPinState>(cls, "_checkThermalPinState", {"port", "allow_state"},
                           "True when every thermal pin is in one of the allowed modes, else ThermalPortNotAvaliableError.");
  defCheck<&T::pinMap>(cls, "Thermal_getPinMap", {}, "The thermal port map: port -> (device port, pin) references.");
  defCheck<&T::pinMapPorts>(cls, "_Thermal_getPinMapPort", {}, "The device ports that carry thermal pins.");
  defCheck<&T::checkPort>(cls, "_checkThermalPort", {"port"}, "ThermalPortNotAvaliableError unless the port is thermal.");
  defCheck<&T::checkChipSelect>(cls, "_checkThermalChipSelect", {"channel"},
                                "ThermalChipSelectNotAvaliableError unless the model has the channel.");
  defCheck<&T::checkFilterMode>(cls, "_checkThermalFilterMode", {"mode"}, "ThermalModeNotVaildError unless 0 or 1.");
  defCheck<&T::checkSamplingMode>(cls, "_checkThermalSamplingMode", {"mode"}, "ThermalModeNotVaildError unless 0 to 4.");
  defCheck<&T::checkTCType>(cls, "_checkThermalTCType", {"type_"}, "ThermalTypeNotVaildError unless 0 to 7.");
  defCheck<&T::checkRTDType>(cls, "_checkThermalRTDType", {"type_"}, "ThermalTypeNotVaildError unless 0 or 1.");
}

}  // namespace

void bindThermocoupleModule(nb::handle cls) {
  bindThermalCommon(cls);
  defOp<&T::setOverSampling>(cls, "Thermal_setOverSampling", {"port", "channel", "mode"},
                             "Oversampling: 0 one sample, 1 two, 2 four, 3 eight, 4 sixteen; the firmware status byte.");
  defOp<&T::setTCType>(cls, "Thermal_setType", {"port", "channel", "type_"},
                       "Thermocouple type: 0 B, 1 E, 2 J, 3 K, 4 N, 5 R, 6 S, 7 T; the firmware status byte.");
  defOp<&T::readJunction>(cls, "_Thermal_readJunction", {"port", "channel"}, "The cold-junction temperature, degrees Celsius.");
  defOp<&setJunctionOn>(cls, "_Thermal_setJunctionOn", {"port", "channel", "status"},
                        "Cold-junction compensation on (True) or off (False; a bool, not an int); the firmware status "
                        "byte.");
  defOp<&T::writeJunction>(cls, "_Thermal_writeJunction", {"port", "channel", "temperature"},
                           "The cold-junction temperature to use while compensation is off; the firmware status byte.");
}

void bindThermalResistanceModule(nb::handle cls) {
  bindThermalCommon(cls);
  defOp<&T::setRTDType>(cls, "Thermal_setType", {"port", "channel", "type_"},
                        "Wiring: 0 two- or four-wire, 1 three-wire; the firmware status byte.");
}

}  // namespace zelvo::py
