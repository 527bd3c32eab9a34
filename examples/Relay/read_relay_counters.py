"""Read the switching counters of the relays: how many times each relay has closed.

    python read_relay_counters.py [IP] [--product NAME] [--emulate]
"""

from pyzelvo.examples import Example

ALL_COUNTERS = -1

example = Example("Relay", "read_relay_counters", __doc__)
dev = example.open()
port = example.port

dev.Relay_open(port)  # checks the port; nothing is sent
for relay, count in enumerate(dev.Relay_read(port, ALL_COUNTERS)):
    print(f"relay {relay}: closed {count} times")
print("relay 2 alone:", dev.Relay_read(port, 2))
dev.Relay_close(port)

dev.close()
