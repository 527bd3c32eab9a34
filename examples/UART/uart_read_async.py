"""Collect what arrives on a UART port for a moment with the awaitable read, which takes what is
queued without waiting.

    python uart_read_async.py [SERIAL] [--product NAME] [--emulate]

With --emulate the far side sends a line of text.
"""

import asyncio

from pyzelvo.examples import Example

BAUD = 115200
ALL_QUEUED = -1
POLLS, POLL_S = 10, 0.05


async def main() -> None:
    example = Example("UART", "uart_read_async", __doc__)
    dev = example.open()
    port = example.port
    await dev.UART_open_async(port)
    await dev.UART_setBaudRate_async(port, BAUD)
    received = ""
    for _ in range(POLLS):
        await asyncio.sleep(POLL_S)
        received += "".join(await dev.UART_read_async(port, ALL_QUEUED))
    print("received:", repr(received))
    await dev.UART_close_async(port)
    dev.close()


asyncio.run(main())
