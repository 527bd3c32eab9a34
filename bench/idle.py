"""Idle cost: process CPU time while a connected device (and its emulator) sit idle.

    python bench/idle.py [--seconds 10]
"""

from __future__ import annotations

import argparse
import time

import pyzelvo
from pyzelvo import sim


def main() -> None:
    ap = argparse.ArgumentParser()
    ap.add_argument("--seconds", type=float, default=10)
    seconds = ap.parse_args().seconds
    with sim.Emulator() as emu:
        e = emu.add("TavraA")
        w = emu.add("AerisR3A")
        dev = pyzelvo.TavraA()
        dev.connect(e.host, e.port, verbose=False)
        wifi = pyzelvo.AerisR3A()
        wifi.connect(w.host, w.port, w.data_port, verbose=False)
        dev.Sys_getSerialNumber()
        wifi.Sys_getSerialNumber()
        cpu0, t0 = time.process_time(), time.perf_counter()
        time.sleep(seconds)
        cpu, wall = time.process_time() - cpu0, time.perf_counter() - t0
        dev.close(verbose=False)
        wifi.close(verbose=False)
    print(
        f"idle {wall:.1f} s with an Ethernet and a Wi-Fi device connected (emulator in the same process): "
        f"{cpu * 1000:.1f} ms CPU = {100 * cpu / wall:.3f} % of one core (goal < 0.5 %)"
    )


if __name__ == "__main__":
    main()
