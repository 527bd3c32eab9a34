"""The driver's System operations against the emulator: both sides of the wire contract agree; the
emulator's reply edits and device time as the driver sees them."""

import re
import time

import pytest

import pyzelvo


@pytest.mark.parametrize("class_name", ["TavraA", "AerisR3A", "TavraT", "Koru"])
def test_system_operations_round_trip(attach, class_name):
    h, dev = attach(class_name)
    assert h.Sys_getDriverInfo() == [dev.model, "APP", "1.0.0"]
    assert h.Sys_getSerialNumber() == dev.serial_number
    assert h.Sys_setDeviceAlias("bench 4") == 0
    assert (h.Sys_getDeviceAlias(), dev.alias) == ("bench 4", "bench 4")
    assert h.Sys_setRTC(2024, 5, 6, 7, 8, 9) == 0
    assert re.fullmatch(r"2024-05-06, 07:08:(09|10)", h.Sys_getRTC())
    assert h.Sys_setRTC(2024, 13, 6, 7, 8, 9) < 0  # the firmware's RTC error, as a code
    assert h.Sys_reboot() == 0 and dev.reboot_count == 1
    port = min(p for p in range(16) if dev.pin_modes(p))
    names = ["Disabled", "Idle", "DI", "DO", "UART", "I2C", "SPI", "CAN", "PWM", "ADC"]
    assert h.Sys_getPinModeInPort(port)[: len(dev.pin_modes(port))] == [names[m] for m in dev.pin_modes(port)]


def test_koru_slot_modes(attach):
    h, _ = attach("Koru")
    assert h.Sys_setDIMode(4) == 0
    assert (h.Sys_getMode(4), h.Sys_getMode(1)) == ("DI", "Idle")


def test_retries_get_past_ignored_requests(attach):
    h, dev = attach("TavraD")
    dev.ignore_first(122, 2)
    assert h.Sys_getSerialNumber() == dev.serial_number
    assert dev.request_count(122) == 3


def test_reply_edits_reach_the_driver(attach):
    h, dev = attach("TavraA")
    dev.force_status(2057, 23, at=0, nth=2)  # SET_DEV_ALIAS: the second request fails
    assert h.Sys_setDeviceAlias("a") == 0 and h.Sys_setDeviceAlias("b") == -7007
    assert h.Sys_setDeviceAlias("c") == 0 and dev.alias == "c"  # the device still carried each out
    dev.edit_replies(122, append=b"\x00")  # a trailing extra byte does not spoil a good answer
    assert h.Sys_getSerialNumber() == dev.serial_number
    dev.edit_replies(122, truncate_to=3, nth=1)
    with pytest.raises(pyzelvo.FirmwareOtherError, match="Sys_getSerialNumber"):
        h.Sys_getSerialNumber()
    dev.reset_faults()
    assert h.Sys_getSerialNumber() == dev.serial_number


def test_device_time_runs_at_the_scale_tests_set(attach):
    h, dev = attach("TavraA")
    h.Sys_setRTC(2024, 5, 6, 7, 0, 0)
    dev.clock.advance(3600)
    assert h.Sys_getRTC().startswith("2024-05-06, 08:00:")
    start = dev.clock.now
    dev.clock.scale = 1000
    time.sleep(0.1)
    dev.clock.scale = 1
    assert 60 < dev.clock.now - start < 400  # about 100 s of device time in 0.1 s
    with pytest.raises(ValueError):
        dev.clock.scale = 0
