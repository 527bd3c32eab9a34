"""Tutorial: one polling loop in a worker thread while the main thread goes on. Blocking operations
release the interpreter, so the main thread is never held up by the device.

    python single_loop_thread.py [TARGET] [--product NAME] [--emulate]
"""

import threading
import time

from pyzelvo.examples import Example

ROUNDS = 5


def poll_clock(dev, results: list) -> None:
    for _ in range(ROUNDS):
        results.append(dev.Sys_getRTC())
        time.sleep(0.1)


example = Example("Tutorial", "single_loop_thread", __doc__)
dev = example.open()

results: list = []
worker = threading.Thread(target=poll_clock, args=(dev, results))
worker.start()
while worker.is_alive():
    print(f"main thread: {len(results)} readings so far")
    time.sleep(0.15)
worker.join()
print("clock readings:", results)

dev.close()
