"""Read the position and speed of a quadrature encoder for a moment.

    python read_encoder.py [SERIAL] [--product NAME] [--emulate]

With --emulate the encoder's shaft turns at 400 counts per second.
"""

import time

from pyzelvo.examples import Example

FORWARD = 1
READINGS = 5

example = Example("Encoder", "read_encoder", __doc__)
dev = example.open()
channel = example.port

dev.Encoder_open(channel)
dev.Encoder_setDirection(channel, FORWARD)
dev.Encoder_setPosition(channel, 0)
dev.Encoder_start(channel)
for _ in range(READINGS):
    time.sleep(0.1)
    position, frequency = dev._Encoder_read(channel)
    print(f"position {position:6d}, {frequency:7.1f} counts/s")
dev.Encoder_stop(channel)
dev.Encoder_close(channel)

dev.close()
