// The Wi-Fi module and the system analog readings of the Wi-Fi products.
#include "binding/modules.hpp"
#include "binding/ops.hpp"
#include "zelvo/system/system_analog_module.hpp"
#include "zelvo/system/wifi_module.hpp"

namespace zelvo::py {
namespace {

constexpr std::array<const char*, 0> kNone{};

// An operation without arguments whose awaitable twin is not simply NAME_async.
template <auto Fn>
void defOpTwins(nb::handle cls, const char* name, const char* async_name, const char* doc) {
  using OpT = OpOf<Fn>;
  const OpSignature<0> sig;
  defBlockingImpl<OpT>(cls, name, sig, doc, std::make_index_sequence<0>{});
  defAwaitableImpl<OpT>(cls, async_name, sig, doc, std::make_index_sequence<0>{});
}

}  // namespace

void bindWifiModule(nb::handle cls) {
  using W = WifiModule;
  defOp<&W::getPowerGoodStatus>(cls, "Wifi_getPowerGoodStatus", kNone, "1 when the battery is fully charged, else 0.");
  defOp<&W::getChargeStatus>(cls, "Wifi_getChargeStatus", kNone, "1 while the battery is charging, else 0.");
  defOp<&W::resetLED>(cls, "Wifi_resetLED", kNone, "Switches the three LEDs off; returns 0.");
  defOp<&W::setRedLED>(cls, "Wifi_setRedLED", {"value"}, "Red LED on when value > 0, else off; the others keep their state. Returns 0.");
  defOp<&W::setGreenLED>(cls, "Wifi_setGreenLED", {"value"}, "Green LED on when value > 0, else off. Returns 0.");
  defOp<&W::setBlueLED>(cls, "Wifi_setBlueLED", {"value"}, "Blue LED on when value > 0, else off. Returns 0.");
  defOp<&W::getWifiBandWidth>(cls, "Wifi_getWifiBandWidth", kNone, "The radio bandwidth: 1 HT20, 2 HT40 (also kept in `bandwidth`).");
  defOp<&W::getConfiguration>(cls, "Wifi_getConfiguration", kNone,
                              "[reconnection retry count, seconds to stay in access-point mode].");
  defOp<&W::readRSSI>(cls, "Wifi_readRSSI", kNone, "Received signal strength in dBm (also kept in `rssi`).");
  defOp<&W::setAP>(cls, "_Wifi_setAP", kNone,
                   "Switches the device from station to access-point mode; 0 or a negative firmware error code.");
  defOp<&W::setBandwidth>(cls, "_Wifi_setBandwidth", {"bandwidth"},
                          "Asks for a radio bandwidth: 1 (HT20) or 2 (HT40), else InputDataNotInRangeError. The request\n"
                          "sent is always HT20 (2 is sent as 1). 0 or a negative firmware error code.");
  defOp<&W::setConfiguration>(cls, "_setWifiConfiguration", {"retry_wifi_times", "ap_time"},
                              "Sets the reconnection retry count and the seconds in access-point mode (each 0..65535);\n"
                              "0 or a negative firmware error code.");
  defState<&W::bandwidth>(cls, "bandwidth", "The bandwidth Wifi_getWifiBandWidth last read (None before).");
  defState<&W::rssi>(cls, "rssi", "The signal strength Wifi_readRSSI last read, dBm (None before).");
}

void bindSystemAnalogModule(nb::handle cls) {
  using S = SystemAnalogModule;
  defOp<&S::readBattery>(cls, "Wifi_readBattery", kNone, "Battery voltage in millivolts (also kept in `battery`).");
  defOp<&S::readThermo>(cls, "_Wifi_readThermo", kNone, "Board temperature in degrees Celsius (also kept in `thermo`).");
  defOpTwins<&S::readAcceleration>(cls, "_Wifi_readAcceleration", "_Wifi_readAccleration_async",
                                   "The x, y and z words of the on-board accelerometer.");
  defOp<&S::resetAIBuffer>(cls, "_Wifi_resetAIBuffer", kNone,
                           "Resets the device's analog-input buffer; 0 or a negative firmware error code.");
  defState<&S::battery>(cls, "battery", "The voltage Wifi_readBattery last read, millivolts (None before).");
  defState<&S::thermo>(cls, "thermo", "The temperature _Wifi_readThermo last read, degrees Celsius (None before).");
}

}  // namespace zelvo::py
