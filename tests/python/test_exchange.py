"""The blocking exchanges: echo retries, time-outs, stale replies and same-key serialisation
against the emulator, and the broadcast exchange on loopback."""

import math
import socket
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import pytest

import pyzelvo as z
from support.helpers import eventually
from support.scripted_device import frame

GET_SERIAL_NUMBER = 122
GET_PIN_MODE_OF_SLOT = 127


def timed(fn, *args, **kwargs):
    start = time.monotonic()
    result = fn(*args, **kwargs)
    return result, time.monotonic() - start


@pytest.mark.parametrize("timeout, at_least", [(0.3, 0.2), (3, 2.0)])
def test_answer_to_the_third_send_succeeds(tavra, timeout, at_least):
    dev, emu_dev = tavra
    emu_dev.ignore_first(GET_SERIAL_NUMBER, 2)
    serial, elapsed = timed(dev.Sys_getSerialNumber, timeout=timeout)
    assert serial == emu_dev.serial_number
    assert emu_dev.request_count(GET_SERIAL_NUMBER) == 3
    assert elapsed >= at_least  # each attempt waited min(1 s, timeout / 3)


@pytest.mark.parametrize("timeout, sends", [(0.3, 3), (0.9, 3), (0, 1), (-1, 1)])
def test_no_answer_raises_after_the_timeout(tavra, timeout, sends):
    dev, emu_dev = tavra
    emu_dev.ignore_first(GET_SERIAL_NUMBER, 100)
    start = time.monotonic()
    with pytest.raises(z.ReceivePacketTimeoutError):
        dev.Sys_getSerialNumber(timeout=timeout)
    assert max(timeout, 0) <= time.monotonic() - start < max(timeout, 0) + 1.5
    # a non-positive timeout sends and checks once
    assert eventually(lambda: emu_dev.request_count(GET_SERIAL_NUMBER) == sends)


def test_an_infinite_timeout_waits_past_the_attempts(tavra):
    dev, emu_dev = tavra
    emu_dev.delay_replies(3.4)  # after the three 1 s attempts
    assert dev.Sys_getSerialNumber(timeout=math.inf) == emu_dev.serial_number


def test_a_slow_first_answer_is_not_sent_again(tavra):
    dev, emu_dev = tavra
    emu_dev.delay_replies(0.05)
    assert dev.Sys_getSerialNumber() == emu_dev.serial_number
    assert emu_dev.request_count(GET_SERIAL_NUMBER) == 1


def test_a_blocking_wait_lets_other_python_threads_run(tavra):
    dev, emu_dev = tavra
    emu_dev.delay_replies(0.3)
    spins, stop = [0], threading.Event()

    def spin():  # pure Python: advances only while it holds the interpreter lock
        while not stop.is_set():
            spins[0] += 1

    spinner = threading.Thread(target=spin)
    spinner.start()
    try:
        start = spins[0]
        assert dev.Sys_getSerialNumber() == emu_dev.serial_number
        assert spins[0] - start > 10000
    finally:
        stop.set()
        spinner.join()


def test_single_echo_and_raw_exchange(tavra):
    dev, emu_dev = tavra
    assert dev._echoPacketWithRetry(GET_SERIAL_NUMBER, [], 1) == emu_dev.serial_number.encode()
    emu_dev.ignore_first(GET_SERIAL_NUMBER, 1)
    with pytest.raises(z.ReceivePacketTimeoutError):
        dev._echoPacket(GET_SERIAL_NUMBER, [], 0.2)
    assert emu_dev.request_count(GET_SERIAL_NUMBER) == 2
    assert dev._echoPacket(GET_SERIAL_NUMBER, [], 1) == emu_dev.serial_number.encode()


def test_late_replies_of_an_abandoned_request_are_discarded(tavra):
    dev, emu_dev = tavra
    emu_dev.alias = "first"
    emu_dev.delay_replies(0.4)
    with pytest.raises(z.ReceivePacketTimeoutError):
        dev.Sys_getDeviceAlias(timeout=0.15)
    emu_dev.reset_faults()
    emu_dev.alias = "second"
    time.sleep(1.0)  # the three late "first" replies land in the pool meanwhile
    assert dev.Sys_getDeviceAlias() == "second"
    dev._putToDataPool(GET_SERIAL_NUMBER, b"STALE000")
    assert dev.Sys_getSerialNumber() == emu_dev.serial_number


@pytest.mark.parametrize("fault", ["split_replies", "prepend_garbage"])
def test_replies_survive_transport_faults(tavra, fault):
    dev, emu_dev = tavra
    if fault == "split_replies":
        emu_dev.split_replies(4)
    else:
        emu_dev.prepend_garbage(b"\x02\xff\x00\r\n\x02")
    for _ in range(3):
        assert dev.Sys_getSerialNumber() == emu_dev.serial_number


def test_same_key_requests_from_threads_get_their_own_replies(two_ports):
    dev, emu_dev, expected = two_ports
    barrier = threading.Barrier(2)

    def read_many(port):
        barrier.wait()
        return [dev.Sys_getPinModeInPort(port) for _ in range(150)]

    with ThreadPoolExecutor(2) as pool:
        results = dict(zip((0, 1), pool.map(read_many, (0, 1))))
    for port in (0, 1):
        assert results[port] == [expected[port]] * 150
    assert emu_dev.request_count(GET_PIN_MODE_OF_SLOT) == 302  # no retries were needed


def test_a_slow_request_does_not_hold_up_other_keys(tavra):
    dev, emu_dev = tavra
    emu_dev.ignore_first(GET_SERIAL_NUMBER, 1)  # answered on the second send, after 1 s
    with ThreadPoolExecutor(1) as pool:
        slow = pool.submit(dev.Sys_getSerialNumber)
        assert eventually(lambda: emu_dev.request_count(GET_SERIAL_NUMBER) == 1)
        alias, elapsed = timed(dev.Sys_getDeviceAlias)
        assert alias == "Tavra-A" and elapsed < 0.8 and not slow.done()
        assert slow.result() == emu_dev.serial_number


def test_broadcast_collects_distinct_answers_on_loopback():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        probe.bind(("127.0.0.1", 0))
        answer_port = probe.getsockname()[1]
    finder = z.DeviceFinder()
    finder.connect(host="127.0.0.1", port=answer_port)
    responder = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    responder.bind(("127.0.0.1", 0))
    responder.settimeout(3)
    client = finder.client_udp  # point the broadcast at the responder instead of the network
    client.bcst_address, client.bcst_port, client.bcst_sources = "127.0.0.1", responder.getsockname()[1], ["127.0.0.1"]
    requests = []

    def answer_each():
        for _ in range(3):
            requests.append(responder.recv(512))
            responder.sendto(frame(252, b"\x01info"), ("127.0.0.1", answer_port))
            responder.sendto(frame(252, b"\x00none"), ("127.0.0.1", answer_port))

    finder._putToDataPool(252, b"\x01stale")
    with ThreadPoolExecutor(1) as pool:
        answering = pool.submit(answer_each)
        assert finder._broadcastPacket(252, []) == {b"info"}
        answering.result()
    assert requests == [frame(252)] * 3
    finder.close()
    responder.close()
