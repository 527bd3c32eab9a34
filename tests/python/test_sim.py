"""The emulator's Python API and CLI, checked over raw sockets."""

import errno
import gc
import re
import signal
import socket
import subprocess
import sys
import time

import pytest

from pyzelvo import sim

GET_SERIAL_NUMBER = 122
GET_DEV_ALIAS = 2056
SET_DEV_ALIAS = 2057


def frame(code: int, payload: bytes = b"") -> bytes:
    body = (code.to_bytes(2, "big") if code >= 256 else bytes([code])) + payload
    return b"\x02" + len(body).to_bytes(2, "big") + body + b"\r\n"


def read_exactly(sock: socket.socket, n: int) -> bytes:
    out = b""
    while len(out) < n:
        chunk = sock.recv(n - len(out))
        if not chunk:
            break
        out += chunk
    return out


def exchange(sock: socket.socket, code: int, payload: bytes = b"") -> bytes:
    sock.sendall(frame(code, payload))
    head = read_exactly(sock, 3)
    assert head[0] == 2
    rest = read_exactly(sock, int.from_bytes(head[1:3], "big") + 2)
    assert rest.endswith(b"\r\n")
    width = 1 if rest[0] > 48 else 2
    assert int.from_bytes(rest[:width], "big") == code
    return rest[width:-2]


def closed_by_peer(sock: socket.socket) -> bool:
    """The peer closed the connection: end of stream, or a reset if it was never accepted."""
    try:
        return sock.recv(10) == b""
    except ConnectionResetError:
        return True


def connect(address, timeout=2.0) -> socket.socket:
    s = socket.create_connection(address, timeout=timeout)
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return s


def test_device_properties(emu):
    dev = emu.add("TavraA")
    wifi = emu.add("AerisR3A")
    assert (dev.class_name, dev.model, dev.host) == ("TavraA", "Tavra-A", "127.0.0.1")
    assert dev.address == ("127.0.0.1", dev.port) and dev.port > 0
    assert dev.data_port is None
    assert isinstance(wifi.data_port, int) and wifi.data_port not in (0, wifi.port)
    assert re.fullmatch(r"ZS[0-9A-F]{6}", dev.serial_number)
    assert dev.serial_number != wifi.serial_number
    assert dev.alias == "Tavra-A"
    assert f"TavraA (Tavra-A) serial {dev.serial_number} on 127.0.0.1:{dev.port}" in repr(dev)
    assert "data 127.0.0.1:" in repr(wifi)
    assert [d.port for d in emu.devices] == [dev.port, wifi.port]
    assert "TavraA" in sim.products() and "KORULite" not in sim.products()


def test_wifi_pair_ports(emu):
    try:
        dev = emu.add("AerisR3A", host="127.0.0.212", wifi_pair=True)
    except PermissionError:
        pytest.skip("binding ports below 1024 needs root here")
    assert (dev.port, dev.data_port) == sim.WIFI_PAIR_PORTS
    with connect(("127.0.0.212", 7)) as s, connect(("127.0.0.212", 1336)):
        assert exchange(s, GET_DEV_ALIAS) == b"Aeris-R3-A\r\n"


@pytest.mark.parametrize(
    "kwargs",
    [
        {"class_name": "NoSuchBox"},
        {"class_name": "DeviceFinder"},
        {"class_name": "TavraA", "host": "192.168.1.10"},
        {"class_name": "TavraA", "wifi_pair": True},
        {"class_name": "TavraA", "serial": "TOO-LONG-SERIAL"},
    ],
)
def test_add_rejects_with_value_error(emu, kwargs):
    with pytest.raises(ValueError):
        emu.add(**kwargs)


def test_bind_failure_is_os_error(emu):
    taken = emu.add("TavraA")
    with pytest.raises(OSError) as info:
        emu.add("TavraD", port=taken.port)
    assert info.value.errno == errno.EADDRINUSE


def test_identity_setters_reach_the_wire(emu):
    dev = emu.add("TavraD")
    with connect(dev.address) as s:
        dev.alias = "rack 3"
        assert exchange(s, GET_DEV_ALIAS) == b"rack 3\r\n"
        assert exchange(s, SET_DEV_ALIAS, "bänk".encode()) == b"\x00"
        assert dev.alias == "bänk"
        dev.serial_number = "AB12CD34"
        assert exchange(s, GET_SERIAL_NUMBER) == b"AB12CD34"
    with pytest.raises(ValueError):
        dev.alias = "x" * 33
    with pytest.raises(ValueError):
        dev.serial_number = "short"
    assert dev.alias == "bänk" and dev.serial_number == "AB12CD34"


def test_fault_controls(emu):
    dev = emu.add("TavraA")
    serial_reply = frame(GET_SERIAL_NUMBER, dev.serial_number.encode())
    with connect(dev.address, timeout=0.3) as s:
        dev.ignore_first(GET_SERIAL_NUMBER, 1)
        s.sendall(frame(GET_SERIAL_NUMBER))
        with pytest.raises(socket.timeout):
            s.recv(100)
        s.settimeout(2)
        assert exchange(s, GET_SERIAL_NUMBER) == dev.serial_number.encode()
        assert dev.request_count(GET_SERIAL_NUMBER) == 2
        assert dev.request_counts == {GET_SERIAL_NUMBER: 2}

        dev.prepend_garbage(b"\xaa\xbb")
        dev.split_replies(3)
        dev.delay_replies(0.2)
        t0 = time.monotonic()
        s.sendall(frame(GET_SERIAL_NUMBER))
        assert read_exactly(s, 2 + len(serial_reply)) == b"\xaa\xbb" + serial_reply
        assert time.monotonic() - t0 >= 0.19

        dev.reset_faults()
        t0 = time.monotonic()
        assert exchange(s, GET_SERIAL_NUMBER) == dev.serial_number.encode()
        assert time.monotonic() - t0 < 0.15

        dev.drop_connection()
        assert closed_by_peer(s)
    assert dev.connection_count == 0
    with connect(dev.address) as s:
        assert exchange(s, GET_DEV_ALIAS) == b"Tavra-A\r\n"


def test_close_is_idempotent_and_stops_listening():
    emu = sim.Emulator()
    dev = emu.add("Kinora")
    client = connect(dev.address)
    emu.close()
    emu.close()
    assert emu.closed and not dev.running
    assert "closed" in repr(emu) and "stopped" in repr(dev)
    assert closed_by_peer(client)
    client.close()
    with pytest.raises(ConnectionRefusedError):
        socket.create_connection(dev.address, timeout=1)
    with pytest.raises(RuntimeError):
        emu.add("Kinora")


def test_garbage_collection_stops_devices():
    emu = sim.Emulator()
    address = emu.add("TavraL").address
    del emu
    gc.collect()
    with pytest.raises(ConnectionRefusedError):
        socket.create_connection(address, timeout=1)


def _start_cli(*args):
    code = "import sys; from pyzelvo import sim; sys.exit(sim.main(sys.argv[1:]))"
    return subprocess.Popen(
        [sys.executable, "-c", code, *args],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL),
    )


@pytest.mark.parametrize("stop_signal", [signal.SIGTERM, signal.SIGINT])
def test_cli_serves_until_signalled(stop_signal):
    proc = _start_cli("TavraA", "AerisR3A", "TavraA")
    try:
        output = [proc.stdout.readline().strip() for _ in range(8)]
        assert output[-2].startswith("Discovery: requests on port ") and output[-1] == "Serving; Ctrl-C stops."
        lines = output[0:6:2]
        assert output[1] == f'dev = pyzelvo.TavraA(); dev.connect("127.0.0.1", {lines[0].rsplit(":", 1)[1]})'
        pattern = r"(\w+) \(([\w-]+)\) serial ZS[0-9A-F]{6} on 127\.0\.0\.1:(\d+)(, data 127\.0\.0\.1:(\d+))?"
        matches = [re.fullmatch(pattern, line) for line in lines]
        assert all(matches), lines
        assert [m.group(1) for m in matches] == ["TavraA", "AerisR3A", "TavraA"]
        assert matches[1].group(5) and not matches[0].group(5)
        assert len({m.group(3) for m in matches}) == 3
        with connect(("127.0.0.1", int(matches[0].group(3)))) as s:
            assert exchange(s, GET_DEV_ALIAS) == b"Tavra-A\r\n"
        proc.send_signal(stop_signal)
        assert proc.wait(timeout=5) == 0
    finally:
        proc.kill()
        proc.wait()


def test_cli_rejects_unknown_model():
    proc = _start_cli("NoSuchBox")
    assert proc.wait(timeout=10) == 2
    assert "unknown model" in proc.stderr.read()


# The controls of a peripheral are grouped under its name; the flat names from before the grouping
# stay as aliases and reach the same state.
@pytest.mark.parametrize("product, flat, group, grouped, args", [
    ("TavraEXD", "dio_words", "dio", "words", (0,)),
    ("TavraEXD", "dio_startup", "dio", "startup", (1,)),
    ("TavraEXD", "outputs", "dio", "outputs", (0,)),
    ("TavraA", "ai_state", "ai", "state", (0,)),
    ("TavraA", "ai_waveform", "ai", "waveform", (3,)),
    ("Koru", "ai_next_read", "ai", "next_read", (1,)),
])
def test_grouped_controls_and_their_flat_names_agree(emu, product, flat, group, grouped, args):
    dev = emu.add(product)
    assert getattr(getattr(dev, group), grouped)(*args) == getattr(dev, flat)(*args)


def test_grouped_controls_change_what_the_flat_names_show(emu):
    dio, ai = emu.add("TavraEXD"), emu.add("TavraA")
    dio.dio.set_inputs(2, 0b101)
    assert dio.inputs(2) == 0b101
    dio.set_input(2, 1, 1)
    assert dio.dio.inputs(2) == 0b111
    ai.ai.unthrottled = True
    assert ai.ai_unthrottled and ai.ai.ports == ai.ai_ports == [0]
    with pytest.raises(ValueError, match="no digital I/O"):
        ai.dio.outputs(0)          # the group exists; its controls refuse on a product without DIO
