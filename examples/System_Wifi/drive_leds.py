"""Light the red, green and blue LEDs of a Wi-Fi device in turn, then all together, with the
awaitable operations; switch them off at the end.

    python drive_leds.py [IP] [--product NAME] [--emulate]
"""

import asyncio

from pyzelvo.examples import Example

ON, OFF = 1, 0
STEP_SECONDS = 0.3


async def main() -> None:
    example = Example("System_Wifi", "drive_leds", __doc__)
    dev = example.open()
    leds = {"red": dev.Wifi_setRedLED_async, "green": dev.Wifi_setGreenLED_async, "blue": dev.Wifi_setBlueLED_async}
    for colour, set_led in leds.items():  # one at a time
        await set_led(ON)
        print(f"{colour} on")
        await asyncio.sleep(STEP_SECONDS)
        await set_led(OFF)
    await asyncio.gather(*(set_led(ON) for set_led in leds.values()))  # all three at once
    print("all on")
    await asyncio.sleep(STEP_SECONDS)
    print("reset:", await dev.Wifi_resetLED_async())
    dev.close()


asyncio.run(main())
