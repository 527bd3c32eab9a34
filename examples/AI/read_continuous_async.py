"""Stream every channel continuously with the awaitable operations, while another task of the same
event loop keeps a clock going: reading never blocks the loop.

    python read_continuous_async.py [TARGET] [--product NAME] [--emulate]
"""

import asyncio

from pyzelvo.examples import Example

CONTINUOUS_MODE = 2
RATE = 1000
BLOCKS = 5
BLOCK = 200


async def ticker(stop: asyncio.Event) -> int:
    ticks = 0
    while not stop.is_set():
        await asyncio.sleep(0.05)
        ticks += 1
    return ticks


async def main() -> None:
    example = Example("AI", "read_continuous_async", __doc__)
    dev = example.open()
    port = example.port
    await dev.AI_open_async(port)
    await dev.AI_setMode_async(port, CONTINUOUS_MODE)
    await dev.AI_setSamplingRate_async(port, RATE)
    await dev.AI_openStreaming_async(port)
    await dev.AI_startStreaming_async(port)

    stop = asyncio.Event()
    ticks = asyncio.create_task(ticker(stop))
    for _ in range(BLOCKS):
        rows = await dev.AI_readStreaming_async(port, BLOCK, 1.0)
        channel0 = [row[0] for row in rows]
        print(f"{len(rows)} rows, channel 0 between {min(channel0):+.3f} V and {max(channel0):+.3f} V")
    stop.set()
    print(f"meanwhile the ticker ran {await ticks} times")

    await dev.AI_closeStreaming_async(port)
    await dev.AI_close_async(port)
    dev.close()


asyncio.run(main())
