"""Close the relays one after the other, open them all, and read how often each has closed.
The relays are driven by the device's digital outputs: output pin k of the relay port drives
relay k.

    python switch_relays.py [IP] [--product NAME] [--emulate]
"""

import time

from pyzelvo.examples import Example

ALL_COUNTERS = -1

example = Example("Relay", "switch_relays", __doc__)
dev = example.open()
port = example.port
outputs = example.port_in(dev.do_dict)
relays = dev.do_dict[outputs]

dev.Relay_open(port)
before = dev.Relay_read(port, ALL_COUNTERS)
for relay in relays:
    dev.DO_writePins(outputs, [relay], [1])  # close it
    print(f"relay {relay} closed")
    time.sleep(0.05)
dev.DO_writePort(outputs, 0)  # open them all
after = dev.Relay_read(port, ALL_COUNTERS)
print("closings per relay during this run:", [a - b for a, b in zip(after, before)])
dev.Relay_close(port)

dev.close()
