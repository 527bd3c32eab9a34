"""Home one axis with the awaitable operations: search the home switch backward, approach slowly,
then the next index pulse, move 500 on and set the counters to 0.

    python home_axis.py [TARGET] [--product NAME] [--emulate]

With --emulate axis 0 has a home switch between pulses -3000 and -2800 and an index pulse every 400.
"""

import asyncio

from pyzelvo.examples import Example

AXIS = 0
ENABLED, ACTIVE_HIGH = 1, 1
Z_ACTIVE_LOW = 0
SEARCH_TYPE, BACKWARD = 0, 1
SPEED, RATE = 20_000, 200_000
APPROACH_PERCENT = 10.0  # of the search speed
RESET_COUNTERS, OFFSET = 1, 500
HOMED = 1
LIMIT_S = 10.0


async def main() -> None:
    example = Example("Motion", "home_axis", __doc__)
    dev = example.open()
    port = example.port
    await dev.Motion_open_async(port)
    await dev.Motion_cfgHome_async(port, AXIS, ENABLED, ACTIVE_HIGH)
    await dev.Motion_cfgEncoder_async(port, AXIS, Z_ACTIVE_LOW)
    await dev.Motion_cfgFindRef_async(port, AXIS, SEARCH_TYPE, BACKWARD, SPEED, RATE, APPROACH_PERCENT,
                                      RESET_COUNTERS, OFFSET)
    print("home search:", await dev.Motion_findRef_async(port, AXIS))
    for _ in range(int(LIMIT_S / 0.05)):
        if await dev.Motion_checkRef_async(port, AXIS) == HOMED:
            break
        print("position:", await dev.Motion_getLogicalPosi_async(port, AXIS))
        await asyncio.sleep(0.05)
    print("homed:", await dev.Motion_checkRef_async(port, AXIS) == HOMED)
    print("logical, encoder position:", await dev.Motion_getLogicalPosi_async(port, AXIS),
          await dev.Motion_getEncoderPosi_async(port, AXIS))
    await dev.Motion_close_async(port)
    dev.close()


asyncio.run(main())
