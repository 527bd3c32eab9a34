"""Start the attitude sensor, let it run for a second and read its orientation, acceleration and
angular velocity.

    python read_attitude.py [IP] [--product NAME] [--emulate]

With --emulate the sensor turns slowly about its y and z axes.
"""

import time

from pyzelvo.examples import Example

example = Example("AHRS", "read_attitude", __doc__)
dev = example.open()
port = example.port

dev.AHRS_open(port)
dev.AHRS_start(port)  # no reply is awaited
time.sleep(1.0)
roll, pitch, yaw = dev.AHRS_getOrientation(port)
print(f"roll {roll:7.2f}°  pitch {pitch:7.2f}°  yaw {yaw:7.2f}°")
print("acceleration:", dev.AHRS_getAcceleration(port))
print("angular velocity:", dev.AHRS_getAngularVelocity(port))
dev.AHRS_stop(port)
dev.AHRS_close(port)

dev.close()
