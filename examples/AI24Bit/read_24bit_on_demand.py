"""Read every 24-bit analog input channel on demand, a few times.

    python read_24bit_on_demand.py [IP] [--product NAME] [--emulate]
"""

import time

from pyzelvo.examples import Example

READINGS = 3

example = Example("AI24Bit", "read_24bit_on_demand", __doc__)
dev = example.open()
port = example.port

dev.AI_open(port)
for _ in range(READINGS):
    values = dev.AI_readOnDemand(port)
    print("Channels:", ", ".join(f"{v:+.6f}" for v in values))
    time.sleep(0.1)
dev.AI_close(port)

dev.close()
