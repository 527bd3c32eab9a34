"""An emulated device in a process of its own, so that a benchmark measures the driver alone.

    python bench/emulator_process.py MODEL [--unthrottled] [--waveform sine|square|triangle|...]

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
    ap.add_argument("--waveform", default="sine", help="what every analog input channel sees")
    ap.add_argument("--rate", type=float, help="pace streams at this rate (Hz), beyond the model's limit")
    args = ap.parse_args()
    with sim.Emulator() as emu:
        dev = emu.add(args.model)
        dev.ai_unthrottled = args.unthrottled
        if args.rate:
            dev.ai_set_rate(args.rate)
        for ch in range(8):
            # Constant levels differ per channel (offset); the others swing around 0.
            offset = 0.5 * (ch + 1) if args.waveform == "constant" else 0.0
            dev.ai_set_waveform(ch, args.waveform, amplitude=1.0 + ch, frequency=10.0 * (ch + 1), offset=offset)
        print(dev.host, dev.port, flush=True)
        for line in sys.stdin:
            if line.strip() == "state":
                print(json.dumps(dev.ai_state(0)), flush=True)
            elif line.strip() == "quit":
                break


if __name__ == "__main__":
    main()
