"""Run a stepper motor at a constant speed and read its status: velocity, position, switches, alarms.

    python drive_read_status.py [TARGET] [--product NAME] [--emulate]
"""

import time

from pyzelvo.examples import Example

SPEED = 20_000  # microsteps per second
FORWARD = 0
RATE = 1_000_000  # microsteps per second squared

example = Example("Drive", "drive_read_status", __doc__)
dev = example.open()
port = example.port

dev.Motion_open(port)
dev.Motion_startVelocticyMove(port, SPEED, FORWARD, RATE, RATE)
time.sleep(0.3)
print("procedure state:", dev.Motion_getProcessState(port))  # 1 running
print("velocity:", dev.Motion_readCurrentVelocity(port))
print("[encoder, position]:", dev.Motion_readEncoderPosition(port))
print("switches [left, right, home]:", dev.Motion_getLimitStatus(port))
print("alarms:", dev.Motion_getAlarmStatus(port))
print("stop:", dev.Motion_stopProcess(port))
dev.Motion_close(port)

dev.close()
