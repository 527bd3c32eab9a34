"""What the example scripts share: their command line and the device they run on, and the listing
of ``python -m pyzelvo examples``.

An example script names its catalogue entry and opens its device::

    from pyzelvo.examples import Example

    example = Example("PWM", "generate_pwm", __doc__)
    dev = example.open()              # the product, connected
    channel = example.port            # the port the catalogue gives the category on this product
    ...
    dev.close()

Its command line is ``[TARGET] [--product NAME] [--emulate]``: TARGET is the serial number (USB) or
IP address (Ethernet, Wi-Fi) and defaults to the catalogue's; --product picks another product of
the category; --emulate runs the example against the built-in emulator instead of hardware. The
discovery examples (DeviceFinder) search, with --emulate, only the loopback network, where a few
emulated devices answer.
"""

from __future__ import annotations

import argparse
import os
import sys
from typing import Callable, Optional, Sequence

from . import _core
from .catalogue import (EXAMPLE_CONSOLE_DICT, HANDLE_DICT, HANDLE_LIST, HANDLE_PROPERTIES,
                        LABEL_DICT, example_needs)

def _has(modules: Sequence[str], needs: Sequence[str]) -> bool:
    return all(any(m in modules for m in need.split("|")) for need in needs)


def products_for(category: str, name: str) -> list[str]:
    """The products (catalogue order) whose examples include `category` and that have the modules
    the example calls."""
    needs = example_needs(category, name)
    return [p for p in HANDLE_LIST
            if category in HANDLE_PROPERTIES[p]["cat_port"] and _has(_core._PRODUCT_MODULES[p], needs)]


def implemented(category: str, name: str) -> bool:
    """Whether this version of the library implements every module the example calls."""
    return _has(_core._IMPLEMENTED_MODULES, example_needs(category, name))


# What an emulated device applies to its inputs so that an example shows something: category ->
# f(emulated device, the category's port, the connected product).
def _pulses(target, port: int, dev) -> None:
    target.counter.set_input(port, 1000.0)


def _shaft(target, port: int, dev) -> None:
    target.encoder.set_velocity(400.0)


def _input_levels(target, port: int, dev) -> None:
    for p, pins in dev.di_dict.items():  # every other input pin high
        target.dio.set_inputs(p, sum(1 << pin for pin in pins[::2]))


def _wired_outputs(target, port: int, dev) -> None:
    target.ao.wired_to_ai = True  # output channel i drives input channel i of the same port


# Temperatures the emulated sensors see: a warm first channel slowly heating, the others near room
# temperature with a little noise.
WARM_CELSIUS, ROOM_CELSIUS, HEATING_PER_SECOND, SENSOR_NOISE = 85.0, 23.0, 0.5, 0.05


def _temperatures(target, port: int, dev) -> None:
    for channel in range(target.thermal.port(port)["channels"]):
        celsius, drift = (WARM_CELSIUS, HEATING_PER_SECOND) if channel == 0 else (ROOM_CELSIUS, 0.0)
        target.thermal.set_temperature(port, channel, celsius, drift=drift, noise=SENSOR_NOISE, seed=channel)


TURN_RATE = (0.0, 0.2, 0.5)  # rad/s about the body's x, y and z axes


def _turning(target, port: int, dev) -> None:
    target.ahrs.set_angular_rate(*TURN_RATE, port=port)


# Files already on the emulated SD card (the device lists no directory: examples look for names).
SD_FILES = {"config.txt": b"rate=1000\nchannels=8\n", "data_0001.csv": b"t;ai0\n0.000;1.25\n0.001;1.26\n"}


def _sd_card(target, port: Optional[int], dev) -> None:
    for name, contents in SD_FILES.items():
        target.sd.put_file(name, contents)


BATTERY_MV, SIGNAL_DBM = 3920, -58  # a battery being charged, a fair signal


def _board(target, port: Optional[int], dev) -> None:
    target.wifi.battery, target.wifi.rssi, target.wifi.charging = BATTERY_MV, SIGNAL_DBM, True


# Home switches behind where the homing examples start: the stepper's (physical microsteps) and
# axis 0's of the motion chip (logical pulses, with an index pulse every INDEX_PERIOD pulses).
STEPPER_HOME, AXIS_HOME, INDEX_PERIOD = (-3200, -3000), (-3000, -2800), 400


def _stepper_switches(target, port: int, dev) -> None:
    target.stepper.place_switch("home", *STEPPER_HOME, port=port)


def _axis_switches(target, port: int, dev) -> None:
    target.motion.place_switch(0, "home", *AXIS_HOME, port=port)
    target.motion.place_switch(0, "z", 0, period=INDEX_PERIOD, port=port)


# The far side of the serial buses: a line of text arriving on the UART, and a CAN node sending a
# numbered frame every CAN_PERIOD seconds (the I2C memory at 0x50 and the SPI loopback are there
# by default).
UART_TEXT, CAN_ID, CAN_PERIOD = b"temperature=21.5\r\n", 0x321, 0.05


def _uart_far_side(target, port: int, dev) -> None:
    target.uart.inject(port, UART_TEXT)


def _can_node(target, port: int, dev) -> None:
    target.can.add_generator(CAN_ID, b"\0\0\0\0\x55\xaa", period=CAN_PERIOD, counter=True)


_STIMULI: dict[str, Callable[[object, Optional[int], object], None]] = {
    "Counter": _pulses, "Encoder": _shaft, "DIO": _input_levels, "AIO": _wired_outputs,
    "Temperature_TC": _temperatures, "Temperature_RTD": _temperatures, "AHRS": _turning, "SD": _sd_card,
    "System_Wifi": _board, "Drive": _stepper_switches, "Motion": _axis_switches, "UART": _uart_far_side,
    "CAN": _can_node,
}

# What --emulate puts on the loopback network for the discovery examples: (product, loopback host).
# Searches stay on this machine, and emulated devices answer at once, so a short collection will do.
NETWORK_DEVICES = (("TavraA", "127.0.0.2"), ("Koru", "127.0.0.3"), ("AerisR3AH", "127.0.0.4"))
EMULATED_COLLECT_SECONDS = 1.0


class Example:
    """The command line of an example script and the device it runs on (see the module docstring)."""

    def __init__(self, category: str, name: str, doc: Optional[str] = None,
                 argv: Optional[Sequence[str]] = None) -> None:
        products = products_for(category, name)
        if not products:
            raise ValueError(f"no product runs the example {category}/{name}")
        parser = argparse.ArgumentParser(
            prog=f"{name}.py", description=doc, formatter_class=argparse.RawDescriptionHelpFormatter)
        parser.add_argument("target", nargs="?",
                            help="serial number (USB) or IP address (Ethernet, Wi-Fi); default: the catalogue's")
        parser.add_argument("--product", choices=products, default=products[0],
                            help=f"the product to run on (default {products[0]})")
        parser.add_argument("--emulate", action="store_true", help="run against the built-in emulator")
        args = parser.parse_args(argv)
        self.category = category
        self.name = name
        self.product: str = args.product
        self.port: Optional[int] = HANDLE_PROPERTIES[self.product]["cat_port"][category]
        self.target: str = args.target or HANDLE_PROPERTIES[self.product]["connect"]
        #: Whether the command line named the device (False: the catalogue's default target).
        self.target_named: bool = args.target is not None
        self.emulate: bool = args.emulate
        #: The emulated device (pyzelvo.sim) when running with --emulate, else None.
        self.emulated = None
        self._emulator = None

    def port_in(self, port_map: dict) -> int:
        """The category's port when the map (di_dict, do_dict, ...) has it, else the map's first port."""
        return self.port if self.port in port_map else min(port_map)

    def open(self):
        """Creates the product object and connects it: to TARGET, or with --emulate to an emulated
        device started for it (closed when the program ends)."""
        import pyzelvo

        if self.product in HANDLE_DICT["utilities"]:  # discovery: nothing to connect to
            return self._open_finder()
        if self.emulate:
            self._start_emulated()
        dev = getattr(pyzelvo, self.product)()
        target = self.emulated
        if target is None:
            dev.connect(self.target)
        elif target.usb:
            dev.connect(target.serial_number)
        elif target.data_port is not None:
            dev.connect(target.host, target.port, target.data_port)
        else:
            dev.connect(target.host, target.port)
        stimulus = _STIMULI.get(self.category)
        if target is not None and stimulus is not None:
            stimulus(target, self.port, dev)
        return dev

    def _open_finder(self):
        """The finder, bound; with --emulate searching only the loopback network, where emulated
        devices (NETWORK_DEVICES) answer on free ports."""
        import pyzelvo

        if not self.emulate:
            dev = getattr(pyzelvo, self.product)()
            dev.connect()
            return dev
        from . import find, sim

        os.environ["ZELVO_BROADCAST_LOOPBACK_ONLY"] = "1"  # the driver refuses anything but loopback
        discovery_port, answer_port = sim.free_udp_ports(2)
        self._emulator = sim.Emulator(discovery_port=discovery_port, answer_port=answer_port)
        for product, host in NETWORK_DEVICES:
            print(f"Emulating {_core.sim.describe(self._emulator.add(product, host=host))}")
        dev = getattr(pyzelvo, self.product)()
        client = dev.client_udp
        client.bcst_address, client.bcst_port, client.bcst_sources = find.LOOPBACK_TARGET, discovery_port, [
            find.LOOPBACK_SOURCE]
        dev._collect_seconds = EMULATED_COLLECT_SECONDS
        dev.connect(host=find.LOOPBACK_SOURCE, port=answer_port)
        return dev

    def _start_emulated(self) -> None:
        from . import sim

        usb = self.product in HANDLE_DICT["USB"]
        if usb:  # this process reaches the emulated USB devices only through the emulator's shim
            os.environ["ZELVO_LIBUSB"] = sim.usb_library_path()
        self._emulator = sim.Emulator()
        self.emulated = self._emulator.add(self.product, usb=usb)
        print(f"Emulating {_core.sim.describe(self.emulated)}")


# --- python -m pyzelvo examples --------------------------------------------------------------------


def listing(products: Optional[Sequence[str]] = None) -> str:
    """The example index by group, product and category: for each example its script and whether
    this version of the library runs it."""
    lines = []
    for group, names in HANDLE_DICT.items():
        chosen = [n for n in names if products is None or n in products]
        if not chosen:
            continue
        lines.append(LABEL_DICT[group])
        for product in chosen:
            lines.append(f"  {LABEL_DICT[product]} ({product}), connect: {HANDLE_PROPERTIES[product]['connect']}")
            for category, port in HANDLE_PROPERTIES[product]["cat_port"].items():
                where = "" if port is None else f", port {port}"
                lines.append(f"    {LABEL_DICT[category]}{where}")
                for name in EXAMPLE_CONSOLE_DICT[category]:
                    if product not in products_for(category, name):
                        continue
                    note = "" if implemented(category, name) else "  (not in this version)"
                    lines.append(f"      {category}/{name}.py  {LABEL_DICT[name]}{note}")
    return "\n".join(lines)


def main(argv: Sequence[str]) -> int:
    """``python -m pyzelvo examples [PRODUCT...]``"""
    wants_help = any(a in ("-h", "--help") for a in argv)
    unknown = [] if wants_help else [a for a in argv if a not in HANDLE_LIST]
    if unknown or wants_help:
        print("usage: pyzelvo examples [PRODUCT...]\n\n"
              "Lists the example scripts (examples/<category>/<name>.py) by product and category.\n"
              f"Products: {', '.join(HANDLE_LIST)}", file=sys.stderr if unknown else sys.stdout)
        return 2 if unknown else 0
    print(listing(list(argv) or None))
    run = "python examples/<category>/<name>.py [TARGET] [--product NAME] [--emulate]"
    print(f"\nRun one: {run}")
    return 0


__all__ = ["Example", "products_for", "implemented", "listing", "main"]
