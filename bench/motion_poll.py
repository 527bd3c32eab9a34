"""Motion status polling and a multi-axis start on an emulated Kinora that runs in a process of
its own (so the CPU figures are the driver's):

- one poll = Motion_getMoveStatus and Motion_getLogicalPosi of all 4 axes (8 exchanges), blocking
  one after the other and awaitable with asyncio.gather: polls per second, CPU per poll;
- a start of 4 axes together (Motion_startMultiAxisMove) until all 4 report stopped: latency.

    python bench/motion_poll.py [--seconds 5] [--starts 20]
"""

from __future__ import annotations

import argparse
import asyncio
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))
from common import summary_us  # noqa: E402

import pyzelvo  # noqa: E402
from pyzelvo import sim  # noqa: E402

AXES = range(4)
STOPPED = 1
RELATIVE = 1
MOVE = dict(target=2000, velo=400_000, accel=40_000_000, decel=40_000_000)


def serve() -> None:
    with sim.Emulator() as emu:
        dev = emu.add("Kinora")
        print(dev.host, dev.port, flush=True)
        sys.stdin.read()  # until the benchmark closes our input


def poll_blocking(dev) -> None:
    for a in AXES:
        dev.Motion_getMoveStatus(0, a)
        dev.Motion_getLogicalPosi(0, a)


async def poll_gathered(dev) -> None:
    ops = [dev.Motion_getMoveStatus_async(0, a) for a in AXES] + [dev.Motion_getLogicalPosi_async(0, a) for a in AXES]
    await asyncio.gather(*ops)


def measure(poll, seconds: float) -> tuple[float, float]:
    """Polls per second and CPU microseconds per poll."""
    n, cpu0, t0 = 0, time.process_time(), time.perf_counter()
    while time.perf_counter() - t0 < seconds:
        poll()
        n += 1
    wall, cpu = time.perf_counter() - t0, time.process_time() - cpu0
    return n / wall, cpu / n * 1e6


def start_to_stopped(dev, starts: int) -> list[float]:
    times = []
    for a in AXES:
        dev.Motion_cfgAxisMove(0, a, RELATIVE, MOVE["target"], MOVE["velo"], MOVE["accel"], MOVE["decel"])
    for _ in range(starts):
        t0 = time.perf_counter()
        dev.Motion_startMultiAxisMove(0, list(AXES))
        while any(dev.Motion_getMoveStatus(0, a) != STOPPED for a in AXES):
            pass
        times.append(time.perf_counter() - t0)
    return times


def main() -> None:
    ap = argparse.ArgumentParser()
    ap.add_argument("--seconds", type=float, default=5.0)
    ap.add_argument("--starts", type=int, default=20)
    ap.add_argument("--serve", action="store_true", help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.serve:
        serve()
        return
    child = subprocess.Popen([sys.executable, __file__, "--serve"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             text=True)
    try:
        host, port = child.stdout.readline().split()
        dev = pyzelvo.Kinora()
        dev.connect(host, int(port))
        dev.Motion_open(0)
        rate, cpu = measure(lambda: poll_blocking(dev), args.seconds)
        print(f"blocking poll of 4 axes (8 exchanges): {rate:8.0f} polls/s, {cpu:6.0f} us CPU per poll")
        loop = asyncio.new_event_loop()
        rate, cpu = measure(lambda: loop.run_until_complete(poll_gathered(dev)), args.seconds)
        loop.close()
        print(f"gathered poll of 4 axes (8 exchanges): {rate:8.0f} polls/s, {cpu:6.0f} us CPU per poll")
        median, p99 = summary_us(start_to_stopped(dev, args.starts))
        print(f"4-axis start to all stopped ({MOVE['target']} pulses each): median {median / 1000:.1f} ms, "
              f"p99 {p99 / 1000:.1f} ms")
        dev.close()
    finally:
        child.stdin.close()
        child.wait(timeout=10)


if __name__ == "__main__":
    main()
