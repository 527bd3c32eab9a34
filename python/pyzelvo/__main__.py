"""The ``pyzelvo`` command (also ``python -m pyzelvo``): a tour against the built-in emulator,
emulated devices served to other programs, the devices attached or on the network, one device's
facts, analog input streamed to CSV, and the example scripts. ``pyzelvo COMMAND --help`` tells more."""

from __future__ import annotations

import importlib
import sys

USAGE = """usage: pyzelvo COMMAND [ARGS]   (or: python -m pyzelvo COMMAND [ARGS])

commands:
  tour             connect to emulated devices and show what the driver does
  sim MODEL...     serve emulated devices (e.g. TavraA PellorK1D) on this machine until Ctrl-C
  list             list the devices attached over USB and those on the local network
  find             list the network devices; ring or re-address one by MAC (--ring, --set-ip)
  info TARGET      model, serial number, firmware, alias and clock of one device
  stream TARGET --out FILE
                   stream analog inputs to a CSV file (--port, --rate, --seconds)
  examples [PRODUCT...]
                   list the example scripts by product and category

options:
  -h, --help       this text
  --version        the driver's version

TARGET is usb (the first USB device), a USB serial number or HOST[:PORT[:DATA_PORT]].
"""


# Each command: the module and function that run it (imported when used, so the command starts quickly).
COMMANDS: dict[str, tuple[str, str]] = {
    "tour": ("tour", "main"),
    "sim": ("sim", "main"),
    "list": ("find", "list_main"),
    "find": ("find", "main"),
    "info": ("cli", "info_main"),
    "stream": ("cli", "stream_main"),
    "examples": ("examples", "main"),
}


def main(argv: list[str]) -> int:
    """Runs one command; returns its exit status (2: no or an unknown command)."""
    if not argv or argv[0] in ("-h", "--help"):
        print(USAGE, end="")
        return 0 if argv else 2
    if argv[0] == "--version":
        from . import __version__

        print(f"pyzelvo {__version__}")
        return 0
    command, rest = argv[0], argv[1:]
    if command not in COMMANDS:
        print(f"unknown command {command!r}\n" + USAGE, end="", file=sys.stderr)
        return 2
    module, function = COMMANDS[command]
    return getattr(importlib.import_module(f".{module}", __package__), function)(rest)


def run() -> None:
    """The console script ``pyzelvo``."""
    sys.exit(main(sys.argv[1:]))


if __name__ == "__main__":
    run()
