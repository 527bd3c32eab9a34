"""Read the analog inputs on demand a few times, each reading stamped with the device's clock.

    python read_ai_with_timestamp.py [IP] [--product NAME] [--emulate]
"""

import time

from pyzelvo.examples import Example

READINGS = 3

example = Example("RTC_AI", "read_ai_with_timestamp", __doc__)
dev = example.open()
port = example.port

dev.AI_open(port)
for _ in range(READINGS):
    stamp = dev.Sys_getRTC()
    volts = dev.AI_readOnDemand(port)
    print(stamp, " ".join(f"{v:+.3f}" for v in volts))
    time.sleep(0.2)
dev.AI_close(port)

dev.close()
