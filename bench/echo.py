"""Blocking round trip: Sys_getSerialNumber against the emulator, beside a raw-socket ping-pong of
the same request frame on a second connection to the same emulated device.

    python bench/echo.py [--n 5000]
"""

from __future__ import annotations

import argparse
import socket
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))
from common import summary_us  # noqa: E402

import pyzelvo  # noqa: E402
from pyzelvo import sim  # noqa: E402

GET_SERIAL_NUMBER = 122
REQUEST = bytes([2, 0, 1, GET_SERIAL_NUMBER, 13, 10])
REPLY_LEN = 5 + 1 + 8  # frame overhead, code, 8 characters


def raw_round_trips(host: str, port: int, n: int) -> list[float]:
    s = socket.create_connection((host, port))
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    times = []
    for _ in range(n):
        t0 = time.perf_counter()
        s.sendall(REQUEST)
        got = 0
        while got < REPLY_LEN:
            got += len(s.recv(4096))
        times.append(time.perf_counter() - t0)
    s.close()
    return times


def driver_round_trips(dev: pyzelvo.Device, n: int) -> list[float]:
    times = []
    for _ in range(n):
        t0 = time.perf_counter()
        dev.Sys_getSerialNumber()
        times.append(time.perf_counter() - t0)
    return times


def main() -> None:
    ap = argparse.ArgumentParser()
    ap.add_argument("--n", type=int, default=5000)
    n = ap.parse_args().n
    with sim.Emulator() as emu:
        e = emu.add("TavraA")
        dev = pyzelvo.TavraA()
        dev.connect(e.host, e.port, verbose=False)
        driver_round_trips(dev, 200)  # warm up
        raw_round_trips(e.host, e.port, 200)
        raw = raw_round_trips(e.host, e.port, n)
        drv = driver_round_trips(dev, n)
        dev.close(verbose=False)
    raw_med, raw_p99 = summary_us(raw)
    drv_med, drv_p99 = summary_us(drv)
    print(f"raw socket ping-pong       median {raw_med:7.1f} us   p99 {raw_p99:7.1f} us   ({n} round trips)")
    print(f"Sys_getSerialNumber        median {drv_med:7.1f} us   p99 {drv_p99:7.1f} us")
    print(f"ratio driver / raw         median {drv_med / raw_med:5.2f}x   (goal: within 3x)")


if __name__ == "__main__":
    main()
