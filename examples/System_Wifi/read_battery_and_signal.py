"""Read the battery of a Wi-Fi device, whether it is charging, and how well it hears its access point.

    python read_battery_and_signal.py [IP] [--product NAME] [--emulate]
"""

from pyzelvo.examples import Example

BANDWIDTHS = {1: "HT20", 2: "HT40"}

example = Example("System_Wifi", "read_battery_and_signal", __doc__)
dev = example.open()

print(f"Battery: {dev.Wifi_readBattery()} mV")
print("Charging:", "yes" if dev.Wifi_getChargeStatus() else "no",
      "| fully charged:", "yes" if dev.Wifi_getPowerGoodStatus() else "no")
print(f"Signal: {dev.Wifi_readRSSI()} dBm, bandwidth {BANDWIDTHS.get(dev.Wifi_getWifiBandWidth(), '?')}")
print("Kept on the object:", dev.battery, "mV,", dev.rssi, "dBm")

dev.close()
