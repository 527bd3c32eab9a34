"""Set the four digital potentiometer channels in one command and read each back.

    python set_all_channels.py [IP] [--product NAME] [--emulate]
"""

from pyzelvo.examples import Example

RATIOS = [0.1, 0.4, 0.7, 1.0]  # channel 0 first

example = Example("DPOT", "set_all_channels", __doc__)
dev = example.open()
port = example.port

dev.DPOT_open(port)
print("write:", dev.DPOT_writeAllChannel(port, RATIOS))
for channel, ratio in enumerate(RATIOS):
    print(f"channel {channel}: ratio {ratio} reads back {dev.DPOT_readByChannel(port, channel)}")
dev.DPOT_close(port)

dev.close()
