"""Read every input port at once with the awaitable operations, a few times.

    python read_inputs_async.py [TARGET] [--product NAME] [--emulate]
"""

import asyncio

from pyzelvo.examples import Example

ROUNDS = 3


async def main() -> None:
    example = Example("DIO", "read_inputs_async", __doc__)
    dev = example.open()
    ports = sorted(dev.di_dict)
    for port in ports:
        await dev.DI_openPort_async(port)
    for _ in range(ROUNDS):
        levels = await asyncio.gather(*(dev.DI_readPort_async(port) for port in ports))
        print("  ".join(f"port {port}: {''.join(map(str, lv))}" for port, lv in zip(ports, levels)))
        await asyncio.sleep(0.1)
    for port in ports:
        await dev.DI_closePort_async(port)
    dev.close()


asyncio.run(main())
