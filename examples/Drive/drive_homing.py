"""Search the home switch of a stepper drive with the awaitable operations, then zero the counters.

    python drive_homing.py [TARGET] [--product NAME] [--emulate]

With --emulate a home switch sits between microsteps -3200 and -3000, behind the motor.
"""

import asyncio
import time

from pyzelvo.examples import Example

SEARCH_SPEED, APPROACH_SPEED = 20_000, 2_000  # microsteps per second
ACCELERATION = 2_000_000
SEARCH_DIRECTION, APPROACH_DIRECTION = 1, 0  # search backward, approach forward
OFFSET = 100  # microsteps moved on from the switch before the counters are set to 0
RUNNING = 1  # procedure state; 2 finished, 3 failed
LIMIT_S = 10.0


async def main() -> None:
    example = Example("Drive", "drive_homing", __doc__)
    dev = example.open()
    port = example.port
    await dev.Motion_open_async(port)
    status = await dev.Motion_startFindHome_async(port, SEARCH_SPEED, APPROACH_SPEED, ACCELERATION, SEARCH_DIRECTION,
                                                  APPROACH_DIRECTION, OFFSET, "true")
    print("home search:", status)
    end = time.monotonic() + LIMIT_S
    while (state := await dev.Motion_getProcessState_async(port)) == RUNNING and time.monotonic() < end:
        await asyncio.sleep(0.01)
    print("procedure state:", state)
    print("[encoder, position]:", await dev.Motion_readEncoderPosition_async(port))
    await dev.Motion_close_async(port)
    dev.close()


asyncio.run(main())
