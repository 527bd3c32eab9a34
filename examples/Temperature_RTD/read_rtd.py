"""Read the resistance thermometers of a port, both channels at once, with the awaitable operations.

    python read_rtd.py [SERIAL] [--product NAME] [--emulate]

With --emulate channel 0 sits at 85 degrees Celsius, heating slowly, channel 1 at room temperature.
"""

import asyncio

from pyzelvo.examples import Example

CHANNELS = (0, 1)
READINGS = 3


async def main() -> None:
    example = Example("Temperature_RTD", "read_rtd", __doc__)
    dev = example.open()
    port = example.port
    await dev.Thermal_open_async(port)
    for _ in range(READINGS):
        temperatures = await asyncio.gather(*(dev.Thermal_readSensor_async(port, c) for c in CHANNELS))
        print("   ".join(f"ch{c} {t:8.3f} °C" for c, t in zip(CHANNELS, temperatures)))
        await asyncio.sleep(0.5)
    await dev.Thermal_close_async(port)
    dev.close()


asyncio.run(main())
