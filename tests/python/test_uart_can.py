"""UART and CAN end to end against the emulator over USB, in both families: loopback at the line's
pace, bytes and frames from the far side, per-port state, the bounded queues and their overflow
warning, blocked reads that end when nothing more can come, statuses and refusals. (The bytes of
every request are checked in tests/cpp/test_uart_module.cpp and tests/cpp/test_can_module.cpp.)"""

from __future__ import annotations

import asyncio
import os
import threading
import time
import warnings

import pytest

import pyzelvo as z
from support.helpers import eventually

OPEN_UART, START_UART_READING, WRITE_UART, CLOSE_UART, SET_UART_BAUD_RATE = 128, 129, 130, 132, 134
START_CAN, WRITE_CAN, CLOSE_CAN, SET_CAN_RX_FILTER_OR_MASK = 49, 50, 52, 58
IDLE, UART_MODE = 1, 4
QUEUE_BOUND = 1_000_000
WAIT = 5.0  # generous: the CI machine is loaded




def pins_of(dev, port):
    return dev.UART_getPinMap()[port]


def pin_modes(target, pins):
    return [target.pin_modes(port)[pin] for port, pin in pins]


# --- UART -----------------------------------------------------------------------------------------

def test_uart_loopback_end_to_end(usb_attach, call):
    dev, target = usb_attach("PellorK1D")
    pins = pins_of(dev, 1)
    assert call(dev, "UART_open", 1) == 0 and pin_modes(target, pins) == [UART_MODE] * len(pins)
    assert call(dev, "UART_setBaudRate", 1, 115200) == 0 and target.uart.state(1)["baud"] == 115200
    assert call(dev, "UART_setParity", 1, 2) == 0 and call(dev, "UART_setNumStopBit", 1, 2) == 0
    assert call(dev, "UART_write", 1, "Hi!") == 0
    assert call(dev, "UART_write", 1, [0, 200, 255]) == 0
    assert eventually(lambda: dev._UART_available(1) == 6, WAIT)  # the awaitable read never waits
    assert call(dev, "UART_read", 1, 3) == ["H", "i", "!"]
    assert call(dev, "UART_read", 1, 1) == ["\x00"]
    assert call(dev, "UART_read", 1, -1) == ["\xc8", "\xff"]
    assert call(dev, "UART_read", 1, -1) == []
    assert target.uart.transmitted(1) == b"Hi!\x00\xc8\xff"
    state = target.uart.state(1)
    assert (state["parity"], state["stop_bits"], state["streamed"]) == (2, 2, 6)
    assert call(dev, "UART_close", 1) == 0 and pin_modes(target, pins) == [IDLE] * len(pins)


def test_uart_far_side_bytes_and_the_pace_of_the_line(usb_attach):
    dev, target = usb_attach("PellorK1D")
    assert dev.UART_open(2) == 0 and dev.UART_setBaudRate(2, 9600) == 0
    target.uart.set_loopback(2, False)
    assert dev.UART_write(2, "gone") == 0
    target.uart.inject(2, b"from afar")
    started = time.monotonic()
    assert "".join(dev.UART_read(2, 9)) == "from afar"
    assert time.monotonic() - started >= 8 * target.uart.byte_time(2)  # paced, not at once
    assert dev._UART_available(2) == 0  # the loopback was off: "gone" did not come back


def test_uart_state_is_kept_per_port(usb_attach):
    dev, target = usb_attach("PellorK1D")
    assert dev.UART_open(1) == 0 and dev.UART_open(2) == 0
    assert dev.uart_open_ports == [1, 2]
    assert eventually(lambda: target.uart.state(2)["reading"], WAIT)  # START_UART_READING has no reply
    assert dev.UART_open(2) == 0  # sent again, but reading is not restarted
    assert target.request_count(OPEN_UART) == 3
    assert eventually(lambda: target.request_count(START_UART_READING) == 2, WAIT)
    assert dev.UART_close(1) == 0 and dev.uart_open_ports == [2]
    dev.UART_write(2, "still")
    assert "".join(dev.UART_read(2, 5)) == "still"


def test_uart_flags_change_only_on_status_zero(usb_attach):
    dev, target = usb_attach("PellorK1D")
    target.force_status(OPEN_UART, 5, at=1)
    assert dev.UART_open(1) < 0 and dev.uart_open_ports == [] and not dev.uart_open_flag
    assert target.request_count(START_UART_READING) == 0
    target.reset_faults()
    for port, pin in pins_of(dev, 1):  # the device took the pins before the status was replaced
        target.set_pin_mode(port, pin, IDLE)
    assert dev.UART_open(1) == 0  # a refused open followed by a good one delivers
    dev.UART_write(1, "ok")
    assert dev.UART_read(1, 2) == ["o", "k"]
    target.force_status(CLOSE_UART, 5, at=1)
    assert dev.UART_close(1) < 0 and dev.uart_open_ports == [1]


def test_a_blocked_uart_read_returns_what_is_queued_when_the_port_closes(usb_attach):
    dev, target = usb_attach("PellorK1D")
    dev.UART_open(1)
    dev.UART_write(1, "ab")
    assert eventually(lambda: dev._UART_available(1) == 2, WAIT)
    got = []
    reader = threading.Thread(target=lambda: got.append(dev.UART_read(1, 10)))
    reader.start()
    time.sleep(0.05)  # usually parked by now; if not, it returns at once, which is fine too
    assert dev.UART_close(1) == 0
    reader.join(WAIT)
    assert not reader.is_alive() and got == [["a", "b"]]




def test_uart_overflow_warns_once_per_burst_and_counts_the_drops(usb_attach):
    dev, _ = usb_attach("PellorK1D")
    dev.UART_open(1)
    chunk = bytes([1, 0]) + b"x" * 100_000
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        for _ in range(11):  # 1 100 000 bytes into a queue of 1 000 000
            dev._putToDataPool(START_UART_READING, chunk)
    overflow = [w for w in caught if issubclass(w.category, z.UARTQueueOverflowWarning)]
    assert len(overflow) == 1
    assert dev._UART_available(1) == QUEUE_BOUND and dev._UART_droppedBytes(1) == 100_000
    assert len(dev.UART_read(1, QUEUE_BOUND)) == QUEUE_BOUND  # a read of the whole bound is fine
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        dev._putToDataPool(START_UART_READING, chunk)  # room again: no new warning
    assert not [w for w in caught if issubclass(w.category, z.UARTQueueOverflowWarning)]


@pytest.mark.parametrize("op, args, error", [
    ("UART_setBaudRate", (1, 400001), z.UARTBaudRateNotSupportError),
    ("UART_setBaudRate", (1, -1), z.UARTBaudRateNotSupportError),
    ("UART_write", (1, "x" * 51), z.UARTExceedMaxLengthError),
    ("UART_write", (1, "\u0100"), z.InputDataNotInRangeError),
    ("UART_write", (1, [256]), z.InputDataNotInRangeError),
    ("UART_setParity", (1, 4), z.UARTParityNotSupportError),
    ("UART_setNumStopBit", (1, 4), z.UARTStopBitNotSupportError),
    ("UART_read", (1, QUEUE_BOUND + 1), z.InputDataNotInRangeError),
    ("UART_open", (3,), z.UARTPortNotAvaliableError),
])
def test_uart_refusals_send_nothing(usb_attach, call, op, args, error):
    dev, target = usb_attach("PellorK1D")
    with pytest.raises(error):
        call(dev, op, *args)
    assert target.request_counts == {}


def test_uart_odd_but_kept_values_are_accepted(usb_attach):
    dev, target = usb_attach("PellorK1D")
    assert dev.UART_open(1) == 0
    dev.UART_setBaudRate(1, 0)  # goes out (the emulated line refuses a rate it cannot pace)
    assert target.request_count(SET_UART_BAUD_RATE) == 1 and dev.UART_setParity(1, 1) == 0
    assert dev.UART_read(1, -1, -3.0) == []  # a negative delay counts as 0
    assert dev._UART_startReading(1) == 0


async def test_the_awaitable_uart_read_does_not_block_the_loop(usb_attach):
    dev, _ = usb_attach("PellorK1D")
    assert await dev.UART_open_async(1) == 0
    assert await asyncio.wait_for(dev.UART_read_async(1, 5), WAIT) == []  # takes what is there now


# --- CAN ------------------------------------------------------------------------------------------

def frame_bytes(id_, data, extended=False, remote=False):
    return bytes(z.CANFrame(id_, extended, remote, data).frame_in_list)


def can_packet(port, rows: bytes) -> bytes:
    """A START_CAN stream payload: the port, a reserved byte, then the 12-byte rows."""
    return bytes([port, 0]) + rows


def open_can(dev):
    port = dev.CAN_getPort()[0]
    assert dev.CAN_open(port) == 0 and dev.CAN_start(port) == 0
    return port



def test_can_loopback_end_to_end(usb_attach, call):
    dev, target = usb_attach("PellorK1CD")
    port = dev.CAN_getPort()[0]
    assert call(dev, "CAN_open", port) == 0 and dev.can_open_flag
    assert call(dev, "CAN_start", port) == 0
    assert call(dev, "CAN_setSpeed", port, 3) == 0 and target.can.state()["bitrate"] == 1_000_000
    assert call(dev, "CAN_write", port, 0x123, [1, 2, 3]) == 0
    assert call(dev, "CAN_write", port, 0x1ABCDEF0, [9], False, True) == 0
    assert call(dev, "CAN_write", port, 0x7FF, [5, 6], True) == 0  # remote: eight zero bytes
    assert eventually(lambda: dev._CAN_available() == 3, WAIT)
    first = call(dev, "CAN_read", port, 1)
    assert isinstance(first, z.CANFrame)  # exactly one: the frame itself
    assert (first.id, first.data, first.extended_id, first.remote) == (0x123, [1, 2, 3, 0, 0, 0, 0, 0], False, False)
    rest = call(dev, "CAN_read", port, -1)
    assert [(f.id, f.extended_id, f.remote) for f in rest] == [(0x1ABCDEF0, True, False), (0x7FF, False, True)]
    assert all(type(f.extended_id) is bool and type(f.remote) is bool for f in rest)
    assert rest[1].data == [0] * 8
    assert [t[0] for t in target.can.transmitted()] == [0x123, 0x1ABCDEF0, 0x7FF]
    assert call(dev, "CAN_close", port) == 0 and not dev.can_open_flag


def test_can_filters_and_masks_select_far_side_frames(usb_attach):
    dev, target = usb_attach("PellorK1CD")
    port = open_can(dev)
    for mask in (6, 7):  # masks: every bit counts (mask 7 serves filters 2..5, which stay 0)
        assert dev.CAN_setRXFilterOrMask(port, mask, 0x7FF) == 0
    assert dev.CAN_setRXFilterOrMask(port, 0, 0x100) == 0   # filter 0
    assert dev.CAN_setRXFilteringOn(port, True) == 0
    assert target.can.state()["filtering"]
    for id_ in (0x100, 0x101, 0x200, 0x100):
        target.can.inject(id_, bytes([id_ & 0xFF]))
    frames = dev._CAN_receive(port, at_least=2, wait=WAIT)
    assert [f.id for _, f in frames] == [0x100, 0x100]
    assert all(abs(stamp - time.time()) < 60 for stamp, _ in frames)
    assert dev._CAN_receive(port, at_least=1, wait=0.2) == []  # 0x101 and 0x200 were filtered out


def test_can_generators_and_registers(usb_attach):
    dev, target = usb_attach("PellorK1CD")
    port = open_can(dev)
    target.can.add_generator(0x55, b"", period=0.01, count=5, counter=True)
    frames = [f for _, f in dev._CAN_receive(port, at_least=5, wait=WAIT)]
    assert [f.data[3] for f in frames] == [0, 1, 2, 3, 4]
    target.can.set_error_counts(7, 130)
    assert dev._CAN_getErrors(port) == [7, 130]
    assert len(dev._CAN_getCounters(port)) == 6 and len(dev._CAN_getInterrupts(port)) == 3


@pytest.mark.parametrize("op, args, error", [
    ("CAN_write", (0x800, [1]), z.InputDataNotInRangeError),          # would go out as id 0
    ("CAN_write", (-1, [1]), z.InputDataNotInRangeError),
    ("CAN_write", (0x20000000, [1], False, True), z.InputDataNotInRangeError),
    ("CAN_write", (1, [1] * 9), z.CANDataLengthNotVaildError),
    ("CAN_write", (1, [256]), z.InputDataNotInRangeError),
    ("CAN_setRXFilterOrMask", (0, 2048), z.InputDataNotInRangeError),
    ("CAN_setRXFilterOrMask", (256, 1), z.InputDataNotInRangeError),
    ("CAN_setSpeed", (4,), z.CANSpeedNotVaildError),
    ("_CAN_setTXPriority", (3, 0), z.CANTXNotVaildError),
    ("_CAN_setEnableInterrupt", (256,), z.InputDataNotInRangeError),
])
def test_can_refusals_send_nothing(usb_attach, call, op, args, error):
    dev, target = usb_attach("PellorK1CD")
    port = dev.CAN_getPort()[0]
    with pytest.raises(error):
        call(dev, op, port, *args)
    assert target.request_counts == {}


def test_can_close_tests_its_status(usb_attach):
    dev, target = usb_attach("PellorK1CD")
    port = dev.CAN_getPort()[0]
    dev.CAN_open(port)
    target.force_status(CLOSE_CAN, 5, at=1)
    assert dev.CAN_close(port) < 0 and dev.can_open_flag
    target.reset_faults()
    assert dev.CAN_close(port) == 0 and not dev.can_open_flag


def test_a_blocked_can_read_returns_when_the_module_closes(usb_attach):
    dev, _ = usb_attach("PellorK1CD")
    port = dev.CAN_getPort()[0]
    dev.CAN_open(port)
    got = []
    reader = threading.Thread(target=lambda: got.append(dev.CAN_read(port, 3)))
    reader.start()
    time.sleep(0.05)
    assert dev.CAN_close(port) == 0
    reader.join(WAIT)
    assert not reader.is_alive() and got == [[]]


def test_a_partial_can_row_is_dropped_with_one_warning_and_delivery_goes_on(usb_attach):
    dev, _ = usb_attach("PellorK1CD")
    port = dev.CAN_getPort()[0]
    dev.CAN_open(port)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        dev._putToDataPool(START_CAN, can_packet(port, frame_bytes(0x10, [1]) + b"\xee"))  # a 13-byte item
        dev._putToDataPool(START_CAN, can_packet(port, frame_bytes(0x11, [2])))
    assert len([w for w in caught if issubclass(w.category, z.CANQueueOverflowWarning)]) == 1
    assert [f.id for f in dev.CAN_read(port, 2)] == [0x10, 0x11]


def test_can_overflow_warns_once_per_burst(usb_attach):
    dev, _ = usb_attach("PellorK1CD")
    port = dev.CAN_getPort()[0]
    dev.CAN_open(port)
    packet = can_packet(port, frame_bytes(0x42, [1, 2]) * 10_000)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        for _ in range(101):  # 1 010 000 frames into a queue of 1 000 000
            dev._putToDataPool(START_CAN, packet)
    assert len([w for w in caught if issubclass(w.category, z.CANQueueOverflowWarning)]) == 1
    assert dev._CAN_available() == QUEUE_BOUND and dev._CAN_droppedFrames() == 10_000


def test_can_frame_value_class():
    f = z.CANFrame(0x123, False, False, [1, 2])
    assert f.data == [1, 2, 0, 0, 0, 0, 0, 0] and len(f.frame_in_list) == 12
    assert z.CANFrame.fromU8List(f.frame_in_list) == f
    assert z.CANFrame(0x1FFFFFFF, True) != z.CANFrame(0x1FFFFFFF, False)
    assert z.CANFrame(5000, False) is not None  # a plain value: nothing is checked here


def test_can_frame_text_form():
    text = "CANFrame(id=291, extended_id=False, remote=False, data=[1, 2, 0, 0, 0, 0, 0, 0])"
    assert str(z.CANFrame(0x123, False, False, [1, 2])) == repr(z.CANFrame(0x123, False, False, [1, 2])) == text


def thread_count() -> int:
    """Threads of this process but the emulated device's own (zsim-*, started when a port opens)."""
    count = 0
    for task in os.listdir("/proc/self/task"):
        try:
            with open(f"/proc/self/task/{task}/comm") as f:
                count += not f.read().startswith("zsim")
        except OSError:
            pass  # ended meanwhile
    return count


def test_threads_are_back_to_their_count_after_close(bus):
    target = bus.add("PellorK1CD", usb=True)
    before = thread_count()
    dev = z.PellorK1CD()
    dev.connect(target.serial_number, verbose=False)
    assert dev.UART_open(1) == 0 and dev.CAN_open(1) == 0 and dev.CAN_start(1) == 0
    dev.UART_write(1, "x")
    assert dev.UART_read(1, 1) == ["x"]
    outcome = []

    def read():
        try:
            outcome.append(dev.CAN_read(1, 5))
        except z.USBConnectionError:  # it started after the close: the device is closed
            outcome.append("closed")

    reader = threading.Thread(target=read)
    reader.start()
    time.sleep(0.05)  # usually parked by now
    dev.close()
    reader.join(WAIT)
    assert not reader.is_alive() and outcome in ([[]], ["closed"])
    assert eventually(lambda: thread_count() == before, WAIT)
