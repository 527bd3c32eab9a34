"""Which reply answers which request, on slow and faulty links: late replies to re-sent, timed-out
or cancelled requests never answer a later request, commands that act on every copy are sent once,
and a time-out covers the whole call."""

import asyncio
import random
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import pytest

import pyzelvo as z

GET_SERIAL_NUMBER, SET_DATE_TIME, REBOOT, TOGGLE_AND_WRITE_DO = 122, 242, 250, 238
PAGES = range(8)


def page(p):
    return [p + 1] * 8  # what each EEPROM page starts with


@pytest.fixture
def pages(tavra):
    dev, target = tavra
    for p in PAGES:
        assert dev._setEEPROMPage(p, page(p)) == 0
    return dev, target


def test_a_late_reply_to_a_resend_does_not_answer_the_next_request(pages):
    dev, target = pages
    target.delay_replies(0.1)  # slower than the 0.067 s a send waits before the next
    answered = 0
    for p in PAGES:
        try:
            assert dev._getEEPROMPage(p, timeout=0.2)[:8] == page(p)
            answered += 1
        except z.ReceivePacketTimeoutError:  # a loaded machine may take longer: never a wrong page
            pass
    assert answered > 0


def test_a_late_reply_whose_echo_differs_is_not_taken(attach):
    dev, target = attach("TavraEXD")  # inputs on ports 2 and 3
    for port, levels in ((2, 0b0000_0101), (3, 0b1010_0000)):
        assert dev.DI_openPort(port) == 0
        target.set_inputs(port, levels)
    target.delay_replies(1.2)  # port 2's third reply comes after port 3's request waited a second
    assert dev.DI_readPort(2) == [1, 0, 1, 0, 0, 0, 0, 0]
    assert dev.DI_readPort(3) == [0, 0, 0, 0, 0, 1, 0, 1]


async def test_replies_to_cancelled_requests_are_discarded(pages):
    dev, target = pages
    target.delay_replies(0.3)
    for p in (0, 1):
        with pytest.raises(asyncio.TimeoutError):
            await asyncio.wait_for(dev._getEEPROMPage_async(p), 0.1)
    assert (await dev._getEEPROMPage_async(2))[:8] == page(2)


def test_threads_with_short_timeouts_get_their_own_pages_or_a_timeout(pages):
    dev, target = pages
    target.delay_replies(0.05, jitter=0.1)
    rng = random.Random(7)
    timeouts = [rng.uniform(0.05, 0.3) for _ in range(40)]

    def read(job):
        p, timeout = job
        try:
            return p, dev._getEEPROMPage(p, timeout=timeout)[:8]
        except z.ReceivePacketTimeoutError:
            return p, None

    with ThreadPoolExecutor(4) as pool:
        results = list(pool.map(read, [(i % 4, t) for i, t in enumerate(timeouts)]))
    answered = [(p, got) for p, got in results if got is not None]
    assert all(got == page(p) for p, got in answered)
    assert answered  # the link is slow, not dead


@pytest.mark.parametrize("code, operation", [
    (TOGGLE_AND_WRITE_DO, lambda dev: dev.DO_togglePins(0, [0])),
    (REBOOT, lambda dev: dev.Sys_reboot()),
    (SET_DATE_TIME, lambda dev: dev.Sys_setRTC(2024, 5, 6, 7, 8, 9)),
], ids=["toggle", "reboot", "clock"])
def test_a_command_that_acts_on_every_copy_is_sent_once(attach, code, operation):
    dev, target = attach("TavraEXD")
    assert dev.DO_openPort(0) == 0
    target.delay_replies(1.5)  # slower than the second a send of a repeatable command waits
    result = operation(dev)
    assert target.request_count(code) == 1
    if code == TOGGLE_AND_WRITE_DO:
        assert result[0] == 1 and target.outputs(0) & 1 == 1


def test_the_timeout_covers_the_wait_behind_another_caller(tavra):
    dev, target = tavra
    target.ignore_first(GET_SERIAL_NUMBER, 100)
    with ThreadPoolExecutor(1) as pool:
        first = pool.submit(dev.Sys_getSerialNumber, timeout=10)
        time.sleep(0.1)
        start = time.monotonic()
        with pytest.raises(z.ReceivePacketTimeoutError):
            dev.Sys_getSerialNumber(timeout=1)
        assert time.monotonic() - start < 1.5
        dev.close()
        with pytest.raises(z.NetworkConnectionError):
            first.result(timeout=1)
