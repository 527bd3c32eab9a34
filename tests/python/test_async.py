"""The awaitable family on an asyncio event loop."""

import asyncio
import time

import pytest

import pyzelvo as z

GET_SERIAL_NUMBER = 122


async def test_await_gather_task_and_wait_for(tavra):
    dev, emu_dev = tavra
    serial = emu_dev.serial_number
    assert await dev.Sys_getSerialNumber_async() == serial
    alias, rtc, info = await asyncio.gather(
        dev.Sys_getDeviceAlias_async(), dev.Sys_getRTC_async(), dev.Sys_getDriverInfo_async())
    assert (alias, info[0]) == ("Tavra-A", "Tavra-A") and rtc == dev.rtc_time
    task = asyncio.create_task(dev.Sys_getSerialNumber_async())
    assert await task == serial
    assert await asyncio.wait_for(dev.Sys_getSerialNumber_async(), 2) == serial


async def test_an_operation_starts_when_awaited_and_only_once(tavra):
    dev, emu_dev = tavra
    op = dev.Sys_getSerialNumber_async()
    await asyncio.sleep(0.1)
    assert emu_dev.request_count(GET_SERIAL_NUMBER) == 0
    assert await op == emu_dev.serial_number
    with pytest.raises((RuntimeError, TypeError)):  # spent, like a coroutine; never sent again
        await op
    assert emu_dev.request_count(GET_SERIAL_NUMBER) == 1


async def test_a_delayed_reply_does_not_block_the_loop(tavra):
    dev, emu_dev = tavra
    emu_dev.delay_replies(0.3)
    ticks = 0

    async def ticker():
        nonlocal ticks
        while True:
            await asyncio.sleep(0.01)
            ticks += 1

    ticking = asyncio.create_task(ticker())
    assert await dev.Sys_getSerialNumber_async() == emu_dev.serial_number
    ticking.cancel()
    assert ticks >= 10
    assert emu_dev.request_count(GET_SERIAL_NUMBER) == 1


async def test_cancelling_stops_the_operation_and_frees_its_key(tavra):
    dev, emu_dev = tavra
    emu_dev.ignore_first(GET_SERIAL_NUMBER, 100)
    with pytest.raises(asyncio.TimeoutError):
        await asyncio.wait_for(dev.Sys_getSerialNumber_async(), 0.1)
    emu_dev.reset_faults()
    start = time.monotonic()
    assert await asyncio.wait_for(dev.Sys_getSerialNumber_async(), 5) == emu_dev.serial_number
    # Only the wait for the cancelled request's reply (at most a second) comes first, no retry.
    assert time.monotonic() - start < 1.5
    await asyncio.sleep(1.2)
    assert emu_dev.request_count(GET_SERIAL_NUMBER) == 2  # the cancelled one stopped retrying


async def test_no_reply_raises_the_builtin_timeout_after_three_attempts_and_a_last_wait(tavra):
    dev, emu_dev = tavra
    emu_dev.ignore_first(GET_SERIAL_NUMBER, 100)
    start = time.monotonic()
    with pytest.raises(TimeoutError) as info:
        await dev.Sys_getSerialNumber_async()
    assert isinstance(info.value, z.ReceivePacketTimeoutError)  # the library's error, also a TimeoutError
    assert info.value.__notes__ == ["in Sys_getSerialNumber_async on Tavra-A (connected to 127.0.0.1), timeout 5 s"]
    assert 4.9 <= time.monotonic() - start < 8
    assert emu_dev.request_count(GET_SERIAL_NUMBER) == 3


async def test_single_echo_returns_none_without_a_reply(tavra):
    dev, emu_dev = tavra
    emu_dev.ignore_first(GET_SERIAL_NUMBER, 1)
    assert await dev._echoPacket_async(GET_SERIAL_NUMBER, [], 0.1) is None
    assert await dev._echoPacketWithRetry_async(GET_SERIAL_NUMBER, []) == emu_dev.serial_number.encode()


@pytest.mark.parametrize("args", [("0",), (0.0,), ([0],), (None,)])
def test_argument_types_are_checked_at_call_time(tavra, args):
    dev, emu_dev = tavra
    with pytest.raises(z.InputTypeNotCorrectError):
        dev.Sys_getPinModeInPort_async(*args)
    with pytest.raises(z.InputTypeNotCorrectError):
        dev.Sys_getPinModeInPort(*args)


async def test_the_number_of_sends_of_the_raw_exchange_is_capped(tavra):
    dev, emu_dev = tavra
    emu_dev.ignore_first(GET_SERIAL_NUMBER, 10**6)
    with pytest.raises(TimeoutError):
        await dev._echoPacketWithRetry_async(GET_SERIAL_NUMBER, [], num_retries=10**9, timeout=0.5)
    assert emu_dev.request_count(GET_SERIAL_NUMBER) == 10


async def test_same_key_requests_gathered_get_their_own_replies(two_ports):
    dev, _, expected = two_ports
    ports = [0, 1] * 100
    results = await asyncio.gather(*(dev.Sys_getPinModeInPort_async(p) for p in ports))
    assert results == [expected[p] for p in ports]


async def test_a_disconnected_device_fails_when_awaited(tavra):
    dev, _ = tavra
    dev.disconnect()
    op = dev.Sys_getSerialNumber_async()
    with pytest.raises(z.NetworkConnectionError):
        await asyncio.wait_for(op, 1)


async def test_closing_the_device_ends_a_pending_operation(tavra):
    dev, emu_dev = tavra
    emu_dev.ignore_first(GET_SERIAL_NUMBER, 100)
    pending = asyncio.create_task(dev.Sys_getSerialNumber_async())
    await asyncio.sleep(0.1)
    start = time.monotonic()
    await asyncio.to_thread(dev.close)
    with pytest.raises(z.Error):
        await asyncio.wait_for(pending, 3)
    assert time.monotonic() - start < 1
