"""Open a whole output port and invert all its outputs a few times.

    python toggle_output_port.py [TARGET] [--product NAME] [--emulate]
"""

import time

from pyzelvo.examples import Example

TOGGLES = 4

example = Example("DIO", "toggle_output_port", __doc__)
dev = example.open()
port = example.port_in(dev.do_dict)

dev.DO_openPort(port)
dev.DO_writePort(port, 0b0101_0101)
for _ in range(TOGGLES):
    levels = dev.DO_togglePort(port)  # the port's output levels after the toggle, pin 0 first
    print(f"Port {port}:", "".join(str(level) for level in levels))
    time.sleep(0.1)
dev.DO_closePort(port)

dev.close()
