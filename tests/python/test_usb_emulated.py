"""USB end to end: the driver loads the emulator's shim as libusb-1.0 and talks to emulated
Pellor devices through it."""

from __future__ import annotations

import asyncio
import os
import subprocess
import sys
import textwrap
import threading
import time

import pytest

import pyzelvo as z
from pyzelvo import sim
from support.helpers import eventually

PELLOR = sim.usb_products()
GET_SERIAL_NUMBER = 122
STREAM_UART = 129  # filed under (129, port) without the first two payload bytes
NO_DEVICE = "USBError: LIBUSB_ERROR_NO_DEVICE (the device was disconnected)"


def output(capsys):
    return capsys.readouterr().out.splitlines()


def test_connect_by_serial_and_default_takes_the_first_free_device(bus, capsys):
    first = bus.add("PellorK1D", usb=True, serial="PLR00001")
    second = bus.add("PellorK1D", usb=True, serial="PLR00002")
    by_serial, by_default, third = z.PellorK1D(), z.PellorK1D(), z.PellorK1D()
    capsys.readouterr()
    by_serial.connect("PLR00002")
    by_default.connect()
    assert (by_serial.serial_num, by_default.serial_num) == ("PLR00002", "PLR00001")
    assert output(capsys) == ["Connected to PLR00002 (Pellor-K1-D)", "Connected to PLR00001 (Pellor-K1-D)"]
    assert by_default.Sys_getSerialNumber() == "PLR00001"
    with pytest.raises(z.USBConnectionError, match="in use"):  # both are claimed
        third.connect()
    assert not third.connect_status_cmd and third.serial_num is None
    assert (first.connection_count, second.connection_count) == (1, 1)
    for dev in (by_serial, by_default, third):
        dev.close()
    assert (first.connection_count, second.connection_count) == (0, 0)


@pytest.mark.parametrize("payload, transfer", [(0, 64), (58, 64), (70, 76)])
def test_short_frames_are_padded_to_64_bytes_and_long_ones_are_not(usb_attach, payload, transfer):
    dev, target = usb_attach()
    dev._sendPacketWithoutReply(GET_SERIAL_NUMBER, [0x41] * payload)
    frame = bytes(dev._preparePacket(GET_SERIAL_NUMBER, [0x41] * payload))
    assert target.out_transfers[-1] == frame + bytes(transfer - len(frame))


def test_replies_and_stream_packets_reach_their_device(usb_attach):
    devices = [usb_attach(serial=f"PLR0000{i}") for i in range(3)]
    results = {}

    def ask(dev, target):
        results[target.serial_number] = {dev.Sys_getSerialNumber() for _ in range(30)}

    threads = [threading.Thread(target=ask, args=pair) for pair in devices]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == {t.serial_number: {t.serial_number} for _, t in devices}

    dev, target = devices[1]
    target.send_stream(STREAM_UART, bytes([1, 0, 7, 8]))
    queue = dev.data_pool_strm[(STREAM_UART, 1)]
    assert eventually(lambda: queue.qsize() == 1)
    assert queue.get_nowait() == bytes([7, 8])
    assert devices[0][0].data_pool_strm[(STREAM_UART, 1)].qsize() == 0


def test_unplug_is_reported_once_and_the_device_reconnects_after_replug(usb_attach, capsys):
    dev, target = usb_attach()
    capsys.readouterr()
    target.unplug()
    assert eventually(lambda: NO_DEVICE in capsys.readouterr().out)
    time.sleep(0.3)  # the receive loop parks: nothing more is printed
    assert output(capsys) == []
    assert not dev.connect_status_cmd  # the link is gone: a later connect() connects afresh
    with pytest.raises(z.USBConnectionError, match="NO_DEVICE"):
        dev.Sys_getSerialNumber()
    assert z.USBDevice._getAllUSBDevices() == []
    target.plug()
    dev.connect(target.serial_number)  # the dead connection is replaced
    assert dev.Sys_getSerialNumber() == target.serial_number
    assert output(capsys) == ["Connected to %s (Pellor-K1-D)" % target.serial_number]


def test_repeated_read_errors_back_off_and_are_rate_limited(usb_attach, capsys):
    dev, target = usb_attach()
    assert dev.Sys_getSerialNumber() == target.serial_number
    capsys.readouterr()
    target.fail_in_transfers(1000)
    time.sleep(0.6)
    failed = 1000 - target.in_failures_left
    target.fail_in_transfers(0)
    # Reads back off 10 ms, 20 ms, 40 ms, ...: a handful of attempts, not hundreds.
    assert 1 <= failed <= 12
    errors = [line for line in output(capsys) if line.startswith("USBError")]
    assert 1 <= len(errors) <= 5 and all("LIBUSB_ERROR_IO" in line for line in errors)
    assert dev.Sys_getSerialNumber(timeout=5) == target.serial_number


def test_disconnect_connect_again_and_close_release_the_device(usb_attach, capsys):
    dev, target = usb_attach()
    assert repr(dev) == f"<PellorK1D 'Pellor-K1-D' connected to {target.serial_number} on USB>"
    client = dev.client_cmd  # a reference held elsewhere does not keep the device open
    dev.disconnect()
    assert repr(dev) == "<PellorK1D 'Pellor-K1-D' not connected>"
    assert target.connection_count == 0 and dev.client_cmd is None and not dev.connect_status_cmd
    with pytest.raises(z.USBConnectionError):
        dev.Sys_getSerialNumber(timeout=0.5)
    with pytest.raises(z.USBConnectionError):
        client.sendPacket([2, 0, 1, GET_SERIAL_NUMBER, 13, 10])
    dev.connect(target.serial_number)
    assert dev.Sys_getSerialNumber() == target.serial_number
    capsys.readouterr()
    dev.close()
    dev.close()
    assert output(capsys) == [f"Disconnected from {target.serial_number} (Pellor-K1-D)", "Closed handle (Pellor-K1-D)"]
    assert target.connection_count == 0
    with pytest.raises(z.USBConnectionError):
        dev.connect(target.serial_number)


def test_device_lists_give_serial_and_product_pairs(bus):
    targets = [bus.add(name, usb=True) for name in ("PellorK1AOD", "PellorK1D", "PellorK1DSNK")]
    expected = [[t.serial_number, t.model] for t in targets]
    finder = z.DeviceFinder()
    try:
        assert z.USBDevice._getAllUSBDevices() == expected
        assert finder.Bcst_enumerateUSBDevices() == expected
        assert asyncio.run(finder.Bcst_enumerateUSBDevices_async()) == expected
        targets[1].unplug()
        assert finder.Bcst_enumerateUSBDevices() == [expected[0], expected[2]]
    finally:
        finder.close()


@pytest.mark.parametrize("class_name", PELLOR)
def test_system_module_over_usb(usb_attach, call, class_name):
    dev, target = usb_attach(class_name)
    model = target.model
    assert call(dev, "Sys_getSerialNumber") == target.serial_number
    assert call(dev, "Sys_getDriverInfo")[0] == model
    assert call(dev, "Sys_setDeviceAlias", "bench-7") == 0
    assert target.alias == "bench-7" and call(dev, "Sys_getDeviceAlias") == "bench-7"
    port = min(p for p in range(8) if target.pin_modes(p))
    assert len(call(dev, "Sys_getPinModeInPort", port)) == len(target.pin_modes(port))
    assert call(dev, "Sys_getRTC").count(":") == 2


@pytest.mark.parametrize("fault, check", [
    (lambda t: t.ignore_first(GET_SERIAL_NUMBER, 2), lambda t: t.request_count(GET_SERIAL_NUMBER) == 3),
    (lambda t: t.delay_replies(0.2), lambda t: True),
    (lambda t: t.split_replies(3), lambda t: True),
    (lambda t: t.prepend_garbage(b"\x02\x00\x09\r\nAB"), lambda t: True),
], ids=["ignore", "delay", "split", "garbage"])
def test_faults_over_usb(usb_attach, fault, check):
    dev, target = usb_attach()
    target.reset_request_counts()
    fault(target)
    assert dev.Sys_getSerialNumber() == target.serial_number
    assert check(target)
    target.reset_faults()
    assert dev.Sys_getDeviceAlias() == target.alias


def test_dropped_connection_needs_a_new_connect(usb_attach):
    dev, target = usb_attach()
    target.drop_connection()  # unplug and plug in again
    with pytest.raises(z.USBConnectionError):
        dev.Sys_getSerialNumber()
    dev.connect(target.serial_number)
    assert dev.Sys_getSerialNumber() == target.serial_number


def test_emulator_usb_options_and_close(bus):
    with pytest.raises(ValueError, match="not a USB device"):
        bus.add("TavraA", usb=True)
    with pytest.raises(ValueError):
        bus.add("PellorK1D", usb=True, port=5000)
    target = bus.add("PellorK1D", usb=True, serial="PLR00042")
    assert target.usb and bus.devices == [target]
    assert repr(target) == "<EmulatedUsbDevice PellorK1D (Pellor-K1-D) serial PLR00042 on USB>"
    bus.close()
    assert not target.plugged and not target.running
    with pytest.raises(RuntimeError):
        bus.add("PellorK1D", usb=True)
    with pytest.raises(RuntimeError):
        target.plug()


# The driver picks the shim only when told to, and finds libusb inside the libusb_package wheel.
LIBRARY_CHECK = textwrap.dedent("""
    import warnings, pyzelvo
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        path = pyzelvo._core._libusb_path()
    print("path=" + path)
    print("warned=" + str(any(isinstance(w.message, pyzelvo.ExtLibNotFoundWarning) for w in caught)))
""")


@pytest.mark.parametrize("packaged", [False, True])
def test_library_search_without_the_variable(tmp_path, packaged):
    env = {k: v for k, v in os.environ.items() if k != "ZELVO_LIBUSB"}
    expected = ""
    if packaged:
        package = tmp_path / "libusb_package"
        package.mkdir()
        (package / "__init__.py").write_text("")
        (package / "libusb-1.0.so").symlink_to(sim.usb_library_path())
        env["PYTHONPATH"] = os.pathsep.join([str(tmp_path), env.get("PYTHONPATH", "")])
        expected = str(package / "libusb-1.0.so")
    out = subprocess.run([sys.executable, "-c", LIBRARY_CHECK], env=env, capture_output=True, text=True,
                         timeout=60, check=True).stdout.splitlines()  # (a warning also prints its stack)
    path = next(line for line in out if line.startswith("path="))[len("path="):]
    warned = "warned=True" in out
    assert path != sim.usb_library_path()
    if packaged:
        assert (path, warned) == (expected, False)
    else:
        assert warned
