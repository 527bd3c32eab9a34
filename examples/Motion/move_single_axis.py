"""Move one axis of a motion controller by 5000 pulses and read its position as it goes.

    python move_single_axis.py [TARGET] [--product NAME] [--emulate]
"""

import time

from pyzelvo.examples import Example

AXIS = 0
RELATIVE = 1  # move mode; 0 absolute, 2 velocity
DISTANCE = 5000  # pulses
SPEED, RATE = 20_000, 200_000  # pulses per second, pulses per second squared
STOPPED = 1
LIMIT_S = 10.0

example = Example("Motion", "move_single_axis", __doc__)
dev = example.open()
port = example.port

dev.Motion_open(port)
print("configure:", dev.Motion_cfgAxisMove(port, AXIS, RELATIVE, DISTANCE, SPEED, RATE, RATE))
print("start:", dev.Motion_startSingleAxisMove(port, AXIS))
end = time.monotonic() + LIMIT_S
while dev.Motion_getMoveStatus(port, AXIS) != STOPPED and time.monotonic() < end:
    print("position:", dev.Motion_getLogicalPosi(port, AXIS))
    time.sleep(0.1)
print("stopped at:", dev.Motion_getLogicalPosi(port, AXIS))
dev.Motion_close(port)

dev.close()
