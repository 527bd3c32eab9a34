"""Count the rising edges on a counter input for half a second and read the input frequency.

    python count_pulses.py [SERIAL] [--product NAME] [--emulate]

With --emulate the input sees a 1 kHz pulse train.
"""

import time

from pyzelvo.examples import Example

RISING = 1
WINDOW_MS = 100.0  # the frequency is measured over this moving window

example = Example("Counter", "count_pulses", __doc__)
dev = example.open()
channel = example.port

dev.Counter_open(channel)
dev.Counter_setEdge(channel, RISING)
dev.Counter_setPosition(channel, 0)
dev.Counter_setFreqWindow(channel, WINDOW_MS)
dev.Counter_start(channel)
time.sleep(0.5)
position, frequency = dev._Counter_read(channel)  # both in one exchange
print(f"{position} pulses counted; input frequency {frequency:.1f} Hz")
dev.Counter_stop(channel)
dev.Counter_close(channel)

dev.close()
