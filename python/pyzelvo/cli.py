"""The device subcommands of the ``pyzelvo`` command: ``info`` (what one device is) and ``stream``
(analog input straight to a CSV file), and how both reach the device a TARGET names.

TARGET is ``usb`` (the first device of the family on USB), a USB serial number, or a network
address ``HOST[:PORT[:DATA_PORT]]`` (the ports default to the product's). The product is found
from the USB enumeration for a USB target; a network target needs ``--product``.
"""

from __future__ import annotations

import argparse
import csv
import json
import sys
import time
from dataclasses import dataclass
from typing import Optional, Sequence, TextIO

import pyzelvo

from . import _core
from ._progress import bar
from .catalogue import HANDLE_DICT
from .find import close_quietly

#: The TARGET texts that mean "the first device on USB".
FIRST_USB = ("usb", "default")
#: The analog-input acquisition mode that runs until stopped.
CONTINUOUS_MODE = 2
#: How long one streamed read waits for its block, in seconds.
READ_WAIT = 0.1
#: Rows asked of one streamed read: a tenth of a second of samples, at least one.
BLOCK_SECONDS = 0.1


class CommandError(Exception):
    """A refusal the command reports as one line and exit status 1."""


@dataclass(frozen=True)
class Target:
    """Where a device is: on USB (serial, or None for the first one) or at a network address."""

    usb: bool
    serial: Optional[str] = None
    host: str = ""
    port: Optional[int] = None
    data_port: Optional[int] = None

    @classmethod
    def parse(cls, text: str) -> "Target":
        if text.lower() in FIRST_USB:
            return cls(usb=True)
        if "." not in text and ":" not in text:
            return cls(usb=True, serial=text)
        host, *ports = text.split(":")
        if not host or len(ports) > 2:
            raise CommandError(f"{text!r} is no target: use usb, a serial number or HOST[:PORT[:DATA_PORT]]")
        try:
            numbers = [int(p) for p in ports]
        except ValueError:
            raise CommandError(f"{text!r}: the ports must be numbers") from None
        if any(not 0 < n < 65536 for n in numbers):
            raise CommandError(f"{text!r}: a port is between 1 and 65535")
        return cls(usb=False, host=host, port=numbers[0] if numbers else None,
                   data_port=numbers[1] if len(numbers) > 1 else None)


def _product_of_usb(target: Target) -> str:
    """The product class of the USB device the target names (the enumeration sends nothing)."""
    finder = pyzelvo.DeviceFinder(verbose=False)
    try:
        found = finder.Bcst_enumerateUSBDevices()
    finally:
        finder.close(verbose=False)
    classes = {text: name for name, text in _core._MODEL_TEXTS.items()}
    for serial, product in found:
        if target.serial is None or serial == target.serial:
            if product not in classes:
                raise CommandError(f"the USB device {serial} reports an unknown product {product!r}")
            return classes[product]
    wanted = "no device of the family" if target.serial is None else f"no device with serial number {target.serial}"
    raise CommandError(f"{wanted} is attached over USB")


def open_device(target_text: str, product: Optional[str]):
    """The product object for TARGET, connected (quietly). The caller closes it."""
    target = Target.parse(target_text)
    if product is None:
        if not target.usb:
            raise CommandError("a network target needs --product (the product class, e.g. TavraA)")
        product = _product_of_usb(target)
    if product not in _core._MODEL_TEXTS:
        raise CommandError(f"unknown product {product!r}")
    if (product in HANDLE_DICT["USB"]) != target.usb:
        raise CommandError(f"{product} is {'a USB' if product in HANDLE_DICT['USB'] else 'a network'} product; "
                           f"the target {target_text!r} is not")
    dev = getattr(pyzelvo, product)(verbose=False)
    try:
        if target.usb:
            dev.connect(target.serial or "default", verbose=False)
        else:
            ports = [p for p in (target.port, target.data_port) if p is not None]
            dev.connect(target.host, *ports, verbose=False)
    except BaseException:
        close_quietly(dev)
        raise
    return dev


def _with_device(args: argparse.Namespace, work) -> int:
    try:
        dev = open_device(args.target, args.product)
    except CommandError as e:
        print(f"error: {e}", file=sys.stderr)
        return 1
    except pyzelvo.Error as e:
        print(f"error: cannot connect to {args.target}: {e}", file=sys.stderr)
        return 1
    try:
        return work(dev)
    except (CommandError, pyzelvo.Error) as e:
        print(f"error: {e}", file=sys.stderr)
        return 1
    finally:
        close_quietly(dev)


def _target_arguments(p: argparse.ArgumentParser) -> None:
    p.add_argument("target", metavar="TARGET",
                   help="usb (the first USB device), a USB serial number, or HOST[:PORT[:DATA_PORT]]")
    p.add_argument("--product", metavar="NAME",
                   help="the product class (TavraA, AerisR3A, ...); found by itself for a USB target")


# --- info --------------------------------------------------------------------------------------


def device_info(dev) -> dict[str, str]:
    """Model, serial number, firmware, alias and clock of a connected device."""
    model, mode, version = (dev.Sys_getDriverInfo() + ["", "", ""])[:3]
    return {"product": type(dev).__name__, "model": model, "serial": dev.Sys_getSerialNumber(),
            "firmware": f"{version} ({mode})" if mode else version, "alias": dev.Sys_getDeviceAlias(),
            "clock": dev.Sys_getRTC()}


def info_main(argv: Sequence[str]) -> int:
    """``pyzelvo info TARGET``: prints what the device is; 0, or 1 when it cannot be reached."""
    p = argparse.ArgumentParser(prog="pyzelvo info",
                                description="Show the model, serial number, firmware, alias and clock of one device.")
    _target_arguments(p)
    p.add_argument("--json", action="store_true", help="print JSON for scripts")
    args = p.parse_args(argv)

    def show(dev) -> int:
        info = device_info(dev)
        if args.json:
            print(json.dumps(info, indent=2))
        else:
            width = max(map(len, info))
            for key, value in info.items():
                print(f"{key.capitalize():<{width}}  {value}")
        return 0

    return _with_device(args, show)


# --- stream ------------------------------------------------------------------------------------


def _progress(stream: Optional[TextIO], done: float, total: float, rows: int, dropped: int) -> None:
    if stream is None:
        return
    stream.write(f"\r{bar(done / total if total > 0 else 1.0)} {done:5.1f}/{total:g} s  "
                 f"{rows} samples  dropped {dropped}")
    stream.flush()


def stream_to_csv(dev, port: int, rate: float, seconds: float, out: TextIO,
                  progress: Optional[TextIO] = None) -> tuple[int, int]:
    """Streams the analog inputs of `port` at `rate` for `seconds` into `out` as CSV (index, time in
    seconds since the start, one column per channel, in volts). Returns (samples written, samples
    dropped): a drop shows as a jump in the index column, never as a shifted time."""
    for status in (dev.AI_open(port), dev.AI_setMode(port, CONTINUOUS_MODE), dev.AI_setSamplingRate(port, rate),
                   dev.AI_openStreaming(port)):
        if status != 0:
            pyzelvo.raise_for_status(status)
    writer = csv.writer(out, lineterminator="\n")
    rows = 0
    block_rows = max(1, int(rate * BLOCK_SECONDS))
    try:
        dev.AI_startStreaming(port)
        start = time.monotonic()
        header = False
        while (elapsed := time.monotonic() - start) < seconds:
            block = dev.AI_readStreamingBlock(port, block_rows, READ_WAIT)
            data = block.data
            if len(data):
                if not header:
                    writer.writerow(["index", "time_s"] + [f"ch{c}" for c in range(data.shape[1])])
                    header = True
                for i, row in enumerate(data.tolist()):
                    index = block.first_index + i
                    writer.writerow([index, f"{index / rate:.6f}"] + [f"{v:.6f}" for v in row])
                rows += len(data)
            _progress(progress, elapsed, seconds, rows, dev.AI_getDroppedSamples(port))
    finally:
        dev.AI_closeStreaming(port)
        dev.AI_close(port)
    if progress is not None:
        progress.write("\n")
    return rows, dev.AI_getDroppedSamples(port)


def stream_main(argv: Sequence[str]) -> int:
    """``pyzelvo stream TARGET --out FILE``: analog input to CSV; 0, or 1 on a refusal."""
    p = argparse.ArgumentParser(
        prog="pyzelvo stream",
        description="Stream the analog inputs of one port straight to a CSV file (index, time, one column "
                    "per channel in volts), with a progress bar and the count of dropped samples.")
    _target_arguments(p)
    p.add_argument("--port", type=int, default=0, help="the analog-input port (default 0)")
    p.add_argument("--rate", type=float, default=20000.0, help="samples per second and channel (default 20000)")
    p.add_argument("--seconds", type=float, default=10.0, help="how long to stream (default 10)")
    p.add_argument("--out", required=True, metavar="FILE", help="the CSV file to write ('-': standard output)")
    p.add_argument("--no-progress", action="store_true", help="no progress bar (it is drawn on a terminal only)")
    args = p.parse_args(argv)
    if not args.rate > 0 or not args.seconds > 0:
        p.error("--rate and --seconds must be positive")
    try:
        import numpy  # noqa: F401  (the block read fills numpy arrays)
    except ImportError:
        print("error: pyzelvo stream needs numpy (pip install 'pyzelvo[numpy]')", file=sys.stderr)
        return 1
    progress = sys.stderr if sys.stderr.isatty() and not args.no_progress else None

    def run(dev) -> int:
        if not hasattr(dev, "AI_readStreamingBlock"):
            raise CommandError(f"{type(dev).__name__} has no streamed analog inputs")
        out = sys.stdout if args.out == "-" else open(args.out, "w", newline="")
        try:
            rows, dropped = stream_to_csv(dev, args.port, args.rate, args.seconds, out, progress)
        finally:
            if out is not sys.stdout:
                out.close()
        where = "standard output" if args.out == "-" else args.out
        print(f"{rows} samples in {args.seconds:g} s to {where}; dropped: {dropped}",
              file=sys.stderr if args.out == "-" else sys.stdout)
        return 0

    return _with_device(args, run)
