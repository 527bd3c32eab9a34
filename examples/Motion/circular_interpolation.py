"""Move two axes along a half circle with the awaitable operations: centre 2000 pulses ahead on
axis 0, end point 4000 ahead, counterclockwise.

    python circular_interpolation.py [TARGET] [--product NAME] [--emulate]
"""

import asyncio

from pyzelvo.examples import Example

X_AXIS, Y_AXIS = 0, 1
CENTRE = (2000, 0)  # pulses, relative to where the axes stand
FINISH = (4000, 0)
COUNTERCLOCKWISE = 1  # 0 clockwise
SPEED, RATE = 20_000, 200_000
STOPPED = 1
LIMIT_S = 10.0


async def main() -> None:
    example = Example("Motion", "circular_interpolation", __doc__)
    dev = example.open()
    port = example.port
    await dev.Motion_open_async(port)
    status = await dev.Motion_cfgCircularInterpo_async(port, X_AXIS, Y_AXIS, *CENTRE, *FINISH, COUNTERCLOCKWISE,
                                                       SPEED, RATE, RATE)
    print("configure:", status)
    print("start:", await dev.Motion_startCircularInterpo_async(port))
    for _ in range(int(LIMIT_S / 0.1)):
        positions = [await dev.Motion_getLogicalPosi_async(port, a) for a in (X_AXIS, Y_AXIS)]
        print("positions:", positions)
        if all([await dev.Motion_getMoveStatus_async(port, a) == STOPPED for a in (X_AXIS, Y_AXIS)]):
            break
        await asyncio.sleep(0.1)
    await dev.Motion_close_async(port)
    dev.close()


asyncio.run(main())
