"""Fill the device's output buffer with a staircase and let it play the staircase over and over on
one channel, with the awaitable operations.

    python stream_buffer.py [TARGET] [--product NAME] [--emulate]
"""

import asyncio

from pyzelvo.examples import Example

CONTINUOUS = 2
RATE = 20.0  # values per second: the staircase repeats every second
CHANNEL = 0
STEPS = [0.25 * k for k in range(20)]  # 0 .. 4.75 V
PUSH_MAX = 13  # values one push carries


async def main() -> None:
    example = Example("AO", "stream_buffer", __doc__)
    dev = example.open()
    port = example.port
    capacity, _ = await dev._AO_initialBuffer_async(port)  # empties the buffer
    print(f"buffer emptied; it holds up to {capacity} values")
    for first in range(0, len(STEPS), PUSH_MAX):
        chunk = STEPS[first:first + PUSH_MAX]
        print(f"pushed {len(chunk)} values:", await dev._AO_pushToBuffer_async(port, len(chunk), chunk))
    await dev.AO_openStreaming_async(port)
    await dev.AO_setMode_async(port, CONTINUOUS)
    await dev.AO_setSamplingRate_async(port, RATE)
    await dev.AO_setEnableChannels_async(port, [CHANNEL])  # no form set: the channel plays the buffer
    await dev.AO_startStreaming_async(port)
    for _ in range(5):
        await asyncio.sleep(0.1)
        print(f"channel {CHANNEL}: {(await dev.AO_getValues_async(port))[CHANNEL]:.2f} V")
    samples, _ = await dev._AO_getCounters_async(port)
    print(f"{samples} samples put out so far")
    await dev.AO_closeStreaming_async(port)
    dev.close()


asyncio.run(main())
