"""Counter and encoder position polling on one device (an emulated Pellor-K1-D on USB, counter
inputs and encoder shaft running): polls per second and latency of Counter_readPosition and
Encoder_readPosition, blocking and awaitable, one poller at a time and three at once (counter
channels 0 and 1 and the encoder; the two counter channels share a command, so the driver serves
them one after the other).

    python bench/position_poll.py [--seconds 3]
"""

from __future__ import annotations

import argparse
import asyncio
import os
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))
from common import summary_us  # noqa: E402

import pyzelvo  # noqa: E402
from pyzelvo import sim  # noqa: E402

COUNTER_CHANNELS = (0, 1)
ENCODER = 0


def poll_blocking(read, seconds: float) -> tuple[list[float], list[int]]:
    times, values = [], []
    end = time.perf_counter() + seconds
    while time.perf_counter() < end:
        t0 = time.perf_counter()
        values.append(read())
        times.append(time.perf_counter() - t0)
    return times, values


async def poll_awaitable(read_async, seconds: float) -> tuple[list[float], list[int]]:
    times, values = [], []
    end = time.perf_counter() + seconds
    while time.perf_counter() < end:
        t0 = time.perf_counter()
        values.append(await read_async())
        times.append(time.perf_counter() - t0)
    return times, values


def report(label: str, times: list[float], values: list[int], seconds: float) -> None:
    med, p99 = summary_us(times)
    ordered = "monotonic" if all(a <= b for a, b in zip(values, values[1:])) else "NOT monotonic"
    print(f"{label:40} {len(times) / seconds:8.0f} polls/s   median {med:7.1f} us   p99 {p99:7.1f} us   ({ordered})")


def start(dev) -> None:
    for ch in COUNTER_CHANNELS:
        dev.Counter_open(ch)
        dev.Counter_start(ch)
    dev.Encoder_open(ENCODER)
    dev.Encoder_start(ENCODER)


def main() -> None:
    ap = argparse.ArgumentParser()
    ap.add_argument("--seconds", type=float, default=3.0)
    seconds = ap.parse_args().seconds
    os.environ["ZELVO_LIBUSB"] = sim.usb_library_path()
    with sim.Emulator() as emu:
        target = emu.add("PellorK1D", usb=True)
        for ch in COUNTER_CHANNELS:
            target.counter.set_input(ch, 10_000.0 * (ch + 1))
        target.encoder.set_velocity(5_000.0)
        dev = pyzelvo.PellorK1D(verbose=False)
        dev.connect(target.serial_number, verbose=False)
        start(dev)
        counter = lambda: dev.Counter_readPosition(0)  # noqa: E731
        encoder = lambda: dev.Encoder_readPosition(ENCODER)  # noqa: E731
        poll_blocking(counter, 0.3)  # warm up
        report("Counter_readPosition (blocking)", *poll_blocking(counter, seconds), seconds)
        report("Encoder_readPosition (blocking)", *poll_blocking(encoder, seconds), seconds)

        async def awaitable() -> None:
            counter_async = lambda: dev.Counter_readPosition_async(0)  # noqa: E731
            encoder_async = lambda: dev.Encoder_readPosition_async(ENCODER)  # noqa: E731
            report("Counter_readPosition_async", *await poll_awaitable(counter_async, seconds), seconds)
            report("Encoder_readPosition_async", *await poll_awaitable(encoder_async, seconds), seconds)
            pollers = [poll_awaitable(lambda ch=ch: dev.Counter_readPosition_async(ch), seconds)
                       for ch in COUNTER_CHANNELS] + [poll_awaitable(encoder_async, seconds)]
            results = await asyncio.gather(*pollers)
            for label, result in zip(["counter 0", "counter 1", "encoder"], results):
                report(f"  three at once (awaitable): {label}", *result, seconds)
            total = sum(len(times) for times, _ in results)
            print(f"{'  three at once (awaitable): total':40} {total / seconds:8.0f} polls/s")

        asyncio.run(awaitable())
        dev.disconnect(verbose=False)
        dev.close(verbose=False)


if __name__ == "__main__":
    main()
