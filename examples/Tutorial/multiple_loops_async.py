"""Tutorial: several polling loops as coroutines of one event loop, sharing one device.

    python multiple_loops_async.py [TARGET] [--product NAME] [--emulate]
"""

import asyncio

from pyzelvo.examples import Example

ROUNDS = 4


async def loop(name: str, read) -> None:
    for i in range(ROUNDS):
        print(f"{name} {i}: {await read()}")
        await asyncio.sleep(0.05)


async def main() -> None:
    example = Example("Tutorial", "multiple_loops_async", __doc__)
    dev = example.open()
    await asyncio.gather(
        loop("clock ", dev.Sys_getRTC_async),
        loop("serial", dev.Sys_getSerialNumber_async),
        loop("alias ", dev.Sys_getDeviceAlias_async),
    )
    dev.close()


asyncio.run(main())
