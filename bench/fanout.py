"""Awaitable fan-out: N emulated devices on one event loop, each running M sequential
Sys_getSerialNumber_async calls, all devices at once.

    python bench/fanout.py [--devices 8] [--calls 200] [--rounds 5]
"""

from __future__ import annotations

import argparse
import asyncio
import contextlib
import io
import time

import pyzelvo
from pyzelvo import sim


async def sequential(dev: pyzelvo.Device, calls: int) -> None:
    for _ in range(calls):
        await dev.Sys_getSerialNumber_async()


async def one_round(devices: list[pyzelvo.Device], calls: int) -> float:
    t0 = time.perf_counter()
    await asyncio.gather(*(sequential(d, calls) for d in devices))
    return len(devices) * calls / (time.perf_counter() - t0)


def main() -> None:
    ap = argparse.ArgumentParser()
    ap.add_argument("--devices", type=int, default=8)
    ap.add_argument("--calls", type=int, default=200)
    ap.add_argument("--rounds", type=int, default=5)
    args = ap.parse_args()
    with sim.Emulator() as emu:
        devices = []
        for _ in range(args.devices):
            e = emu.add("TavraA")
            with contextlib.redirect_stdout(io.StringIO()):  # the "Opened handle" lines
                d = pyzelvo.TavraA()
            d.connect(e.host, e.port, verbose=False)
            devices.append(d)

        async def run() -> list[float]:
            await one_round(devices, 20)  # warm up
            return [await one_round(devices, args.calls) for _ in range(args.rounds)]

        rates = asyncio.run(run())
        for d in devices:
            d.close(verbose=False)
    rates.sort()
    print(
        f"{args.devices} devices x {args.calls} sequential awaitable calls: "
        f"median {rates[len(rates) // 2]:,.0f} ops/s (best {rates[-1]:,.0f}, worst {rates[0]:,.0f}; goal >= 10,000)"
    )


if __name__ == "__main__":
    main()
