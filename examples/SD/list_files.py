"""Look for files on the device's SD card and tell how long each one is, with the awaitable
operations. The card lists no directory, so the script tries the names it knows.

    python list_files.py [IP] [--product NAME] [--emulate]

With --emulate the card holds config.txt and data_0001.csv.
"""

import asyncio

from pyzelvo.examples import Example

NAMES = ["config.txt", "data_0001.csv", "data_0002.csv", "log.txt"]
READ = 1  # mode: open an existing file
CHUNK = 254


async def file_length(dev) -> int:
    length = 0
    while chunk := await dev.SD_readFile_async(CHUNK):
        length += len(chunk)
    return length


async def main() -> None:
    example = Example("SD", "list_files", __doc__)
    dev = example.open()
    await dev._SD_open_async()
    print(f"card: {await dev.SD_getStorage_async()} MB")
    for name in NAMES:
        if await dev.SD_openFile_async(name, READ) != 0:  # a negative code: no such file
            print(f"  {name:16} not found")
            continue
        print(f"  {name:16} {await file_length(dev)} bytes")
        await dev.SD_closeFile_async()
    await dev._SD_close_async()
    dev.close()


asyncio.run(main())
