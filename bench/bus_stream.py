"""CAN and UART delivery on the emulated USB of a Pellor-K1-CD.

    python bench/bus_stream.py paced [--seconds 10]      # CAN saturating 1 Mbit/s, UART at 400000 baud:
                                                        # losses and CPU of the driver's threads
    python bench/bus_stream.py unthrottled [--n 200000] # delivery rates through CAN_read, can.Bus.recv,
                                                        # UART_read and the pyserial object

USB devices are emulated in this process. The CPU figure counts every thread of the process but
the emulator's pacing threads (named zsim-*): the driver, the Python reader, and the USB shim's
side of the transfers, so it is an upper bound for the driver alone.
"""

from __future__ import annotations

import argparse
import glob
import os
import sys
import time

import pyzelvo
from pyzelvo import sim

MODEL = "PellorK1CD"
CAN_1M = 3                     # CAN_setSpeed mode of 1 Mbit/s
UART_BAUD = 400_000
READ_EVERY = 0.05              # seconds between reads, as an application polling its port
CLK_TCK = os.sysconf("SC_CLK_TCK")
UART_CHUNK = 65536             # bytes injected per call
UART_AHEAD = 512 * 1024        # bytes injected and not read yet, below the emulator's 1 MiB


def driver_cpu_seconds() -> float:
    """CPU time of this process's threads except the emulator's zsim-* threads."""
    total = 0
    for task in glob.glob("/proc/self/task/*"):
        try:
            with open(f"{task}/comm") as f:
                if f.read().startswith("zsim"):
                    continue
            with open(f"{task}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue  # the thread ended meanwhile
        total += int(fields[11]) + int(fields[12])  # utime, stime
    return total / CLK_TCK


def open_device(emu: sim.Emulator):
    target = emu.add(MODEL, usb=True)
    dev = pyzelvo.PellorK1CD()
    dev.connect(target.serial_number, verbose=False)
    return dev, target


def start_can(dev, target, port: int) -> None:
    """CAN_start has no reply: wait until the device streams, so that no frame waits in its FIFO."""
    dev.CAN_start(port)
    while not target.can.state()["started"]:
        time.sleep(0.001)


def counter_of(frame) -> int:
    return int.from_bytes(bytes(frame.data[:4]), "big")


def paced_can(emu: sim.Emulator, seconds: float) -> None:
    dev, target = open_device(emu)
    try:
        port = dev.CAN_getPort()[0]
        dev.CAN_open(port)
        dev.CAN_setSpeed(port, CAN_1M)
        start_can(dev, target, port)
        period = target.can.frame_time(False)
        expected = int(seconds / period)
        target.can.add_generator(0x123, b"\0" * 8, period=period, count=expected, counter=True)
        cpu0, t0 = driver_cpu_seconds(), time.monotonic()
        got, gaps, last = 0, 0, -1
        while got < expected and time.monotonic() - t0 < seconds * 3:
            time.sleep(READ_EVERY)
            frames = dev.CAN_read(port, -1)
            frames = [frames] if isinstance(frames, pyzelvo.CANFrame) else frames
            for f in frames:
                n = counter_of(f)
                gaps += n != last + 1
                last = n
            got += len(frames)
        wall, cpu = time.monotonic() - t0, driver_cpu_seconds() - cpu0
        print(f"CAN 1 Mbit/s: {expected} frames in {wall:.1f} s ({expected / seconds:.0f}/s), received {got}, "
              f"lost {expected - got}, gaps {gaps}, dropped {dev._CAN_droppedFrames()}; "
              f"driver CPU {100 * cpu / wall:.2f} % of one core")
    finally:
        dev.close()


def paced_uart(emu: sim.Emulator, seconds: float) -> None:
    dev, target = open_device(emu)
    try:
        dev.UART_open(1)
        dev.UART_setBaudRate(1, UART_BAUD)
        size = int(seconds / target.uart.byte_time(1))
        data = bytes(i % 251 for i in range(size))
        for start in range(0, size, UART_CHUNK):
            target.uart.inject(1, data[start:start + UART_CHUNK])
        cpu0, t0 = driver_cpu_seconds(), time.monotonic()
        received = bytearray()
        while len(received) < size and time.monotonic() - t0 < seconds * 3:
            time.sleep(READ_EVERY)
            received += dev._UART_receive(1, at_least=0, at_most=size, wait=0)
        wall, cpu = time.monotonic() - t0, driver_cpu_seconds() - cpu0
        print(f"UART {UART_BAUD} baud: {size} bytes in {wall:.1f} s, received {len(received)}, "
              f"intact {bytes(received) == data}, dropped {dev._UART_droppedBytes(1)}; "
              f"driver CPU {100 * cpu / wall:.2f} % of one core")
    finally:
        dev.close()


def feed_and_read(target, size: int, read) -> int:
    """Injects `size` bytes on UART 1 from the far side while reading them with read(want, wait);
    the emulator holds at most about 1 MiB not yet sent, so injection keeps just ahead."""
    chunk, fed, got = bytes(UART_CHUNK), 0, 0
    while got < size:
        while fed < size and fed - got < UART_AHEAD:
            target.uart.inject(1, chunk[: min(UART_CHUNK, size - fed)])
            fed += min(UART_CHUNK, size - fed)
        data = read(size - got, 5.0)
        if not data:
            break
        got += len(data)
    return got


def rate(label: str, count: int, unit: str, seconds: float, scale: float = 1.0) -> None:
    print(f"{label:34} {count * scale / seconds:12,.0f} {unit}/s  ({count} in {seconds:.2f} s)")


def unthrottled(emu: sim.Emulator, n: int) -> None:
    try:
        import can
        from pyzelvo.can_bus import ZelvoBus
    except ImportError:
        can = None
    dev, target = open_device(emu)
    try:
        port = dev.CAN_getPort()[0]
        target.can.unthrottled = True
        target.uart.unthrottled = True

        dev.CAN_open(port)
        start_can(dev, target, port)
        t0 = time.perf_counter()
        target.can.add_generator(0x55, b"\0" * 8, period=1e-9, count=n, counter=True)
        got = 0
        while got < n:
            frames = dev._CAN_receive(port, at_least=1, at_most=n, wait=5.0)
            if not frames:
                break
            got += len(frames)
        rate("CAN frames through _CAN_receive", got, "frames", time.perf_counter() - t0)
        target.can.add_generator(0x56, b"\0" * 8, period=1e-9, count=n, counter=True)
        while dev._CAN_available() < n:
            time.sleep(0.01)
        t0 = time.perf_counter()
        frames = dev.CAN_read(port, n)
        rate("CAN frames taken by CAN_read", len(frames), "frames", time.perf_counter() - t0)
        dev.CAN_close(port)

        if can is not None:
            with ZelvoBus(device=dev) as bus:
                target.can.unthrottled = True
                t0 = time.perf_counter()
                target.can.add_generator(0x57, b"\0" * 8, period=1e-9, count=n, counter=True)
                got = 0
                while got < n and bus.recv(timeout=5.0) is not None:
                    got += 1
                rate("CAN frames through can.Bus.recv", got, "frames", time.perf_counter() - t0)

        size = n * 50
        dev.UART_open(1)
        t0 = time.perf_counter()
        got = feed_and_read(target, size, lambda want, wait: dev._UART_receive(1, at_least=1, at_most=want, wait=wait))
        rate("UART through _UART_receive", got, "MB", time.perf_counter() - t0, 1e-6)
        dev.UART_close(1)
        try:
            import serial
        except ImportError:
            return
        with serial.serial_for_url("zelvo://default/1", device=dev, timeout=5.0) as ser:
            def read(want: int, wait: float) -> bytes:
                ser.timeout = wait
                return ser.read(min(want, max(ser.in_waiting, 1)))

            t0 = time.perf_counter()
            got = feed_and_read(target, size, read)
            rate("UART through pyserial read", got, "MB", time.perf_counter() - t0, 1e-6)
    finally:
        dev.close()


def main() -> None:
    ap = argparse.ArgumentParser()
    ap.add_argument("mode", choices=["paced", "unthrottled"])
    ap.add_argument("--seconds", type=float, default=10.0)
    ap.add_argument("--n", type=int, default=200_000)
    args = ap.parse_args()
    os.environ["ZELVO_LIBUSB"] = sim.usb_library_path()
    with sim.Emulator() as emu:
        if args.mode == "paced":
            paced_can(emu, args.seconds)
            paced_uart(emu, args.seconds)
        else:
            unthrottled(emu, args.n)


if __name__ == "__main__":
    sys.exit(main())
