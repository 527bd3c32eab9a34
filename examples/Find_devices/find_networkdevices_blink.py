"""Find the devices on the local network, then make each one signal its presence (ring) by its MAC
address, so you can tell which is which, with the awaitable operations.

    python find_networkdevices_blink.py [--emulate]

With --emulate the search stays on this machine, where three emulated devices answer.
"""

import asyncio

from pyzelvo.examples import Example

MAC = 2  # position of the MAC address in a device record
MODEL = 3


async def main() -> None:
    example = Example("Find_devices", "find_networkdevices_blink", __doc__)
    finder = example.open()
    devices = await finder.Bcst_enumerateNetworkDevices_async()
    print(f"{len(devices)} device(s) answered")
    for record in devices:
        await finder.Bcst_checkMACAndRing_async(record[MAC])
        print(f"  {record[MODEL]} at {record[MAC]} rang")
    finder.close()


asyncio.run(main())
