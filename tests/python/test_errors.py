"""Error and warning classes, their texts, and the firmware status mapping."""

import logging
import os
import pickle
import warnings

import pytest

import pyzelvo
from pyzelvo import Error, ZelvoWarning

# Firmware errors in code order (-7000 down) and the status byte each one stands for.
FIRMWARE = ["Enable", "PinIndex", "HALIndex", "ZelvoIndex", "RTC", "I2C", "SPI", "UART", "TIM", "PWM",
            "Pulse", "Encoder", "EEPROM", "OLED", "Core", "DIO", "Relay", "AI", "AO", "Motion", "Drive",
            "Thermal", "CAN", "USB", "TCP", "UDP", "Bootloader", "Parser", "Other"]
STATUS = [10, 11, 12, 13, 20, 21, 22, 23, 24, 25, 26, 27, 40, 41, 42, 50, 51, 52, 53, 54, 55, 56, 57,
          70, 71, 72, 73, 80]
# Motion warnings in code order from -9100.
MOTION = ["MotionAxisError", "MotionPortNotAvaliable", "MotionStopModeError", "MotionSearchTypeError",
          "MotionSearchDirectionError", "MotionEnableError", "MotionStepperOutputError",
          "MotionDirectionError", "MotionPolarityError", "MotionCaptureTypeError", "MotionCaptureModeError",
          "MotionBreakPointModeError", "MotionOperationModeError", "MotionAccelerationModeError"]
ERRORS = {
    "APINotSupportError": -8000, "USBConnectionError": -8001, "NetworkConnectionError": -8002,
    "NetworkConnectionLostError": -8003, "ReceivePacketTimeoutError": -8004, "PinsNotExistError": -8005,
    "PinsValueNotDefineError": -8006, "InputTypeNotConsistentError": -8007,
    "InputTypeNotCorrectError": -8008, "InputDataNotInRangeError": -8009,
    "IniFileExtensionNameError": -8010, "IniFileNotFoundError": -8011,
    "DIPortNotAvaliableError": -8100, "DOPortNotAvaliableError": -8101, "PWMChannelNotAvaliableError": -8102,
    "CounterChannelNotAvaliableError": -8103, "RelayCounterIndexError": -8104,
    "RelayPortNotAvaliableError": -8105, "EncoderChannelNotAvaliableError": -8106,
    "DIChannelNotAvaliableError": -8107, "DOChannelNotAvaliableError": -8108,
    "AIChannelNotAvaliableError": -8200, "AIPortNotAvaliableError": -8201, "AICSNotAvaliableError": -8202,
    "AIModeNotAvaliableError": -8203, "AIRateNotVaildError": -8204, "AITriggerModeNotAvaliableError": -8205,
    "AOPortNotAvaliableError": -8300, "AOModeNotVaildError": -8301, "AOSpanNotVaildError": -8302,
    "AOChannelNotAvaliableError": -8303, "AOFormNotAvaliableError": -8304, "AORateNotVaildError": -8305,
    "AHRSPortNotAvaliableError": -8400, "AHRSModeNotAvaliableError": -8401,
    "ThermalPortNotAvaliableError": -8500, "ThermalChipSelectNotAvaliableError": -8501,
    "ThermalModeNotVaildError": -8502, "ThermalTypeNotVaildError": -8503,
    "I2CPortNotAvaliableError": -8600, "I2CClockNotSupportError": -8601, "I2CAddressSizeNotVaildError": -8602,
    "SPIPortNotAvaliableError": -8700, "SPIDataLengthExceedMaxError": -8701, "SPIDataSizeNotVaildError": -8702,
    "SPIFirstBitNotVaildError": -8703, "SPIPrescalerNotVaildError": -8704, "SPIModeNotVaildError": -8705,
    "UARTPortNotAvaliableError": -8800, "UARTExceedMaxLengthError": -8801,
    "UARTBaudRateNotSupportError": -8802, "UARTStopBitNotSupportError": -8803,
    "UARTParityNotSupportError": -8804, "UARTDataBitNotSupportError": -8805,
    "CANPortNotAvaliableError": -8900, "CANSpeedNotVaildError": -8901, "CANDataLengthNotVaildError": -8902,
    "CANTXNotVaildError": -8903, "CANTXPriorityNotVaildError": -8904, "TVSTPortNotAvaliable": -8900,
    "KORUPortNotAvaliableError": -9200, "DPOTPortNotAvaliableError": -9300,
    "DPOTChannelNotAvaliableError": -9301,
}
ERRORS.update({f"Firmware{name}Error": -7000 - i for i, name in enumerate(FIRMWARE)})
WARNINGS = {name: -9100 - i for i, name in enumerate(MOTION)}
WARNINGS.update({"AIQueueOverflowWarning": 520000, "UARTQueueOverflowWarning": 520001,
                 "CANQueueOverflowWarning": 520002, "AHRSQueueOverflowWarning": 520003,
                 "ExtLibNotFoundWarning": 519000})
CONSTANTS = {"errPacketTimeout": -8004, "errNetConnection": -8002, "errCANPort": -8900, "errKORUSlot": -9200,
             "errFirmwareOther": -7028, "errMotionAccelerationMode": -9113, "warnAIOverflow": 520000,
             "warnLibNotFound": 519000, "errDPOTChannel": -9301}


@pytest.mark.parametrize("name, code", ERRORS.items())
def test_error_class(name, code):
    cls = getattr(pyzelvo, name)
    err = cls()
    assert issubclass(cls, Error) and isinstance(err, Exception)
    assert err.code == code and str(err) == f"Error {code}: {err.msg}" and err.msg


@pytest.mark.parametrize("name, code", WARNINGS.items())
def test_warning_class(name, code):
    cls = getattr(pyzelvo, name)
    assert issubclass(cls, ZelvoWarning) and issubclass(cls, UserWarning)
    with pytest.raises(cls) as info:
        raise cls(silent=True)
    assert info.value.code == code and str(info.value) == f"Warning {code}: {info.value.msg}"


def test_code_constants():
    assert {name: getattr(pyzelvo, name) for name in CONSTANTS} == CONSTANTS


def test_texts_and_message_override():
    assert str(pyzelvo.ReceivePacketTimeoutError()) == "Error -8004: Receive packet timeout."
    err = pyzelvo.ReceivePacketTimeoutError("no answer from the bench unit")
    assert (err.code, err.msg) == (-8004, "no answer from the bench unit")
    assert str(err) == "Error -8004: no answer from the bench unit"
    assert pyzelvo.KORUPortNotAvaliableError().msg == (
        "The KORU slot is not available or is already occupied by another process.")
    copy = pickle.loads(pickle.dumps(err))
    assert type(copy) is type(err) and (copy.code, copy.msg) == (err.code, err.msg)


def test_warning_prints_stack_and_warns(capsys):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        pyzelvo.AIQueueOverflowWarning(silent=True)
        assert caught == [] and capsys.readouterr().out == ""
        pyzelvo.AIQueueOverflowWarning()
    assert [str(w.message) for w in caught] == ["Warning 520000: Occurrence AI queue overflow."]
    assert caught[0].category is pyzelvo.AIQueueOverflowWarning
    assert "test_warning_prints_stack_and_warns" in capsys.readouterr().out


@pytest.mark.parametrize("status, name", list(zip(STATUS, FIRMWARE)) + [(1, "Other"), (99, "Other"), (255, "Other")])
def test_checkFirmwareError(status, name):
    with pytest.raises(getattr(pyzelvo, f"Firmware{name}Error")):
        pyzelvo.checkFirmwareError(status)


def test_checkFirmwareError_ok_and_printGenericError(capsys):
    assert pyzelvo.checkFirmwareError(0) == 0
    pyzelvo.printGenericError(pyzelvo.ReceivePacketTimeoutError())
    pyzelvo.printGenericError(ValueError("bad value"))
    assert capsys.readouterr().out == (
        "ReceivePacketTimeoutError: Error -8004: Receive packet timeout.\nValueError: bad value\n")


@pytest.mark.parametrize("name, base", [
    ("ReceivePacketTimeoutError", TimeoutError),
    ("USBConnectionError", ConnectionError), ("NetworkConnectionError", ConnectionError),
    ("NetworkConnectionLostError", ConnectionError),
    ("InputTypeNotCorrectError", TypeError), ("InputTypeNotConsistentError", TypeError),
    ("InputDataNotInRangeError", ValueError), ("AIPortNotAvaliableError", ValueError),
    ("AIRateNotVaildError", ValueError), ("PinsNotExistError", ValueError), ("SPIDataLengthExceedMaxError", ValueError),
    ("TVSTPortNotAvaliable", ValueError),
])
def test_errors_are_also_the_standard_exceptions_users_catch(name, base):
    cls = getattr(pyzelvo, name)
    assert issubclass(cls, Error) and issubclass(cls, base)
    err = cls()
    assert str(err) == f"Error {err.code}: {err.msg}" and err.args[:2] == (err.code, err.msg)
    assert type(pickle.loads(pickle.dumps(err))) is cls


@pytest.mark.parametrize("name", ["APINotSupportError", "FirmwarePinIndexError", "FirmwareRTCError"])
def test_errors_that_are_not_about_an_argument_keep_only_their_own_base(name):
    cls = getattr(pyzelvo, name)
    assert not issubclass(cls, (ValueError, TypeError, OSError))


@pytest.mark.parametrize("code, raised", [(-7004, "FirmwareRTCError"), (-8004, "ReceivePacketTimeoutError"),
                                          (-7028, "FirmwareOtherError"), (-54321, "Error")])
def test_raise_for_status_maps_a_returned_code_back_to_its_exception(code, raised):
    with pytest.raises(getattr(pyzelvo, raised)) as info:
        pyzelvo.raise_for_status(code)
    assert info.value.code == code
    assert pyzelvo.raise_for_status(0) == 0 and pyzelvo.raise_for_status(3) == 3
    with pytest.raises(pyzelvo.InputTypeNotCorrectError):
        pyzelvo.raise_for_status("-7004")


def test_a_warning_points_at_the_callers_line_and_routes_its_stack(capsys):
    lines = []
    pyzelvo.set_message_handler(lines.append)
    try:
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            pyzelvo.AIQueueOverflowWarning()
    finally:
        pyzelvo.set_message_handler(None)
    assert caught[0].filename == __file__
    assert capsys.readouterr().out == "" and "test_a_warning_points_at_the_callers_line" in lines[0]
    assert "pyzelvo" + os.sep not in lines[0]  # none of the library's own frames


def test_printed_lines_can_go_to_a_handler_or_to_logging(caplog):
    lines = []
    pyzelvo.set_message_handler(lines.append)
    try:
        pyzelvo.TavraA().close()
        logger = pyzelvo.use_logging()
        with caplog.at_level(logging.INFO, logger="pyzelvo"):
            pyzelvo.PellorK1D().close()
    finally:
        pyzelvo.set_message_handler(None)
    assert lines == ["Opened handle (Tavra-A)", "Closed handle (Tavra-A)"]
    assert logger.name == "pyzelvo"
    assert [r.getMessage() for r in caplog.records] == ["Opened handle (Pellor-K1-D)", "Closed handle (Pellor-K1-D)"]
    with pytest.raises(TypeError):
        pyzelvo.set_message_handler("print")
