"""``python -m pyzelvo find``: lists the Zelvo devices on the local network (by UDP broadcast) and
those attached over USB, and does the two field tasks people do most: make a device signal its
presence (``--ring MAC``) and give it new addresses (``--set-ip MAC IP MASK GATEWAY``).

By default the search is the driver's own: one request from every IPv4 address of this machine's
interfaces that are up (loopback included, so emulated devices on this machine answer too) to
255.255.255.255, answers collected on port 6667 for 5 seconds. ``--loopback`` searches this
machine only.
"""

from __future__ import annotations

import argparse
import json
import sys
import threading
import time
from typing import Any, Callable, Optional, Sequence

import pyzelvo

from ._progress import WIDTH, bar

#: The record fields, in the order Bcst_enumerateNetworkDevices gives them.
RECORD_FIELDS = ("ip", "subnet_mask", "mac", "model", "serial", "alias", "firmware", "gateway")
#: The table's columns: (field, heading).
TABLE_COLUMNS = (("model", "MODEL"), ("serial", "SERIAL"), ("alias", "ALIAS"), ("ip", "IP"), ("mac", "MAC"),
                 ("firmware", "FIRMWARE"))
#: Where --loopback sends from and to: the loopback network's broadcast address, from 127.0.0.1.
LOOPBACK_TARGET = "127.255.255.255"
LOOPBACK_SOURCE = "127.0.0.1"
PROGRESS_STEP = 0.1  # seconds between redraws


def open_finder(
    *,
    target: str = "255.255.255.255",
    port: int = pyzelvo.UDP_SEND_PORT,
    answer_port: int = pyzelvo.UDP_RECV_PORT,
    sources: Sequence[str] = (),
    bind: str = "",
    wait: Optional[float] = None,
) -> "pyzelvo.DeviceFinder":
    """A DeviceFinder bound to ``bind``:``answer_port`` whose requests go to ``target``:``port``
    from ``sources`` (empty: every interface that is up). Close it with :func:`close_quietly`."""
    finder = pyzelvo.DeviceFinder(verbose=False)
    try:
        client = finder.client_udp
        client.bcst_address, client.bcst_port, client.bcst_sources = target, port, list(sources)
        if wait is not None:
            finder._collect_seconds = wait
        finder.connect(verbose=False, host=bind, port=answer_port)
    except BaseException:
        close_quietly(finder)
        raise
    return finder


def close_quietly(device: Any) -> None:
    """Closes a finder or product without printing anything (close() alone reports the disconnect)."""
    device.disconnect(verbose=False)
    device.close(verbose=False)


def network_devices(finder: "pyzelvo.DeviceFinder") -> list[dict[str, str]]:
    """Every device that answered, as {field: text} (see RECORD_FIELDS)."""
    return [dict(zip(RECORD_FIELDS, record)) for record in finder.Bcst_enumerateNetworkDevices()]


def usb_devices(finder: "pyzelvo.DeviceFinder") -> tuple[list[dict[str, str]], Optional[str]]:
    """The attached USB devices as {serial, product}, and why they could not be listed (or None)."""
    try:
        found = finder.Bcst_enumerateUSBDevices()
    except pyzelvo.USBConnectionError as e:
        return [], str(e)
    return [{"serial": serial, "product": product} for serial, product in found], None


def table(rows: Sequence[dict[str, str]], columns: Sequence[tuple[str, str]]) -> str:
    """Rows as a plain-text table with a heading line."""
    widths = [max([len(head)] + [len(r[key]) for r in rows]) for key, head in columns]
    lines = ["  ".join(head.ljust(w) for (_, head), w in zip(columns, widths)).rstrip()]
    for r in rows:
        lines.append("  ".join(r[key].ljust(w) for (key, _), w in zip(columns, widths)).rstrip())
    return "\n".join(lines)


def report(network: Sequence[dict[str, str]], usb: Optional[Sequence[dict[str, str]]], usb_error: Optional[str]) -> str:
    """What ``find`` prints: the network devices, then the USB devices (none: not listed)."""
    parts = [f"Network devices: {len(network)}"]
    if network:
        parts.append(table(network, TABLE_COLUMNS))
    if usb is None:
        pass
    elif usb_error is not None:
        parts.append(f"USB devices: not listed ({usb_error})")
    else:
        parts.append(f"USB devices: {len(usb)}")
        if usb:
            parts.append(table(usb, (("product", "PRODUCT"), ("serial", "SERIAL"))))
    return "\n".join(parts)


def with_progress(work: Callable[[], Any], seconds: float, stream=None) -> Any:
    """Runs ``work`` (a discovery operation, which takes ``seconds``) on a thread while a progress bar
    fills on ``stream`` (stderr when it is a terminal; nothing otherwise). Returns its result."""
    stream = stream if stream is not None else (sys.stderr if sys.stderr.isatty() else None)
    if stream is None:
        return work()
    outcome: dict[str, Any] = {}

    def run() -> None:
        try:
            outcome["value"] = work()
        except BaseException as e:  # handed to the caller's thread
            outcome["error"] = e

    worker = threading.Thread(target=run, name="pyzelvo-find")
    start = time.monotonic()
    worker.start()
    while worker.is_alive():
        done = min(1.0, (time.monotonic() - start) / seconds) if seconds > 0 else 1.0
        stream.write(f"\rSearching {bar(done)} {done * seconds:3.1f}/{seconds:g} s")
        stream.flush()
        worker.join(PROGRESS_STEP)
    stream.write("\r" + " " * (WIDTH + 30) + "\r")
    stream.flush()
    if "error" in outcome:
        raise outcome["error"]
    return outcome["value"]


def _parser(listing_only: bool = False) -> argparse.ArgumentParser:
    if listing_only:
        p = argparse.ArgumentParser(
            prog="pyzelvo list",
            description="List the Zelvo devices attached over USB, then those that answer a discovery "
                        "broadcast on the local network (--no-network: USB only, at once).",
        )
        p.set_defaults(ring=None, set_ip=None)
    else:
        p = argparse.ArgumentParser(
            prog="pyzelvo find",
            description="List the Zelvo devices on the local network and on USB; ring or re-address one by MAC.",
        )
        task = p.add_mutually_exclusive_group()
        task.add_argument("--ring", metavar="MAC", help="make the device with this MAC address signal its presence")
        task.add_argument(
            "--set-ip",
            nargs=4,
            metavar=("MAC", "IP", "MASK", "GATEWAY"),
            help="give the device with this MAC address a new IP address, subnet mask and gateway",
        )
    p.add_argument("--json", action="store_true", help="print JSON for scripts instead of tables")
    if listing_only:
        p.add_argument("--no-network", action="store_true", help="list USB devices only (no broadcast)")
        p.set_defaults(no_usb=False)
    else:
        p.add_argument("--no-usb", action="store_true", help="do not list USB devices")
        p.set_defaults(no_network=False)
    p.add_argument("--loopback", action="store_true",
                   help=f"search this machine only (to {LOOPBACK_TARGET} from {LOOPBACK_SOURCE}): emulated devices")
    p.add_argument("--target", help="address the requests go to (default 255.255.255.255)")
    p.add_argument("--source", action="append", default=[], metavar="ADDRESS",
                   help="send from this address (repeatable; default: every interface that is up)")
    p.add_argument("--port", type=int, default=pyzelvo.UDP_SEND_PORT,
                   help=f"port the requests go to (default {pyzelvo.UDP_SEND_PORT})")
    p.add_argument("--answer-port", type=int, default=pyzelvo.UDP_RECV_PORT,
                   help=f"port the answers come to (default {pyzelvo.UDP_RECV_PORT})")
    p.add_argument("--wait", type=float, default=None,
                   help="seconds to collect answers (default 5, the driver's fixed collection time)")
    return p


def main(argv: Optional[Sequence[str]] = None, *, listing_only: bool = False) -> int:
    """The ``find`` command (``list`` with `listing_only`: no ring or re-addressing, USB devices
    first); returns the exit status (0 done, 1 no answer or a refusal, 2 bad arguments)."""
    args = _parser(listing_only).parse_args(argv)
    if args.no_network:
        return _list_usb_only(args)
    target = args.target or (LOOPBACK_TARGET if args.loopback else "255.255.255.255")
    sources = args.source or ([LOOPBACK_SOURCE] if args.loopback else [])
    bind = LOOPBACK_SOURCE if args.loopback else ""
    try:
        finder = open_finder(target=target, port=args.port, answer_port=args.answer_port, sources=sources,
                             bind=bind, wait=args.wait)
    except (pyzelvo.Error, ValueError) as e:
        print(f"error: cannot listen for answers on port {args.answer_port}: {e}", file=sys.stderr)
        return 1
    try:
        return _run(args, finder)
    except pyzelvo.InputDataNotInRangeError as e:
        print(f"error: {e.msg}", file=sys.stderr)
        return 2
    except pyzelvo.Error as e:
        print(f"error: {e}", file=sys.stderr)
        return 1
    finally:
        close_quietly(finder)


def list_main(argv: Optional[Sequence[str]] = None) -> int:
    """The ``list`` command: the devices on USB, then those on the network."""
    return main(argv, listing_only=True)


def _run(args: argparse.Namespace, finder: "pyzelvo.DeviceFinder") -> int:
    wait = finder._collect_seconds
    if args.ring:
        try:
            record = with_progress(lambda: finder.Bcst_checkMACAndRing(args.ring), wait)
        except pyzelvo.ReceivePacketTimeoutError:
            return _outcome(args, {"ring": args.ring, "answered": False}, f"No device with MAC {args.ring} answered.", 1)
        return _outcome(args, {"ring": args.ring, "answered": True, "record": record.hex()},
                        f"The device with MAC {args.ring} is ringing.", 0)
    if args.set_ip:
        mac, ip, mask, gateway = args.set_ip
        request = {"mac": mac, "ip": ip, "subnet_mask": mask, "gateway": gateway}
        try:
            status = with_progress(lambda: finder.Bcst_checkMACAndSetIP(ip, mac, gateway, mask), wait)
        except pyzelvo.ReceivePacketTimeoutError:
            return _outcome(args, {"set_ip": request, "answered": False}, f"No device with MAC {mac} answered.", 1)
        text = (f"The device with MAC {mac} now has IP {ip}, mask {mask}, gateway {gateway}." if status == 0
                else f"The device with MAC {mac} refused the addresses (status {status}).")
        return _outcome(args, {"set_ip": request, "answered": True, "status": status}, text, 0 if status == 0 else 1)
    network = with_progress(lambda: network_devices(finder), wait)
    usb, usb_error = ([], None) if args.no_usb else usb_devices(finder)
    if args.json:
        print(json.dumps({"network": network, "usb": usb, "usb_error": usb_error}, indent=2))
    else:
        print(report(network, None if args.no_usb else usb, usb_error))
    return 0


def _list_usb_only(args: argparse.Namespace) -> int:
    finder = pyzelvo.DeviceFinder(verbose=False)  # not connected: enumerating USB sends nothing
    try:
        usb, usb_error = usb_devices(finder)
    finally:
        finder.close(verbose=False)
    if args.json:
        print(json.dumps({"usb": usb, "usb_error": usb_error}, indent=2))
    else:
        print(report([], usb, usb_error).split("\n", 1)[1])
    return 0


def _outcome(args: argparse.Namespace, data: dict, text: str, status: int) -> int:
    print(json.dumps(data, indent=2) if args.json else text)
    return status
