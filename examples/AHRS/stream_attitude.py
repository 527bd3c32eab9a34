"""Follow the attitude as it changes: read the orientation five times a second with the awaitable
operations, then set it back to level.

    python stream_attitude.py [IP] [--product NAME] [--emulate]

With --emulate the sensor turns slowly about its y and z axes.
"""

import asyncio

from pyzelvo.examples import Example

PERIOD = 0.2  # seconds between readings
READINGS = 6


async def main() -> None:
    example = Example("AHRS", "stream_attitude", __doc__)
    dev = example.open()
    port = example.port
    await dev.AHRS_open_async(port)
    await dev.AHRS_start_async(port)
    for _ in range(READINGS):
        await asyncio.sleep(PERIOD)
        roll, pitch, yaw = await dev.AHRS_getOrientation_async(port)
        print(f"roll {roll:7.2f}°  pitch {pitch:7.2f}°  yaw {yaw:7.2f}°")
    print("reset to level:", await dev.AHRS_reset_async(port))
    print("orientation now:", await dev.AHRS_getOrientation_async(port))
    await dev.AHRS_stop_async(port)
    await dev.AHRS_close_async(port)
    dev.close()


asyncio.run(main())
