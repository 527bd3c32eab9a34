"""Built-in device emulator.

Emulated Zelvo devices answer the device protocol on loopback TCP, so scripts and tests run
without hardware. Each emulated device runs a firmware model of its product (identity, clock,
EEPROM, pin and slot modes, ...) behind its own listener, and offers fault controls for testing
retries and time-outs::

    from pyzelvo import sim

    with sim.Emulator() as emu:
        dev = emu.add("TavraA")                   # 127.0.0.1, a free port
        print(dev.address)                        # ('127.0.0.1', 40211)
        wifi = emu.add("AerisR3A")                # Wi-Fi: command and data channel
        print(wifi.port, wifi.data_port)
        dev.ignore_first(122, 2)                  # two GET_SERIAL_NUMBER requests go unanswered
        exd = emu.add("TavraEXD")                 # digital I/O: drive inputs, watch outputs
        exd.dio.set_input(2, 5, 1)                # pin 5 of port 2 sees a high level
        exd.dio.outputs(0)                        # levels port 0 drives, bit n = pin n
        exd.dio.words(0)                          # (enabled, direction, state) words
        dev.ai.set_waveform(0, "square", 2.0, 50.0)  # analog input 0 sees a +-2 V, 50 Hz square
        dev.ai.next_read(0)                       # raw counts the next on-demand read returns
        dev.ai.state(0)                           # AI settings the host made, stream progress
        dev.ai.unthrottled = True                 # streams go as fast as the reader takes them

The peripheral controls are grouped by peripheral (``dev.dio``, ``dev.ai``); their earlier flat
names (``set_input``, ``outputs``, ``dio_words``, ``ai_set_waveform``, ``ai_state``, ...) remain
as aliases.

Network products also keep network settings and answer discovery (``dev.network``): requests
broadcast on the loopback network (127.255.255.255) or from a loopback address (255.255.255.255)
to the discovery port reach every emulated device, which answers from its own address; answers
never leave this machine. SNTP and SD card products have ``dev.sntp`` and ``dev.sd``::

    with sim.Emulator(discovery_port=50001, answer_port=50002) as emu:
        a, b = emu.add("TavraA", host="127.0.0.2"), emu.add("TavraD", host="127.0.0.3")
        a.network.ip, a.network.mac               # '192.168.1.110', '02:5a:...'
        b.network.mac = a.network.mac             # two devices with one MAC
        a.network.ignore_discovery(2)             # only the third copy of a request is answered

USB products can also be served over USB, through the shim library that
:func:`usb_library_path` names; a process that loads it as its libusb-1.0 (environment
variable ``ZELVO_LIBUSB``) reaches them with ``connect(serial_number)``::

    os.environ["ZELVO_LIBUSB"] = sim.usb_library_path()
    with sim.Emulator() as emu:
        target = emu.add("PellorK1D", usb=True)
        dev = pyzelvo.PellorK1D()
        dev.connect(target.serial_number)
        target.unplug()                           # hot-unplug

From a shell: ``pyzelvo sim TavraA PellorK1D`` serves until Ctrl-C and prints the ``connect(...)``
line of each device; USB products are offered to other processes through a UNIX socket (see
:meth:`Emulator.serve_usb`), so a script written for the hardware runs unchanged.
"""

from __future__ import annotations

import argparse
import ipaddress
import os
import shutil
import signal
import socket
import sys
import tempfile
import threading
import weakref
from typing import Literal, Optional, Sequence, overload

from . import _core

_sim = _core.sim

#: One emulated device; returned by :meth:`Emulator.add`.
EmulatedDevice = _sim.EmulatedDevice
#: One emulated device on USB; returned by :meth:`Emulator.add` with ``usb=True``.
EmulatedUsbDevice = _sim.EmulatedUsbDevice
#: The digital I/O controls of a device (``dev.dio``).
DioControls = _sim.DioControls
#: The analog-input controls of a device (``dev.ai``).
AiControls = _sim.AiControls
#: The PWM, pulse-counter, encoder, relay and potentiometer controls of a device (``dev.pwm``,
#: ``dev.counter``, ``dev.encoder``, ``dev.relay``, ``dev.dpot``).
PwmControls = _sim.PwmControls
CounterControls = _sim.CounterControls
EncoderControls = _sim.EncoderControls
RelayControls = _sim.RelayControls
DpotControls = _sim.DpotControls
#: The analog-output, thermal, attitude-sensor and Wi-Fi board controls (``dev.ao``, ``dev.thermal``,
#: ``dev.ahrs``, ``dev.wifi``).
AoControls = _sim.AoControls
ThermalControls = _sim.ThermalControls
AhrsControls = _sim.AhrsControls
WifiControls = _sim.WifiControls
#: The network settings and discovery controls of a device (``dev.network``).
NetworkControls = _sim.NetworkControls
#: The time-synchronisation controls of a device (``dev.sntp``).
SntpControls = _sim.SntpControls
#: The SD card of a device (``dev.sd``).
SdCardControls = _sim.SdCardControls

#: Ports a Wi-Fi device listens on out of the box (command channel, data channel).
WIFI_PAIR_PORTS = (7, 1336)

#: Discovery ports of emulators made without ports of their own: requests arrive at the first,
#: answers go to the second (the protocol's ports; the test suite moves them to free ones).
DISCOVERY_PORTS = (61557, 6667)

__all__ = [
    "Emulator",
    "EmulatedDevice",
    "EmulatedUsbDevice",
    "DioControls",
    "AiControls",
    "PwmControls",
    "CounterControls",
    "EncoderControls",
    "RelayControls",
    "DpotControls",
    "AoControls",
    "ThermalControls",
    "AhrsControls",
    "WifiControls",
    "NetworkControls",
    "SntpControls",
    "SdCardControls",
    "WIFI_PAIR_PORTS",
    "DISCOVERY_PORTS",
    "products",
    "usb_products",
    "free_udp_ports",
    "usb_library_path",
    "connect_line",
    "main",
]


def products() -> list[str]:
    """Class names of the products the emulator can serve, e.g. ``["AerisR3AH", ..., "TavraA", ...]``."""
    return list(_sim.products())


def usb_products() -> list[str]:
    """Class names of the products that can be served over USB (``add(..., usb=True)``)."""
    return list(_sim.usb_products())


def free_udp_ports(count: int = 2) -> tuple[int, ...]:
    """``count`` distinct UDP ports free on 127.0.0.1 right now, e.g. for
    ``Emulator(discovery_port=..., answer_port=...)`` beside other emulators on this machine."""
    probes = [socket.socket(socket.AF_INET, socket.SOCK_DGRAM) for _ in range(count)]
    try:
        for s in probes:
            s.bind(("127.0.0.1", 0))
        return tuple(s.getsockname()[1] for s in probes)
    finally:
        for s in probes:
            s.close()


def usb_library_path() -> str:
    """Absolute path of the USB shim library (``libzelvo_usbsim.so``, installed beside the module).

    It stands in for libusb-1.0: a process whose driver loads it (``ZELVO_LIBUSB`` set to this
    path before ``connect``) sees the devices added with ``usb=True`` in this process, and no real
    USB device. Raises RuntimeError when the library is missing.
    """
    return _sim.usb_library_path()


class Emulator:
    """A set of emulated devices.

    Every device runs until :meth:`close`, which leaving a ``with`` block, garbage collection of
    the emulator and interpreter exit also call.
    """

    def __init__(self, *, discovery_port: Optional[int] = None, answer_port: Optional[int] = None) -> None:
        """``discovery_port`` and ``answer_port``: where the network devices of this emulator take
        discovery requests and where they send the answers (default :data:`DISCOVERY_PORTS`)."""
        self.discovery_port = DISCOVERY_PORTS[0] if discovery_port is None else discovery_port
        self.answer_port = DISCOVERY_PORTS[1] if answer_port is None else answer_port
        self._core = _sim.Emulator()
        self._lock = threading.Lock()
        self._added: list = []  # every device, in order
        self._usb: list[EmulatedUsbDevice] = []
        self._usb_socket: Optional[str] = None
        self._usb_dir: Optional[str] = None
        # USB devices are unplugged when the emulator goes, as its TCP devices stop.
        weakref.finalize(self, _stop_all, self._usb)
        _live.add(self)

    @overload
    def add(self, class_name: str, host: str = ..., wifi_pair: bool = ..., *, port: int = ..., data_port: int = ...,
            serial: Optional[str] = ..., firmware_version: str = ..., usb: Literal[False] = ...) -> EmulatedDevice: ...

    @overload
    def add(self, class_name: str, host: str = ..., wifi_pair: bool = ..., *, port: int = ..., data_port: int = ...,
            serial: Optional[str] = ..., firmware_version: str = ..., usb: Literal[True]) -> EmulatedUsbDevice: ...

    def add(
        self,
        class_name: str,
        host: str = "127.0.0.1",
        wifi_pair: bool = False,
        *,
        port: int = 0,
        data_port: int = 0,
        serial: Optional[str] = None,
        firmware_version: str = "1.0.0",
        usb: bool = False,
        discovery_port: Optional[int] = None,
        answer_port: Optional[int] = None,
    ) -> "EmulatedDevice | EmulatedUsbDevice":
        """Start an emulated device of the product class ``class_name`` (``"TavraA"``, ...).

        It listens on ``host`` (any 127.0.0.0/8 address) at ``port`` (0: a free port). Wi-Fi
        products also get a data channel at ``data_port``; ``wifi_pair=True`` puts the two
        channels on the Wi-Fi default ports 7 and 1336 (binding ports below 1024 may need root).
        ``serial`` (8 characters) replaces the generated serial number.

        ``usb=True`` (USB products only) plugs the device into the USB shim's bus instead of
        listening on TCP: see :func:`usb_library_path`. Host and ports do not apply then.

        Network products answer discovery requests at ``discovery_port`` (0: not at all) and send
        the answers to ``answer_port`` (default: the emulator's); see ``dev.network``.

        Raises ValueError for an unknown product class or unsuitable options, OSError (for example
        PermissionError, or errno EADDRINUSE) when a port cannot be bound, RuntimeError after
        :meth:`close` or when the USB shim is missing.
        """
        if usb:
            if (host, wifi_pair, port, data_port, discovery_port, answer_port) != ("127.0.0.1", False, 0, 0, None, None):
                raise ValueError("a USB device has no host, ports or Wi-Fi pair")
            with self._lock:
                if self.closed:
                    raise RuntimeError("the emulator is closed")
                dev = _sim.add_usb(class_name, serial=serial or "", firmware_version=firmware_version)
                self._usb.append(dev)
                self._added.append(dev)
            return dev
        dev = self._core.add(
            class_name,
            host=host,
            wifi_pair=wifi_pair,
            port=port,
            data_port=data_port,
            serial=serial or "",
            firmware_version=firmware_version,
            discovery_port=self.discovery_port if discovery_port is None else discovery_port,
            answer_port=self.answer_port if answer_port is None else answer_port,
        )
        self._added.append(dev)
        return dev

    def serve_usb(self, socket_path: Optional[str] = None) -> str:
        """Offer this process's USB devices (those added with ``usb=True``, now and later) to other
        processes, on a UNIX socket; returns its path (by default a new one in a temporary folder).

        A process started with the environment variable ``ZELVO_USB_EMULATOR`` set to that path
        finds the devices on its USB bus, so ``PellorK1D().connect("default")`` reaches them with
        no change to the script. While a process is attached, the devices are its own (this
        process cannot also connect to them). Serving ends with :meth:`close`.
        """
        with self._lock:
            if self.closed:
                raise RuntimeError("the emulator is closed")
            if self._usb_socket is not None:
                if socket_path not in (None, self._usb_socket):
                    raise RuntimeError(f"already serving USB on {self._usb_socket}")
                return self._usb_socket
            if socket_path is None:
                self._usb_dir = tempfile.mkdtemp(prefix="pyzelvo-sim-")
                socket_path = os.path.join(self._usb_dir, "usb.sock")
            _sim.serve_usb(os.fspath(socket_path))
            self._usb_socket = os.fspath(socket_path)
            return self._usb_socket

    @property
    def usb_socket(self) -> Optional[str]:
        """The socket :meth:`serve_usb` serves on (None when not serving)."""
        return self._usb_socket

    @property
    def devices(self) -> "list[EmulatedDevice | EmulatedUsbDevice]":
        """The devices added so far, in order."""
        return list(self._added)

    @property
    def closed(self) -> bool:
        return self._core.closed

    def close(self) -> None:
        """Stop every device: listeners and connections close, USB devices are unplugged, at once.
        Idempotent."""
        with self._lock:
            self._core.close()
            if self._usb_socket is not None:
                _sim.stop_serving_usb()
                self._usb_socket = None
            if self._usb_dir is not None:
                shutil.rmtree(self._usb_dir, ignore_errors=True)
                self._usb_dir = None
        _stop_all(self._usb)

    def __enter__(self) -> "Emulator":
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def __repr__(self) -> str:
        if self.closed:
            return "<Emulator closed>"
        devices = ", ".join(_sim.describe(d) for d in self.devices)
        return f"<Emulator {len(self.devices)} device(s){': ' + devices if devices else ''}>"


_live: "weakref.WeakSet[Emulator]" = weakref.WeakSet()


def _stop_all(devices: list) -> None:
    for dev in list(devices):
        dev.stop()


def _close_all() -> None:
    """Close every emulator (the package's exit hook calls this after closing the devices)."""
    for emu in list(_live):
        emu.close()


def _host_for(base: str, offset: int) -> str:
    addr = ipaddress.IPv4Address(base) + offset
    if not addr.is_loopback:
        raise ValueError(f"{addr} is outside 127.0.0.0/8")
    return str(addr)


def connect_line(dev: "EmulatedDevice | EmulatedUsbDevice") -> str:
    """The lines a script uses to reach an emulated device, e.g.
    ``dev = pyzelvo.TavraA(); dev.connect("127.0.0.1", 40211)``."""
    name = dev.class_name
    if isinstance(dev, EmulatedUsbDevice):
        args = f'"{dev.serial_number}"'
    elif dev.data_port is not None:
        args = f'"{dev.host}", {dev.port}, {dev.data_port}'
    else:
        args = f'"{dev.host}", {dev.port}'
    return f"dev = pyzelvo.{name}(); dev.connect({args})"


def main(argv: Optional[Sequence[str]] = None) -> int:
    """The ``sim`` command: serve emulated devices until Ctrl-C or SIGTERM.

    ``argv`` holds the arguments after ``sim`` (default: ``sys.argv[1:]``). Prints one line per
    device, e.g. ``TavraA (Tavra-A) serial ZS1A2B3C on 127.0.0.1:40211``, followed by the line
    a script uses to connect to it; for USB products, the environment variable to set in the
    script's process. Returns the exit status.
    """
    parser = argparse.ArgumentParser(
        prog="pyzelvo sim",
        description="Serve emulated Zelvo devices on this machine until Ctrl-C or SIGTERM. Network "
        "products listen on loopback TCP; USB products are offered to other processes through a "
        "UNIX socket, so a script that connects to USB hardware runs unchanged once "
        "ZELVO_USB_EMULATOR names that socket in its environment.",
        epilog="example: pyzelvo sim PellorK1D TavraA --port 5000",
    )
    parser.add_argument("models", nargs="+", metavar="MODEL", help="product class name, e.g. TavraA or AerisR3A")
    parser.add_argument("--host", default="127.0.0.1", help="loopback address to listen on (default 127.0.0.1)")
    parser.add_argument("--port", type=int, default=0, metavar="N",
                        help="first TCP port: the network devices listen on N, N+1, ... (default: free ports)")
    parser.add_argument(
        "--wifi-pair",
        action="store_true",
        help="Wi-Fi models listen on ports 7 (commands) and 1336 (data); the second such model "
        "gets the next address after --host, and so on",
    )
    parser.add_argument("--usb-over-tcp", action="store_true",
                        help="serve USB models on TCP as network devices instead of through the USB socket")
    parser.add_argument("--usb-socket", metavar="PATH", help="the UNIX socket for USB models (default: a new temporary one)")
    parser.add_argument(
        "--discovery-port",
        type=int,
        default=DISCOVERY_PORTS[0],
        help=f"port the network devices take discovery requests on (default {DISCOVERY_PORTS[0]}; 0: none)",
    )
    parser.add_argument(
        "--answer-port",
        type=int,
        default=DISCOVERY_PORTS[1],
        help=f"port they send discovery answers to (default {DISCOVERY_PORTS[1]})",
    )
    args = parser.parse_args(argv)
    known = set(products())
    for model in args.models:
        if model not in known:
            parser.error(f"unknown model {model!r}; choose from: {', '.join(sorted(known))}")
    if not 0 <= args.port <= 65535:
        parser.error("--port must be between 0 and 65535")

    stop = threading.Event()
    restore = None
    if threading.current_thread() is threading.main_thread():
        restore = signal.signal(signal.SIGTERM, lambda *_: stop.set())
    try:
        with Emulator(discovery_port=args.discovery_port, answer_port=args.answer_port) as emu:
            wifi_count = 0
            next_port = args.port
            usb_models = set(usb_products())
            try:
                for model in args.models:
                    if model in usb_models and not args.usb_over_tcp:
                        emu.serve_usb(args.usb_socket)
                        dev = emu.add(model, usb=True)
                    else:
                        pair = args.wifi_pair and model in _wifi_models()
                        host = _host_for(args.host, wifi_count) if pair else args.host
                        wifi_count += pair
                        ports = {}
                        if next_port and not pair:
                            ports = {"port": next_port}
                            next_port += 1
                            if model in _wifi_models():
                                ports["data_port"] = next_port
                                next_port += 1
                        dev = emu.add(model, host=host, wifi_pair=pair, **ports)
                    print(_sim.describe(dev), flush=True)
                    print("    " + connect_line(dev), flush=True)
            except (ValueError, OSError, RuntimeError) as e:
                print(f"error: {e}", file=sys.stderr)
                return 1
            if emu.usb_socket is not None:
                print("USB devices: in the script's shell first run", flush=True)
                print(f"    export ZELVO_USB_EMULATOR={emu.usb_socket}", flush=True)
            if args.discovery_port and any(_answers_discovery(d) for d in emu.devices):
                print(
                    f"Discovery: requests on port {args.discovery_port} (loopback broadcasts), answers to port "
                    f"{args.answer_port}; try: pyzelvo find --loopback --port {args.discovery_port} "
                    f"--answer-port {args.answer_port}",
                    flush=True,
                )
            print("Serving; Ctrl-C stops.", flush=True)
            stop.wait()
    except KeyboardInterrupt:
        pass  # Ctrl-C is the normal way to stop; the emulator is closed by then
    finally:
        if restore is not None:
            signal.signal(signal.SIGTERM, restore)
    return 0


def _answers_discovery(dev) -> bool:
    try:
        return dev.network.discovery_port is not None
    except (AttributeError, ValueError):  # USB devices; products without network settings
        return False


def _wifi_models() -> set[str]:
    return set(_sim.wifi_products())


if __name__ == "__main__":
    sys.exit(main())
