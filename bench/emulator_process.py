"""An emulated device in a process of its own, so that a benchmark measures the driver alone.

    python bench/emulator_process.py MODEL [--unthrottled]

Prints "HOST PORT" once the device listens, then answers lines on stdin: "state" prints the AI
state of port 0 as JSON, "quit" (or end of input) stops.
"""

from __future__ import annotations

import argparse
import json
import sys

from pyzelvo import sim


def main() -> None:
    ap = argparse.ArgumentParser()
    ap.add_argument("model")
    ap.add_argument("--unthrottled", action="store_true")
    args = ap.parse_args()
    with sim.Emulator() as emu:
        dev = emu.add(args.model)
        dev.ai_unthrottled = args.unthrottled
        print(dev.host, dev.port, flush=True)
        for line in sys.stdin:
            if line.strip() == "state":
                print(json.dumps(dev.ai_state(0)), flush=True)
            elif line.strip() == "quit":
                break


if __name__ == "__main__":
    main()
