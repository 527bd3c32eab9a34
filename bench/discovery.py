"""Discovery: 1, 10 and 50 emulated devices (in a process of their own) answer a broadcast on the
loopback network; how many records the finder collects (goal: all), duplicates (goal: 0), and the
finder process's CPU during the fixed collection wait.

    python bench/discovery.py [--counts 1 10 50] [--rounds 3]

Only loopback traffic: requests go to 127.255.255.255 from 127.0.0.1.
"""

from __future__ import annotations

import argparse
import os
import subprocess
import sys
import time

import pyzelvo
from pyzelvo import find, sim


def serve(count: int, port: int, answer_port: int) -> subprocess.Popen:
    """`count` emulated Tavra-A devices in a child process; returns once they all listen."""
    child = subprocess.Popen(
        [sys.executable, "-m", "pyzelvo", "sim", *(["TavraA"] * count), "--discovery-port", str(port),
         "--answer-port", str(answer_port)],
        stdout=subprocess.PIPE, text=True)
    for line in child.stdout:
        if line.startswith("Discovery:"):
            return child
    raise RuntimeError("the emulator process did not start")


def one_search(finder: "pyzelvo.DeviceFinder") -> tuple[int, int, float, float]:
    """(records, duplicates, CPU seconds, wall seconds) of one Bcst_enumerateNetworkDevices."""
    cpu0, t0 = time.process_time(), time.perf_counter()
    records = finder.Bcst_enumerateNetworkDevices()
    cpu, wall = time.process_time() - cpu0, time.perf_counter() - t0
    serials = [r[4] for r in records]
    return len(records), len(serials) - len(set(serials)), cpu, wall


def main() -> None:
    os.environ["ZELVO_BROADCAST_LOOPBACK_ONLY"] = "1"  # nothing here may leave this machine
    ap = argparse.ArgumentParser()
    ap.add_argument("--counts", type=int, nargs="+", default=[1, 10, 50])
    ap.add_argument("--rounds", type=int, default=3)
    args = ap.parse_args()
    for count in args.counts:
        port, answer_port = sim.free_udp_ports(2)
        child = serve(count, port, answer_port)
        finder = find.open_finder(target=find.LOOPBACK_TARGET, sources=[find.LOOPBACK_SOURCE],
                                  bind=find.LOOPBACK_SOURCE, port=port, answer_port=answer_port)
        try:
            results = [one_search(finder) for _ in range(args.rounds)]
        finally:
            find.close_quietly(finder)
            child.terminate()
            child.wait()
        found = [r[0] for r in results]
        dups = sum(r[1] for r in results)
        cpu = max(r[2] for r in results)
        wall = max(r[3] for r in results)
        print(f"{count:3d} devices: found {min(found)}..{max(found)} of {count} per search over {args.rounds} "
              f"searches, {dups} duplicates; finder CPU at most {cpu * 1000:.1f} ms over a {wall:.2f} s search "
              f"({100 * cpu / wall:.2f} % of one core)")


if __name__ == "__main__":
    main()
