"""Tutorial: one polling loop as an asyncio coroutine. Every operation has an awaitable twin (the
suffix _async); awaiting it lets the event loop run other tasks while the device answers.

    python single_loop_async.py [TARGET] [--product NAME] [--emulate]
"""

import asyncio

from pyzelvo.examples import Example

ROUNDS = 5


async def main() -> None:
    example = Example("Tutorial", "single_loop_async", __doc__)
    dev = example.open()
    for i in range(ROUNDS):
        print(f"round {i}: the device clock reads {await dev.Sys_getRTC_async()}")
        await asyncio.sleep(0.1)
    dev.close()


asyncio.run(main())
