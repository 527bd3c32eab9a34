"""USB through the emulator's shim library: blocking Sys_getSerialNumber round trips of a
Pellor-K1-D beside those of a Tavra-A over TCP, the time a disconnect takes, the idle CPU of
a connected USB device, and the round trips of a process reaching the device of a `pyzelvo sim`
process through its USB socket.

    python bench/usb_echo.py [--n 5000] [--idle 10]

The driver loads the shim as its libusb-1.0 (ZELVO_LIBUSB), so the figures cover the driver's
USB transport and the emulator, not a USB bus.
"""

from __future__ import annotations

import argparse
import os
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))
from common import summary_us  # noqa: E402
from echo import driver_round_trips as round_trips  # noqa: E402

import pyzelvo  # noqa: E402
from pyzelvo import sim  # noqa: E402

USB_MODEL = "PellorK1D"
TCP_MODEL = "TavraA"
DISCONNECT_CYCLES = 50


def disconnect_times(dev: pyzelvo.USBDevice, serial: str) -> list[float]:
    """Disconnects of a device whose receive thread is waiting for data."""
    times = []
    for _ in range(DISCONNECT_CYCLES):
        dev.Sys_getSerialNumber()
        time.sleep(0.01)
        t0 = time.perf_counter()
        dev.disconnect(verbose=False)
        times.append(time.perf_counter() - t0)
        dev.connect(serial, verbose=False)
    return times


def idle_cpu(seconds: float) -> tuple[float, float]:
    """CPU seconds and wall seconds of this process over an idle stretch."""
    cpu0, t0 = time.process_time(), time.perf_counter()
    time.sleep(seconds)
    return time.process_time() - cpu0, time.perf_counter() - t0


ACROSS = """
import sys
sys.path.insert(0, {bench!r})
from common import summary_us
from echo import driver_round_trips
import pyzelvo
dev = pyzelvo.PellorK1D(verbose=False)
dev.connect("default", verbose=False)
driver_round_trips(dev, 200)
med, p99 = summary_us(driver_round_trips(dev, {n}))
dev.close(verbose=False)
print(f"{{med:.1f}} {{p99:.1f}}")
"""


def across_processes(n: int) -> tuple[float, float]:
    """Median and p99 round trip (us) of a process reaching a `pyzelvo sim` process's USB device."""
    server = subprocess.Popen([sys.executable, "-m", "pyzelvo", "sim", USB_MODEL], stdout=subprocess.PIPE, text=True)
    try:
        socket_path = None
        for line in server.stdout:
            if line.strip().startswith("export ZELVO_USB_EMULATOR="):
                socket_path = line.strip().split("=", 1)[1]
                break
        env = dict(os.environ, ZELVO_USB_EMULATOR=socket_path or "")
        env.pop("ZELVO_LIBUSB", None)
        code = ACROSS.format(bench=str(Path(__file__).parent), n=n)
        out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, check=True).stdout
        med, p99 = (float(x) for x in out.splitlines()[-1].split())
        return med, p99
    finally:
        server.terminate()
        server.wait()


def main() -> None:
    ap = argparse.ArgumentParser()
    ap.add_argument("--n", type=int, default=5000)
    ap.add_argument("--idle", type=float, default=10, help="seconds of idle measurement")
    args = ap.parse_args()
    os.environ["ZELVO_LIBUSB"] = sim.usb_library_path()
    with sim.Emulator() as emu:
        usb_target = emu.add(USB_MODEL, usb=True)
        tcp_target = emu.add(TCP_MODEL)
        usb = getattr(pyzelvo, USB_MODEL)()
        usb.connect(usb_target.serial_number, verbose=False)
        tcp = getattr(pyzelvo, TCP_MODEL)()
        tcp.connect(tcp_target.host, tcp_target.port, verbose=False)
        round_trips(usb, 200)  # warm up
        round_trips(tcp, 200)
        usb_times = round_trips(usb, args.n)
        tcp_times = round_trips(tcp, args.n)
        tcp.close(verbose=False)
        disc = disconnect_times(usb, usb_target.serial_number)
        usb.Sys_getSerialNumber()
        cpu, wall = idle_cpu(args.idle)
        usb.close(verbose=False)
    usb_med, usb_p99 = summary_us(usb_times)
    tcp_med, tcp_p99 = summary_us(tcp_times)
    disc_med, disc_p99 = summary_us(disc)
    print(f"Sys_getSerialNumber over USB (shim)  median {usb_med:7.1f} us   p99 {usb_p99:7.1f} us   ({args.n} round trips)")
    print(f"Sys_getSerialNumber over TCP         median {tcp_med:7.1f} us   p99 {tcp_p99:7.1f} us")
    print(f"ratio USB / TCP                      median {usb_med / tcp_med:5.2f}x")
    print(f"USB disconnect                       median {disc_med:7.1f} us   p99 {disc_p99:7.1f} us   ({DISCONNECT_CYCLES} cycles)")
    across_med, across_p99 = across_processes(args.n)
    print(f"... from another process (socket)    median {across_med:7.1f} us   p99 {across_p99:7.1f} us")
    print(
        f"idle {wall:.1f} s with a USB device connected (emulator in the same process): "
        f"{cpu * 1000:.1f} ms CPU = {100 * cpu / wall:.3f} % of one core"
    )


if __name__ == "__main__":
    main()
