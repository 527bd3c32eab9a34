"""Receive CAN frames for half a second with the awaitable operations.

    python receive_frames.py [SERIAL] [--product NAME] [--emulate]

With --emulate another node sends a numbered frame every 50 ms.
"""

import asyncio

from pyzelvo.examples import Example

SPEED_500K = 2
ALL_QUEUED = -1
LISTEN_S = 0.5


async def main() -> None:
    example = Example("CAN", "receive_frames", __doc__)
    dev = example.open()
    port = example.port
    await dev.CAN_open_async(port)
    await dev.CAN_setSpeed_async(port, SPEED_500K)
    await dev.CAN_start_async(port)  # the device streams what it receives
    await asyncio.sleep(LISTEN_S)
    frames = await dev.CAN_read_async(port, ALL_QUEUED)
    for frame in frames if isinstance(frames, list) else [frames]:
        print(frame)
    await dev.CAN_close_async(port)
    dev.close()


asyncio.run(main())
