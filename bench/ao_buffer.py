"""The analog-output buffer path: values pushed per second through _AO_pushToBuffer (13 values, one
64-byte USB packet, per push; each push sent once and its reply awaited) on the emulator.

- blocking, one port of a Tavra-O (TCP) and of a Pellor-K1-AOD (USB shim);
- asyncio.gather over the three ports of a Koru (one device: same-command requests take turns, so
  this shows what the per-command gate costs), and over three Tavra-O devices (one port each).

    python bench/ao_buffer.py [--pushes 4000]
"""

from __future__ import annotations

import argparse
import asyncio
import os
import time

import pyzelvo
from pyzelvo import sim

VALUES = [0.5 * i for i in range(13)]  # one push: 13 single-precision values
BUFFER_VALUES = 65536                  # the emulated buffer; pushes stay below it per port


def blocking(dev: pyzelvo.Device, port: int, pushes: int) -> float:
    dev._AO_initialBuffer(port)
    t0 = time.perf_counter()
    for _ in range(pushes):
        if dev._AO_pushToBuffer(port, len(VALUES), VALUES) != 0:
            raise RuntimeError("push refused")
    return pushes * len(VALUES) / (time.perf_counter() - t0)


async def gathered(targets: list[tuple[pyzelvo.Device, int]], pushes: int) -> float:
    async def one(dev: pyzelvo.Device, port: int) -> None:
        for _ in range(pushes):
            if await dev._AO_pushToBuffer_async(port, len(VALUES), VALUES) != 0:
                raise RuntimeError("push refused")

    t0 = time.perf_counter()
    await asyncio.gather(*(one(dev, port) for dev, port in targets))
    return len(targets) * pushes * len(VALUES) / (time.perf_counter() - t0)


def report(label: str, values_per_second: float) -> None:
    print(f"{label:48} {values_per_second:10.0f} values/s  ({values_per_second / len(VALUES):8.0f} pushes/s)")


def main() -> None:
    ap = argparse.ArgumentParser()
    ap.add_argument("--pushes", type=int, default=4000, help="pushes per port (at most 5041: the buffer's size)")
    pushes = min(ap.parse_args().pushes, BUFFER_VALUES // len(VALUES))
    os.environ["ZELVO_LIBUSB"] = sim.usb_library_path()
    with sim.Emulator() as emu:
        tcp = emu.add("TavraO")
        usb = emu.add("PellorK1AOD", usb=True)
        koru = emu.add("Koru")
        more = [emu.add("TavraO") for _ in range(3)]
        devices = []
        try:
            t = pyzelvo.TavraO(verbose=False)
            t.connect(tcp.host, tcp.port, verbose=False)
            p = pyzelvo.PellorK1AOD(verbose=False)
            p.connect(usb.serial_number, verbose=False)
            k = pyzelvo.Koru(verbose=False)
            k.connect(koru.host, koru.port, verbose=False)
            devices = [t, p, k]
            for e in more:
                d = pyzelvo.TavraO(verbose=False)
                d.connect(e.host, e.port, verbose=False)
                devices.append(d)
            blocking(t, 0, 200)  # warm up
            report("blocking, Tavra-O port 0 (TCP)", blocking(t, 0, pushes))
            report("blocking, Pellor-K1-AOD port 0 (USB)", blocking(p, 0, pushes))
            report("asyncio.gather, Koru slots 1, 2, 4 (one device)",
                   asyncio.run(gathered([(k, slot) for slot in (1, 2, 4)], pushes)))
            report("asyncio.gather, three Tavra-O (port 0 each)",
                   asyncio.run(gathered([(d, 0) for d in devices[3:]], pushes)))
        finally:
            for d in devices:
                d.close(verbose=False)


if __name__ == "__main__":
    main()
