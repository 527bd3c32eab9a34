"""Sweep the duty cycle of a running PWM output from 10 % to 90 % with the awaitable operations.

    python sweep_duty_cycle_async.py [TARGET] [--product NAME] [--emulate]
"""

import asyncio

from pyzelvo.examples import Example

FREQUENCY = 500.0
DUTY_CYCLES = [10.0, 30.0, 50.0, 70.0, 90.0]


async def main() -> None:
    example = Example("PWM", "sweep_duty_cycle_async", __doc__)
    dev = example.open()
    channel = example.port
    await dev.PWM_open_async(channel)
    await dev.PWM_setFrequency_async(channel, FREQUENCY)
    await dev.PWM_start_async(channel)
    for duty in DUTY_CYCLES:
        status = await dev.PWM_setDutyCycle_async(channel, duty)
        print(f"duty cycle {duty:4.0f} %: status {status}")
        await asyncio.sleep(0.1)
    await dev.PWM_stop_async(channel)
    await dev.PWM_close_async(channel)
    dev.close()


asyncio.run(main())
