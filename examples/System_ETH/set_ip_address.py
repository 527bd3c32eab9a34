"""Give a device a new IP address and subnet mask, and read them back.

    python set_ip_address.py IP [--product NAME]
    python set_ip_address.py --emulate

It changes only the device named on the command line (or, with --emulate, an emulated one), never
the catalogue's default address. Edit NEW_IP and NEW_MASK first.
"""

import asyncio

from pyzelvo.examples import Example

NEW_IP = "192.168.1.120"
NEW_MASK = "255.255.255.0"


async def main() -> None:
    example = Example("System_ETH", "set_ip_address", __doc__)
    if not (example.emulate or example.target_named):
        raise SystemExit("Name the device to re-address (set_ip_address.py IP), or run it with --emulate.")
    dev = example.open()
    print("before:", await dev.Net_getIPAddrAndSubmask_async())
    status = await dev.Net_setIPAddrAndSubmask_async(NEW_IP, NEW_MASK)
    print(f"set to {NEW_IP} / {NEW_MASK}:", status)  # 0, or a negative code for addresses it refuses
    print("after:", await dev.Net_getIPAddrAndSubmask_async())
    print(f"From now on connect to it at {NEW_IP}.")
    dev.close()


asyncio.run(main())
