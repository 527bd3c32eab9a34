"""Stream every channel continuously for a second, reading the samples in blocks as they come.

    python read_continuous.py [TARGET] [--product NAME] [--emulate]
"""

import time

from pyzelvo.examples import Example

CONTINUOUS_MODE = 2
RATE = 1000  # samples per second and channel
SECONDS = 1.0
BLOCK = 250

example = Example("AI", "read_continuous", __doc__)
dev = example.open()
port = example.port

dev.AI_open(port)
dev.AI_setMode(port, CONTINUOUS_MODE)
dev.AI_setSamplingRate(port, RATE)
dev.AI_openStreaming(port)
dev.AI_startStreaming(port)

total = 0
end = time.monotonic() + SECONDS
while time.monotonic() < end:
    block = dev.AI_readStreaming(port, BLOCK, 0.2)  # up to BLOCK rows, waiting at most 0.2 s
    total += len(block)
    if block:
        channel0 = [row[0] for row in block]
        print(f"{len(block):4} rows, channel 0 between {min(channel0):+.3f} V and {max(channel0):+.3f} V")
print(f"{total} rows in {SECONDS} s; dropped: {dev.AI_getDroppedSamples(port)}")

dev.AI_closeStreaming(port)
dev.AI_close(port)
dev.close()
