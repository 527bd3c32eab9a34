"""Set one digital potentiometer channel to a quarter of its resistance and read the wiper back.

    python set_resistance_ratio.py [IP] [--product NAME] [--emulate]
"""

from pyzelvo.examples import Example

CHANNEL = 0
RATIO = 0.25

example = Example("DPOT", "set_resistance_ratio", __doc__)
dev = example.open()
port = example.port

dev.DPOT_open(port)  # checks the port; nothing is sent
print("write:", dev.DPOT_writeByChannel(port, CHANNEL, RATIO))  # 0, or a negative error code
print(f"channel {CHANNEL} reads back {dev.DPOT_readByChannel(port, CHANNEL)}")
dev.DPOT_close(port)

dev.close()
