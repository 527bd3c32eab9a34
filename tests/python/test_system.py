"""System module operations: end to end against the emulator in both families, and reply
decoding against a scripted device."""

import re
from pathlib import Path

import pytest

import pyzelvo as z

# The one place the version is written.
VERSION = re.search(r'^version = "([^"]+)"$', (Path(__file__).parents[2] / "pyproject.toml").read_text(), re.M)[1]

GET_DATE_TIME, SET_DATE_TIME, REBOOT = 241, 242, 250
GET_EEPROM_PAGE, GET_SERIAL_NUMBER, GET_PIN_MODE_OF_SLOT = 247, 122, 127
GET_SLOT_MODE, SET_SLOT_MODE, GET_DEV_ALIAS, SET_DEV_ALIAS = 2054, 2055, 2056, 2057


def test_identity_and_texts(attach, call):
    dev, target = attach("TavraA")
    assert call(dev, "Sys_getSerialNumber") == target.serial_number == dev.serial_number
    assert call(dev, "Sys_getDriverInfo") == ["Tavra-A", "APP", "1.0.0"]
    assert call(dev, "Sys_getPythonVersion") == z.__version__ == VERSION
    assert call(dev, "Sys_getDeviceAlias") == "Tavra-A"
    assert call(dev, "Sys_setDeviceAlias", "bench-3") == 0
    assert target.alias == "bench-3" and call(dev, "Sys_getDeviceAlias") == "bench-3"
    assert call(dev, "Sys_setDeviceAlias", "x" * 40) == -7027  # the firmware's parser refuses it
    assert call(dev, "_getDriverInfo_dev", 1) == dev.driver_info == "Tavra-A_APP_1.0.0"
    assert "eth_rx" in call(dev, "_getThreads") and dev.thread_info.startswith("main")


def test_clock_alarm_and_reboot(attach, call):
    dev, target = attach("TavraA")
    assert call(dev, "Sys_setRTC", 2024, 5, 6, 7, 8, 9) == 0
    assert call(dev, "Sys_getRTC").startswith("2024-05-06, 07:08:") and dev.rtc_time.startswith("2024-05-06")
    assert call(dev, "Sys_setRTC", 24, 5, 6, 7, 8, 9) == 0
    assert call(dev, "Sys_getRTC").startswith("1924-05-06, 07:08:")
    assert call(dev, "Sys_setRTC", 2024, 13, 1, 0, 0, 0) == -7004
    assert call(dev, "Sys_startRTCAlarm", 1, 2, 3, 4, 5) == 0
    assert call(dev, "_Sys_getRTCAlarmState") == "on"
    assert call(dev, "_Sys_getRTCAlarmConfig") == "0001-02-03, 04:05:00"
    assert call(dev, "Sys_stopRTCAlarm") == 0 and call(dev, "_Sys_getRTCAlarmState") == "off"
    assert call(dev, "Sys_reboot") == 0 and target.reboot_count == 1
    assert call(dev, "_Sys_rebootOnBootloader") == 0


def test_eeprom_and_factory_reset(attach, call):
    dev, target = attach("TavraA")
    assert call(dev, "_setEEPROMPage", 3, [1, 2, 3]) == 0
    assert call(dev, "_setEEPROMByte", 3, 5, 0x55) == 0
    assert call(dev, "_getEEPROMPage", 3)[:6] == [1, 2, 3, 255, 255, 0x55]
    assert target.eeprom_page(3)[:6] == bytes([1, 2, 3, 255, 255, 0x55])
    assert call(dev, "_getEEPROMDevice", 0)[:2] == [0, 0x24]
    assert call(dev, "_setEEPROMPage", 3, [0] * 65) == -7012
    target.alias = "renamed"
    assert call(dev, "_resetFactory") == 0
    assert target.alias == "Tavra-A" and target.eeprom_page(3) == b"\xff" * 64


def test_pin_modes(attach, call):
    dev, target = attach("TavraD")
    for pin, mode in enumerate([2, 3, 8]):
        target.set_pin_mode(1, pin, mode)
    names = call(dev, "Sys_getPinModeInPort", 1)
    assert names[:3] == ["DI", "DO", "PWM"]
    assert dev.num_of_pins == len(target.pin_modes(1)) and dev.pin_mode_list[:3] == [2, 3, 8]


@pytest.mark.parametrize("setter, name", [("Sys_setIdleMode", "Idle"), ("Sys_setDIMode", "DI"),
                                          ("Sys_setDOMode", "DO"), ("Sys_setDIOMode", "DIO"),
                                          ("Sys_setMotionMode", "Motion"), ("Sys_setAIOMode", "AIO"),
                                          ("Sys_setSwitchMode", "Switch")])
def test_koru_slot_modes(attach, call, setter, name):
    dev, target = attach("Koru")
    assert call(dev, setter, 4) == 0
    assert call(dev, "Sys_getMode", 4) == name
    assert call(dev, "Sys_getMode", 1) == "Idle"


@pytest.mark.parametrize("op, args, error", [
    ("Sys_setDIMode", (3,), z.KORUPortNotAvaliableError),
    ("Sys_getMode", (0,), z.KORUPortNotAvaliableError),
    ("_Sys_setSlotMode", (5, 1), z.KORUPortNotAvaliableError),
    ("Sys_getMode", ("1",), z.InputTypeNotCorrectError),
    ("Sys_setRTC", (2024.0, 1, 1, 0, 0, 0), z.InputTypeNotCorrectError),
    ("Sys_getPinModeInPort", (256,), z.InputDataNotInRangeError),
])
def test_invalid_arguments_send_nothing(attach, call, op, args, error):
    dev, target = attach("Koru")
    with pytest.raises(error):
        call(dev, op, *args)
    assert target.request_counts == {}


def test_wifi_product_end_to_end(attach, call):
    dev, target = attach("AerisR3A")
    assert call(dev, "Sys_getSerialNumber") == target.serial_number
    assert call(dev, "Sys_setRTC", 2031, 1, 2, 3, 4, 5) == 0
    assert call(dev, "Sys_getRTC").startswith("2031-01-02, 03:04:")


# --- decoding, against replies chosen byte by byte ------------------------------------------------

@pytest.mark.parametrize("product, text", [("TavraA", "1924-05-06, 07:08:09"), ("AerisR3A", "2024-05-06, 07:08:09")])
def test_rtc_year_rule(scripted, product, text):
    dev, _ = scripted(product, {GET_DATE_TIME: bytes([24, 5, 6, 7, 8, 9])})
    assert dev.Sys_getRTC() == text == dev.rtc_time


def test_pin_mode_nibbles(scripted):
    dev, device = scripted("TavraD", {GET_PIN_MODE_OF_SLOT: lambda p: p[:1] + bytes([3, 0x32, 0x04])})
    assert dev.Sys_getPinModeInPort(2) == ["DI", "DO", "UART", "Disabled"]
    assert (dev.num_of_pins, dev.pin_mode_list) == (3, [2, 3, 4, 0])
    assert device.requests == [(GET_PIN_MODE_OF_SLOT, b"\x02")]


@pytest.mark.parametrize("reply, result", [(b"\x17", -7007), (b"\x00", 0), (b"\x63", -7028), (b"", -7028)])
def test_status_results(scripted, reply, result):
    dev, _ = scripted("TavraA", {REBOOT: reply, SET_DEV_ALIAS: reply})
    assert dev.Sys_reboot() == result
    assert dev.Sys_setDeviceAlias("a") == result


@pytest.mark.parametrize("op, code, reply", [
    ("Sys_getRTC", GET_DATE_TIME, b"\x18\x05\x06"),
    ("Sys_getSerialNumber", GET_SERIAL_NUMBER, b"ZS01"),
    ("Sys_getPinModeInPort", GET_PIN_MODE_OF_SLOT, b"\x00\x05\x11\x11"),
    ("Sys_getMode", GET_SLOT_MODE, b""),
    ("Sys_stopRTCAlarm", 2213, b"\x00"),
    ("_Sys_getRTCAlarmConfig", 2215, b"\x00\x01\x02"),
    ("Sys_getDriverInfo", 240, b""),
    ("_getEEPROMPage", GET_EEPROM_PAGE, b""),
])
def test_short_replies_raise_naming_the_operation(scripted, op, code, reply):
    dev, _ = scripted("Koru", {code: reply})
    args = {"Sys_getPinModeInPort": (0,), "Sys_getMode": (1,), "_getEEPROMPage": (0,)}.get(op, ())
    with pytest.raises(z.FirmwareOtherError, match=op):
        getattr(dev, op)(*args)


@pytest.mark.parametrize("reply, alias", [(b"ab\xffc\r\n", "ab\ufffdc"), (b"dev\r\nxyz", "dev"), (b"plain", "plain")])
def test_alias_decoding(scripted, reply, alias):
    dev, _ = scripted("TavraA", {GET_DEV_ALIAS: reply})
    assert dev.Sys_getDeviceAlias() == alias


def test_request_payloads(scripted):
    dev, device = scripted("Koru", {SET_DATE_TIME: b"\x00", SET_SLOT_MODE: b"\x00\x00", SET_DEV_ALIAS: b"\x00",
                                    GET_EEPROM_PAGE: bytes(range(64))})
    dev.Sys_setRTC(24, 5, 6, 7, 8, 9)
    dev.Sys_setRTC(2024, 5, 6, 7, 8, 9)
    dev.Sys_setDIMode(4)
    dev.Sys_setDeviceAlias("Zé")
    assert dev._getEEPROMPage(7) == list(range(64))
    assert device.requests == [(SET_DATE_TIME, bytes([24, 5, 6, 7, 8, 9])), (SET_DATE_TIME, bytes([124, 5, 6, 7, 8, 9])),
                               (SET_SLOT_MODE, bytes([6, 1])), (SET_DEV_ALIAS, bytes([90, 233])),
                               (GET_EEPROM_PAGE, bytes([7]))]
