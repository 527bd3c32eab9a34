"""Set analog outputs on demand: one channel, then all eight at once.

    python write_on_demand.py [TARGET] [--product NAME] [--emulate]
"""

from pyzelvo.examples import Example

CHANNEL = 0
LEVEL = 1.25  # volts
STAIRCASE = [0.5 * k for k in range(8)]  # 0, 0.5, ... 3.5 V: within every model's range

example = Example("AO", "write_on_demand", __doc__)
dev = example.open()
port = example.port

print(f"Output range: {dev.ao_volt_min} .. {dev.ao_volt_max} V")
print("open:", dev.AO_open(port))  # 0 or a negative error code
print(f"channel {CHANNEL} to {LEVEL} V:", dev.AO_writeOneChannel(port, CHANNEL, LEVEL))
print("all channels to", STAIRCASE, "V:", dev.AO_writeAllChannels(port, STAIRCASE))
print("close:", dev.AO_close(port))

dev.close()
