"""Follow a quadrature encoder with the awaitable operations, counting backwards.

    python read_encoder_async.py [SERIAL] [--product NAME] [--emulate]

With --emulate the encoder's shaft turns at 400 counts per second.
"""

import asyncio

from pyzelvo.examples import Example

BACKWARD = -1
READINGS = 5


async def main() -> None:
    example = Example("Encoder", "read_encoder_async", __doc__)
    dev = example.open()
    channel = example.port
    await dev.Encoder_open_async(channel)
    await dev.Encoder_setDirection_async(channel, BACKWARD)
    print("direction reported:", await dev.Encoder_getDirection_async(channel))  # 255: backwards
    await dev.Encoder_setPosition_async(channel, 1000)
    await dev.Encoder_start_async(channel)
    for _ in range(READINGS):
        await asyncio.sleep(0.1)
        print("position", await dev.Encoder_readPosition_async(channel))
    await dev.Encoder_stop_async(channel)
    await dev.Encoder_close_async(channel)
    dev.close()


asyncio.run(main())
