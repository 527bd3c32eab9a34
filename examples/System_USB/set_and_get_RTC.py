"""Set the device's real-time clock to the computer's time, then read it back twice.

    python set_and_get_RTC.py [SERIAL] [--product NAME] [--emulate]
"""

import time
from datetime import datetime

from pyzelvo.examples import Example

example = Example("System_USB", "set_and_get_RTC", __doc__)
dev = example.open()

now = datetime.now()
status = dev.Sys_setRTC(now.year, now.month, now.day, now.hour, now.minute, now.second)
print(f"Set the clock to {now:%Y-%m-%d %H:%M:%S}: status {status}")
for _ in range(2):
    print("Device clock:", dev.Sys_getRTC())
    time.sleep(1)

dev.close()
