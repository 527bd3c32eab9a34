"""Runs inside a private network namespace (``unshare -rn``) made for one test: loopback and a veth
pair are its only interfaces, so the driver's real discovery path (requests from every interface
that is up to 255.255.255.255) reaches nothing outside it. Two plain receivers share the request
port and an emulated device listens on it too; prints what the finder found and where the
requests came from, as JSON."""

import json
import socket
import subprocess
import threading
import time

import pyzelvo
from pyzelvo import sim

VETH = ("zvA", "zvB")
ADDRESSES = ("10.231.0.1/24", "10.231.0.2/24")
REQUEST_PORT, ANSWER_PORT = 40555, 40556
COLLECT = 1.5
CARRIER_WAIT = 10  # seconds


def ip(*args):
    subprocess.run(["ip", *args], check=True)


def carrier(name):
    shown = subprocess.run(["ip", "-o", "link", "show", "dev", name], capture_output=True, text=True, check=True)
    return "state UP" in shown.stdout


def set_up_interfaces():
    ip("link", "set", "lo", "up")
    ip("link", "add", VETH[0], "type", "veth", "peer", "name", VETH[1])
    for name, address in zip(VETH, ADDRESSES):
        ip("addr", "add", address, "dev", name)
        ip("link", "set", name, "up")
    # A veth end carries packets once both ends are up and the kernel says so.
    deadline = time.monotonic() + CARRIER_WAIT
    while not all(carrier(name) for name in VETH):
        if time.monotonic() > deadline:
            raise SystemExit("the veth pair did not come up")
        time.sleep(0.01)


def frame(code, payload):
    body = bytes([code]) + payload
    return b"\x02" + len(body).to_bytes(2, "big") + body + b"\r\n"


def record(serial):
    text = lambda t, n: t.encode().ljust(n, b"\0")  # noqa: E731
    return (bytes([10, 231, 0, 9, 255, 255, 255, 0, 2, 0x5A, 0, 0, 0, int(serial[-1])]) + text("Receiver", 32)
            + text(serial, 8) + text("", 16) + text("", 32) + bytes([10, 231, 0, 1]))


def bound_receiver():
    """A socket on the shared request port (bound before anything is sent)."""
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("", REQUEST_PORT))
    s.settimeout(0.1)
    return s


def receiver(s, serial, stop, sources):
    """Answers every request with its record until stopped."""
    while not stop.is_set():
        try:
            data, (host, _) = s.recvfrom(512)
        except socket.timeout:
            continue
        sources.append(host)
        s.sendto(frame(252, b"\x01" + record(serial)), (host, ANSWER_PORT))
    s.close()


def main():
    set_up_interfaces()
    stop = threading.Event()
    seen = {"RESP0001": [], "RESP0002": []}
    threads = [threading.Thread(target=receiver, args=(bound_receiver(), serial, stop, sources))
               for serial, sources in seen.items()]
    for t in threads:
        t.start()
    with sim.Emulator(discovery_port=REQUEST_PORT, answer_port=ANSWER_PORT) as emu:
        emulated = emu.add("TavraA")
        finder = pyzelvo.DeviceFinder(verbose=False)
        finder.client_udp.bcst_port = REQUEST_PORT  # to 255.255.255.255 from every interface that is up
        finder._collect_seconds = COLLECT
        finder.connect(verbose=False, port=ANSWER_PORT)
        found = [r[4] for r in finder.Bcst_enumerateNetworkDevices()]
        finder.disconnect(verbose=False)
        finder.close(verbose=False)
    stop.set()
    for t in threads:
        t.join()
    sources = set(seen["RESP0001"]) | set(seen["RESP0002"])
    copies = [all(s.count(src) >= pyzelvo.NUM_BCST_RETRIES for src in sources) for s in seen.values()]
    print(json.dumps({"found": found, "sources": sorted(sources), "copies_per_responder": copies,
                      "emulated": emulated.serial_number}))


if __name__ == "__main__":
    main()
