"""What a dead link, close() and a closed event loop do to calls in progress: waits end at once,
stream reads return what is queued, nothing stays allocated, and the device can be connected
again."""

import asyncio
import gc
import os
import time
from concurrent.futures import ThreadPoolExecutor

import pytest

import pyzelvo as z
from support.helpers import connect, eventually

GET_SERIAL_NUMBER = 122


def fd_count():
    return len(os.listdir("/proc/self/fd"))


@pytest.mark.parametrize("product", ["TavraA", "AerisR3A"])
def test_a_dead_link_ends_waiting_calls_and_a_later_connect_reconnects(attach, product):
    dev, target = attach(product)
    target.ignore_first(GET_SERIAL_NUMBER, 1)
    with ThreadPoolExecutor(2) as pool:
        call = pool.submit(dev.Sys_getSerialNumber, timeout=30)
        read = pool.submit(dev.AI_readStreaming, 0, 1000, 30)
        assert eventually(lambda: target.request_count(GET_SERIAL_NUMBER) == 1)
        time.sleep(0.05)  # the stream read is waiting too
        start = time.monotonic()
        target.drop_connection()
        with pytest.raises(z.NetworkConnectionLostError):
            call.result(timeout=5)
        assert read.result(timeout=5) == []
        assert time.monotonic() - start < 2  # not the 30 s the calls would wait
    assert not dev.connect_status_cmd and "link lost" in repr(dev)
    connect(dev, target)  # connects afresh instead of doing nothing
    assert dev.Sys_getSerialNumber() == target.serial_number


def test_a_usb_unplug_ends_a_waiting_call(usb_attach):
    dev, target = usb_attach()
    target.ignore_first(GET_SERIAL_NUMBER, 1)
    with ThreadPoolExecutor(1) as pool:
        call = pool.submit(dev.Sys_getSerialNumber, timeout=30)
        assert eventually(lambda: target.request_count(GET_SERIAL_NUMBER) == 1)
        target.unplug()
        with pytest.raises(z.NetworkConnectionLostError):
            call.result(timeout=5)


@pytest.mark.parametrize("form", ["AI_readStreaming", "AI_readStreamingArray", "awaitable"])
def test_close_wakes_a_pending_read_and_later_reads_raise(attach, form):
    dev, _ = attach("TavraA")
    assert dev.AI_open(0) == 0

    def read():
        if form == "awaitable":
            return asyncio.run(dev.AI_readStreaming_async(0, 1000, 30))
        return getattr(dev, form)(0, 1000, 30)

    with ThreadPoolExecutor(1) as pool:
        pending = pool.submit(read)
        time.sleep(0.1)
        start = time.monotonic()
        dev.close()
        assert len(pending.result(timeout=5)) == 0
        assert time.monotonic() - start < 2  # not the 30 s the read would wait
    with pytest.raises(z.NetworkConnectionError, match="closed"):
        dev.AI_readStreaming(0, 10)


def test_closing_an_event_loop_with_operations_in_flight_frees_everything(tavra):
    dev, target = tavra
    target.ignore_first(GET_SERIAL_NUMBER, 1000)

    async def leave_one_running():
        asyncio.get_running_loop().create_task(dev.Sys_getSerialNumber_async())
        await asyncio.sleep(0.05)

    assert dev.Sys_getDeviceAlias()  # the emulator in this process has accepted the connection
    gc.collect()  # what earlier tests left for the collector goes first
    before = fd_count()
    for _ in range(5):
        loop = asyncio.new_event_loop()
        loop.set_exception_handler(lambda *_: None)  # "Task was destroyed but it is pending"
        loop.run_until_complete(leave_one_running())
        loop.close()
        del loop
        gc.collect()
    assert fd_count() <= before  # each loop's eventfd is gone with the loop
