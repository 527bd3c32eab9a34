"""Send a few CAN frames at 500 kbit/s: standard, extended and remote.

    python send_frames.py [SERIAL] [--product NAME] [--emulate]
"""

from pyzelvo.examples import Example

SPEED_500K = 2  # 0 125 k, 1 250 k, 2 500 k, 3 1 Mbit/s
FRAMES = [  # (identifier, data, remote, extended identifier)
    (0x123, [0x11, 0x22, 0x33], False, False),
    (0x18FF50E5, [1, 2, 3, 4, 5, 6, 7, 8], False, True),
    (0x456, [], True, False),
]

example = Example("CAN", "send_frames", __doc__)
dev = example.open()
port = example.port

print("open:", dev.CAN_open(port))
print("speed:", dev.CAN_setSpeed(port, SPEED_500K))
for id_, data, remote, extended in FRAMES:
    status = dev.CAN_write(port, id_, data, remote=remote, extended_id=extended)
    print(f"frame 0x{id_:X} {data}{' remote' if remote else ''}: {status}")
dev.CAN_close(port)

dev.close()
