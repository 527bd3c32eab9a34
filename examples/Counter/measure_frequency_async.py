"""Watch the frequency on a counter input with the awaitable operations.

    python measure_frequency_async.py [SERIAL] [--product NAME] [--emulate]

With --emulate the input sees a 1 kHz pulse train.
"""

import asyncio

from pyzelvo.examples import Example

WINDOW_MS = 50.0
READINGS = 5


async def main() -> None:
    example = Example("Counter", "measure_frequency_async", __doc__)
    dev = example.open()
    channel = example.port
    await dev.Counter_open_async(channel)
    await dev.Counter_setFreqWindow_async(channel, WINDOW_MS)
    await dev.Counter_start_async(channel)
    for _ in range(READINGS):
        await asyncio.sleep(WINDOW_MS / 1000)
        print(f"{await dev.Counter_readFrequency_async(channel):8.1f} Hz")
    await dev.Counter_stop_async(channel)
    await dev.Counter_close_async(channel)
    dev.close()


asyncio.run(main())
