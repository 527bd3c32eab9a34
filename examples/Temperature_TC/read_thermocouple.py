"""Read two thermocouple channels a few times, with the probe's open-circuit status.

    python read_thermocouple.py [TARGET] [--product NAME] [--emulate]

With --emulate channel 0 is a probe at 85 degrees Celsius heating slowly, channel 1 at room
temperature.
"""

import time

from pyzelvo.examples import Example

CHANNELS = (0, 1)
TYPE_K = 0
READINGS = 3

example = Example("Temperature_TC", "read_thermocouple", __doc__)
dev = example.open()
port = example.port

dev.Thermal_open(port)
for channel in CHANNELS:
    dev.Thermal_setType(port, channel, TYPE_K)
for _ in range(READINGS):
    line = []
    for channel in CHANNELS:
        celsius = dev.Thermal_readSensor(port, channel)
        open_circuit = dev.Thermal_getStatus(port, channel) & 1
        line.append(f"ch{channel} {celsius:8.3f} °C" + (" (open circuit)" if open_circuit else ""))
    print("   ".join(line))
    time.sleep(0.5)
dev.Thermal_close(port)

dev.close()
