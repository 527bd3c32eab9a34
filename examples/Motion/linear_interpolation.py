"""Move two axes along a straight line together: 3000 pulses on axis 0 and -4000 on axis 1.

    python linear_interpolation.py [TARGET] [--product NAME] [--emulate]
"""

import time

from pyzelvo.examples import Example

AXES = (0, 1)
DESTINATION = (3000, -4000)  # pulses, relative to where the axes stand
SPEED, RATE = 20_000, 200_000
STOPPED = 1
LIMIT_S = 10.0

example = Example("Motion", "linear_interpolation", __doc__)
dev = example.open()
port = example.port

dev.Motion_open(port)
print("configure:", dev.Motion_cfg2AxisLinearInterpo(port, AXES[0], DESTINATION[0], AXES[1], DESTINATION[1],
                                                      SPEED, RATE, RATE))
print("start:", dev.Motion_startLinearInterpo(port))
end = time.monotonic() + LIMIT_S
while any(dev.Motion_getMoveStatus(port, a) != STOPPED for a in AXES) and time.monotonic() < end:
    time.sleep(0.05)
print("positions:", [dev.Motion_getLogicalPosi(port, a) for a in AXES])
dev.Motion_close(port)

dev.close()
