"""Read every analog input channel on demand, a few times.

    python read_on_demand.py [TARGET] [--product NAME] [--emulate]
"""

import time

from pyzelvo.examples import Example

READINGS = 3

example = Example("AI", "read_on_demand", __doc__)
dev = example.open()
port = example.port

dev.AI_open(port)
for _ in range(READINGS):
    volts = dev.AI_readOnDemand(port)
    print("Channels (V):", ", ".join(f"{v:+.4f}" for v in volts))
    time.sleep(0.1)
dev.AI_close(port)

dev.close()
