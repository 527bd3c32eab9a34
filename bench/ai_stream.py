"""Analog-input streaming: throughput, CPU at the real rate, and a soak run. The emulated device
runs in a process of its own (emulator_process.py); the figures are those of the driver process.

    python bench/ai_stream.py throughput [--seconds 5]   # the array form with the emulator as fast as
                                                        # it can; the list form at a paced 1.2 M/s
    python bench/ai_stream.py cpu [--seconds 10]         # 20 kHz x 8 channels, reading every 50 ms
    python bench/ai_stream.py soak [--seconds 600]       # the same for 10 minutes: losses, memory
"""

from __future__ import annotations

import argparse
import contextlib
import io
import json
import resource
import subprocess
import sys
import time
from pathlib import Path

import pyzelvo

try:  # imported before any stream starts: a first import in the middle of one takes ~0.2 s
    import numpy  # noqa: F401
except ImportError:
    numpy = None

RATE = 20000
LIST_PACE = 1.2e6
CONTINUOUS = 2
PORT = 0


class EmulatorProcess:
    def __init__(self, model: str, unthrottled: bool, pace: float | None = None) -> None:
        cmd = [sys.executable, str(Path(__file__).with_name("emulator_process.py")), model]
        if unthrottled or pace:
            # Constant levels: the figure is the driver's, and on a small machine the emulator
            # shares its cores, so it should spend as little time as it can making samples (a
            # constant channel is encoded once per packet).
            cmd += ["--waveform", "constant"]
        if unthrottled:
            cmd.append("--unthrottled")
        if pace:
            cmd += ["--rate", str(pace)]
        self.proc = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        host, port = self.proc.stdout.readline().split()
        self.host, self.port = host, int(port)

    def state(self) -> dict:
        self.proc.stdin.write("state\n")
        self.proc.stdin.flush()
        return json.loads(self.proc.stdout.readline())

    def stop(self) -> None:
        self.proc.stdin.write("quit\n")
        self.proc.stdin.flush()
        self.proc.wait(timeout=10)


def start_stream(emu: EmulatorProcess, paced: bool) -> pyzelvo.TavraA:
    with contextlib.redirect_stdout(io.StringIO()):
        dev = pyzelvo.TavraA()
        dev.connect(emu.host, emu.port)
    dev.AI_open(PORT)
    dev.AI_setMode(PORT, CONTINUOUS)
    if not paced:  # else the emulator was given a rate beyond what the host may ask for
        dev.AI_setSamplingRate(PORT, RATE)
    dev.AI_openStreaming(PORT)
    dev.AI_startStreaming(PORT)
    return dev


def stop_stream(dev: pyzelvo.TavraA, read) -> int:
    """Stops the stream and returns the samples still delivered after the stop."""
    dev.AI_closeStreaming(PORT)
    rest = 0
    while True:
        n = read(1_000_000, 0.2)
        if n == 0:
            return rest
        rest += n


def run(seconds: float, unthrottled: bool, period: float, array: bool, pace: float | None = None) -> dict:
    emu = EmulatorProcess("TavraA", unthrottled, pace)
    dev = start_stream(emu, bool(pace))

    def read(n: int, delay: float) -> int:
        if array:
            return len(dev.AI_readStreamingArray(PORT, n, delay))
        return len(dev.AI_readStreaming(PORT, n, delay))

    got = 0
    rss = []
    cpu0, t0 = time.process_time(), time.perf_counter()
    next_report = t0 + 60
    while time.perf_counter() - t0 < seconds:
        if period:
            time.sleep(period)
            got += read(1_000_000, 0)
        else:
            got += read(1_000_000, 0.02)
        if time.perf_counter() >= next_report:
            rss.append(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)
            next_report += 60
    cpu, wall = time.process_time() - cpu0, time.perf_counter() - t0
    got += stop_stream(dev, read)
    streamed = emu.state()["samples_streamed"]
    dropped = dev.AI_getDroppedSamples(PORT)
    dev.close(verbose=False)
    emu.stop()
    return {"samples": got, "streamed": streamed, "lost": streamed - got, "dropped": dropped, "cpu": cpu,
            "wall": wall, "rss_kb": rss + [resource.getrusage(resource.RUSAGE_SELF).ru_maxrss]}


def main() -> None:
    ap = argparse.ArgumentParser()
    ap.add_argument("what", choices=["throughput", "cpu", "soak"])
    ap.add_argument("--seconds", type=float)
    args = ap.parse_args()
    if args.what == "throughput":
        seconds = args.seconds or 5
        # Lists cannot be built as fast as the emulator streams, and a full queue drops samples by
        # design; so the list form gets a stream paced at LIST_PACE, the array form all there is.
        for array, pace in ((False, LIST_PACE), (True, None)):
            if array and numpy is None:
                print("array (numpy)  skipped: numpy is not installed")
                continue
            r = run(seconds, pace is None, 0, array, pace)
            form = "array (numpy)" if array else f"list (paced)"
            rate = r["samples"] / r["wall"]
            print(f"{form:14} {rate / 1e6:6.2f} M samples/s (8 channels), "
                  f"{r['cpu'] / (r['samples'] / 1e6):.3f} CPU s per million samples, "
                  f"lost {r['lost']}, dropped {r['dropped']}")
    else:
        seconds = args.seconds or (10 if args.what == "cpu" else 600)
        r = run(seconds, False, 0.05, False)
        print(f"{RATE} Hz x 8 channels for {r['wall']:.0f} s, reading every 50 ms: "
              f"{100 * r['cpu'] / r['wall']:.2f} % of one core (driver process), "
              f"{r['samples']} samples, lost {r['lost']}, dropped {r['dropped']}, "
              f"max RSS {', '.join(str(k // 1024) + ' MB' for k in r['rss_kb'])}")


if __name__ == "__main__":
    main()
