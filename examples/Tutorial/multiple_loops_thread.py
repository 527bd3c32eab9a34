"""Tutorial: several polling loops, each in its own thread, sharing one device. Calls from several
threads are safe: each gets its own reply. (The lock only keeps printed lines whole.)

    python multiple_loops_thread.py [TARGET] [--product NAME] [--emulate]
"""

import threading
import time

from pyzelvo.examples import Example

ROUNDS = 4
print_lock = threading.Lock()


def loop(name: str, read) -> None:
    for i in range(ROUNDS):
        value = read()
        with print_lock:
            print(f"{name} {i}: {value}")
        time.sleep(0.05)


example = Example("Tutorial", "multiple_loops_thread", __doc__)
dev = example.open()

threads = [
    threading.Thread(target=loop, args=("clock ", dev.Sys_getRTC)),
    threading.Thread(target=loop, args=("serial", dev.Sys_getSerialNumber)),
    threading.Thread(target=loop, args=("alias ", dev.Sys_getDeviceAlias)),
]
for t in threads:
    t.start()
for t in threads:
    t.join()

dev.close()
