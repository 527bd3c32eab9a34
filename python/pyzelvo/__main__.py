"""Command line: ``python -m pyzelvo tour`` runs the tour against the built-in emulator;
``python -m pyzelvo sim MODEL...`` serves emulated devices on this machine; ``python -m pyzelvo
examples`` lists the example scripts by product and category; ``python -m pyzelvo find`` lists the
devices on the network and on USB."""

from __future__ import annotations

import sys

USAGE = """usage: python -m pyzelvo COMMAND [ARGS]

commands:
  tour             connect to emulated devices and show what the driver does
  sim MODEL...     serve emulated devices (e.g. TavraA Koru) on this machine until Ctrl-C
  examples [PRODUCT...]
                   list the example scripts by product and category
  find             list the devices on the local network and on USB (--ring MAC, --set-ip MAC IP
                   MASK GATEWAY, --json, --loopback; see find --help)
"""


def main(argv: list[str]) -> int:
    if not argv or argv[0] in ("-h", "--help"):
        print(USAGE, end="")
        return 0 if argv else 2
    command, rest = argv[0], argv[1:]
    if command == "tour":
        from .tour import main as tour

        return tour(rest)
    if command == "sim":
        from .sim import main as sim

        return sim(rest)
    if command == "examples":
        from .examples import main as examples

        return examples(rest)
    if command == "find":
        from .find import main as find

        return find(rest)
    print(f"unknown command {command!r}\n" + USAGE, end="", file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
