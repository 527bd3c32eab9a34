"""python-can and pyserial, through their own public APIs, against the emulator over USB: the bus
interface "zelvo" and zelvo:// serial URLs."""

from __future__ import annotations

import time

import pytest

import pyzelvo as z
from support.helpers import eventually

can = pytest.importorskip("can")
serial = pytest.importorskip("serial")

from pyzelvo import can_bus  # noqa: E402  (needs python-can)

WAIT = 5.0


@pytest.fixture
def zelvo_can(monkeypatch):
    """The "zelvo" interface also when pyzelvo runs from the build tree (no entry points)."""
    if "zelvo" not in can.interfaces.BACKENDS:
        monkeypatch.setitem(can.interfaces.BACKENDS, "zelvo", ("pyzelvo.can_bus", "ZelvoBus"))
        monkeypatch.setattr(can.util, "VALID_INTERFACES", can.util.VALID_INTERFACES | {"zelvo"})


def message(id_, data=(), extended=False, remote=False):
    return can.Message(arbitration_id=id_, data=list(data), is_extended_id=extended, is_remote_frame=remote,
                       dlc=0 if remote else len(data))


# --- python-can -----------------------------------------------------------------------------------

def test_bus_send_and_recv_through_the_loopback(bus, zelvo_can):
    target = bus.add("PellorK1CD", usb=True)
    with can.Bus(interface="zelvo", channel=target.serial_number, bitrate=1_000_000) as can_bus_:
        assert target.can.state()["bitrate"] == 1_000_000
        can_bus_.send(message(0x123, [1, 2, 3]))
        can_bus_.send(message(0x1ABCDE, [9], extended=True))
        got = [can_bus_.recv(timeout=WAIT) for _ in range(2)]
        assert [(m.arbitration_id, m.is_extended_id) for m in got] == [(0x123, False), (0x1ABCDE, True)]
        assert list(got[0].data) == [1, 2, 3, 0, 0, 0, 0, 0]
        assert all(abs(m.timestamp - time.time()) < 60 for m in got)
        started = time.monotonic()
        assert can_bus_.recv(timeout=0.1) is None and time.monotonic() - started < WAIT
    assert not target.can.state()["open"]


def test_bus_on_a_connected_product_leaves_it_connected(usb_attach, zelvo_can):
    dev, target = usb_attach("PellorK1CD")
    bus = can.Bus(interface="zelvo", device=dev, bitrate=250_000)
    bus.shutdown()
    assert not dev.killed and not dev.can_open_flag


@pytest.mark.parametrize("filters, passed", [
    ([{"can_id": 0x100, "can_mask": 0x7FF, "extended": False}], [0x100]),
    ([{"can_id": 0x100, "can_mask": 0x700, "extended": False}], [0x100, 0x1FF]),
    ([{"can_id": 0x100, "can_mask": 0x7FF, "extended": False},
      {"can_id": 0x200, "can_mask": 0x7F0, "extended": False}], [0x100, 0x20A]),
    ([{"can_id": 0x300, "can_mask": 0x7FF}], [0x300]),                       # no format: the host filters
    ([{"can_id": 0x100, "can_mask": 0x7FF, "extended": False},                # three masks: the host filters
      {"can_id": 0x300, "can_mask": 0x700, "extended": False},
      {"can_id": 0x20A, "can_mask": 0x70F, "extended": False}], [0x100, 0x20A, 0x300]),
])
def test_bus_filters(usb_attach, zelvo_can, filters, passed):
    dev, target = usb_attach("PellorK1CD")
    with can.Bus(interface="zelvo", device=dev, can_filters=filters) as bus:
        for id_ in (0x100, 0x1FF, 0x20A, 0x300):
            target.can.inject(id_, b"\x01")
        want = [i for i in (0x100, 0x1FF, 0x20A, 0x300) if i in passed]
        seen = [m.arbitration_id for m in (bus.recv(timeout=WAIT) for _ in want) if m is not None]
        assert bus.recv(timeout=0.2) is None  # nothing else comes
        if can_bus._device_filters(filters) is None:
            assert seen == want and not target.can.state()["filtering"]
        else:
            assert seen == want and target.can.state()["filtering"]


def test_the_device_filter_layout_fills_every_filter():
    one = can_bus._device_filters([{"can_id": 0x123, "can_mask": 0x7FF, "extended": False}])
    assert one == [(0x123, 0x7FF, False)] * 6  # unused filters repeat a used one (0 would match id 0)
    five = [{"can_id": i << 4, "can_mask": 0x7F0, "extended": False} for i in range(4)] + [
        {"can_id": 9, "can_mask": 0x7FF, "extended": True}]
    layout = can_bus._device_filters(five)
    assert layout[:2] == [(9, 0x7FF, True)] * 2 and [f[0] for f in layout[2:]] == [0, 0x10, 0x20, 0x30]
    assert can_bus._device_filters([{"can_id": 0x800, "can_mask": 0xFFF, "extended": False}]) is None


def test_notifier_logger_and_buffered_reader(usb_attach, zelvo_can, tmp_path):
    dev, target = usb_attach("PellorK1CD")
    log = tmp_path / "frames.asc"
    with can.Bus(interface="zelvo", device=dev) as bus:
        reader = can.BufferedReader()
        logger = can.Logger(str(log))
        notifier = can.Notifier(bus, [reader, logger], timeout=0.05)
        try:
            target.can.add_generator(0x42, b"", period=0.005, count=20, counter=True)
            got = [reader.get_message(timeout=WAIT) for _ in range(20)]
        finally:
            notifier.stop()
            logger.stop()
    assert [m.data[3] for m in got if m is not None] == list(range(20))
    assert sum(1 for line in log.read_text().splitlines() if " 42 " in line or "42x" in line or " 42  " in line) >= 1
    assert len(list(can.LogReader(str(log)))) == 20


@pytest.mark.parametrize("frame", [
    z.CANFrame(0x123, False, False, [1, 2, 3]),
    z.CANFrame(0x1FFFFFFF, True, False, list(range(8))),
    z.CANFrame(0x7FF, False, True, []),
])
def test_frame_and_message_conversions(frame):
    msg = can_bus.frame_to_message(frame, timestamp=12.5, channel="x")
    assert (msg.timestamp, msg.channel, msg.is_remote_frame) == (12.5, "x", frame.remote)
    assert can_bus.message_to_frame(msg) == frame


def test_bus_refuses_an_unknown_bitrate(zelvo_can):
    with pytest.raises(ValueError, match="bitrate"):
        can.Bus(interface="zelvo", channel="default", bitrate=100_000)


# --- pyserial -------------------------------------------------------------------------------------

def test_serial_url_loopback(bus):
    target = bus.add("PellorK1D", usb=True)
    port = serial.serial_for_url(f"zelvo://{target.serial_number}/1?baudrate=115200", timeout=WAIT)
    try:
        assert isinstance(port, serial.SerialBase) and target.uart.state(1)["baud"] == 115200
        text = bytes(range(256)) * 2  # more than one device write
        assert port.write(text) == len(text)
        assert port.read(len(text)) == text
        port.write(b"xy")
        assert eventually(lambda: port.in_waiting == 2, WAIT)
        port.reset_input_buffer()
        assert port.in_waiting == 0
        port.timeout = 0.1
        started = time.monotonic()
        assert port.read(3) == b"" and time.monotonic() - started >= 0.05
    finally:
        port.close()
    assert not target.uart.state(1)["open"]


@pytest.mark.parametrize("setting, value, state", [
    ("parity", serial.PARITY_EVEN, ("parity", 2)),
    ("parity", serial.PARITY_ODD, ("parity", 3)),
    ("stopbits", serial.STOPBITS_TWO, ("stop_bits", 2)),
    ("stopbits", serial.STOPBITS_ONE_POINT_FIVE, ("stop_bits", 3)),
    ("baudrate", 9600, ("baud", 9600)),
])
def test_serial_settings_reach_the_device(usb_attach, setting, value, state):
    dev, target = usb_attach("PellorK1D")
    with serial.serial_for_url("zelvo://default/2", device=dev) as port:
        setattr(port, setting, value)
        assert target.uart.state(2)[state[0]] == state[1]
    assert not dev.killed  # a handed-over device stays connected


@pytest.mark.parametrize("setting, value", [
    ("bytesize", serial.SEVENBITS), ("parity", serial.PARITY_MARK), ("baudrate", 460800)])
def test_serial_refuses_settings_the_device_lacks(usb_attach, setting, value):
    dev, _ = usb_attach("PellorK1D")
    with serial.serial_for_url("zelvo://default/1", device=dev) as port:
        with pytest.raises(ValueError):
            setattr(port, setting, value)


def test_serial_bad_urls(usb_attach):
    dev, _ = usb_attach("PellorK1D")
    for url in ("zelvo://default/x", "zelvo://default/1?speed=3"):
        with pytest.raises(serial.SerialException):
            serial.serial_for_url(url, device=dev)


