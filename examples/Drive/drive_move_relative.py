"""Move a stepper motor by one revolution (12800 microsteps) and read where it ended.

    python drive_move_relative.py [TARGET] [--product NAME] [--emulate]
"""

import time

from pyzelvo.examples import Example

DISTANCE = 12_800  # microsteps: one turn at 256 microsteps of a 200-step motor
SPEED = 50_000  # microsteps per second
RATE = 2_000_000  # microsteps per second squared, accelerating and decelerating
BY_DISTANCE = 1  # position move mode: relative to where the motor stands
FINISHED = 2  # procedure state
LIMIT_S = 10.0

example = Example("Drive", "drive_move_relative", __doc__)
dev = example.open()
port = example.port

dev.Motion_open(port)
print("[encoder, position] before:", dev.Motion_readEncoderPosition(port))
print("move:", dev.Motion_startPositionMove(port, DISTANCE, SPEED, RATE, RATE, BY_DISTANCE))
end = time.monotonic() + LIMIT_S
while dev.Motion_getProcessState(port) != FINISHED and time.monotonic() < end:
    time.sleep(0.01)
print("procedure state:", dev.Motion_getProcessState(port))
print("[encoder, position] after:", dev.Motion_readEncoderPosition(port))
dev.Motion_close(port)

dev.close()
