"""Generate a 1 kHz pulse train with a 25 % duty cycle on a PWM channel for half a second.

    python generate_pwm.py [TARGET] [--product NAME] [--emulate]
"""

import time

from pyzelvo.examples import Example

FREQUENCY = 1000.0  # Hz
DUTY_CYCLE = 25.0  # percent of the period

example = Example("PWM", "generate_pwm", __doc__)
dev = example.open()
channel = example.port

print("open:", dev.PWM_open(channel))  # every operation returns 0 or a negative error code
print("frequency:", dev.PWM_setFrequency(channel, FREQUENCY))
print("duty cycle:", dev.PWM_setDutyCycle(channel, DUTY_CYCLE))
print("start:", dev.PWM_start(channel))
time.sleep(0.5)
print("stop:", dev.PWM_stop(channel))
dev.PWM_close(channel)

dev.close()
