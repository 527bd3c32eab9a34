"""Digital I/O: end to end against the emulator in both families, the checks made before anything
is sent, fixed-direction models, and firmware statuses and short replies from a scripted device.
(The bytes of every request are checked in tests/cpp/test_dio_module.cpp.)"""

import pytest

import pyzelvo as z
from pyzelvo import sim

GET_PIN_MODES, SET_DIO_CURRENT, READ_AND_GET_DI, SET_AND_WRITE_DO = 127, 227, 233, 234
LOAD_DIO_STARTUP, TOGGLE_AND_WRITE_DO = 224, 238
UART = 4


def bits(word, width=8):
    return [(word >> i) & 1 for i in range(width)]


def test_inputs_end_to_end(attach, call):
    dev, target = attach("TavraEXD")  # inputs on ports 2 and 3, outputs on ports 0 and 1
    assert call(dev, "DI_openPins", 2, [0, 1, 5]) == 0
    assert target.dio_words(2) == (0x23, 0, 0) and target.pin_modes(2)[:3] == [2, 2, 1]
    target.set_inputs(2, 0b1010_0001)
    assert call(dev, "DI_readPins", 2, [5, 0, 1]) == [1, 1, 0]
    assert call(dev, "DI_readPort", 2) == bits(0b0010_0001)  # pin 7 is not open
    assert call(dev, "DI_openPort", 2) == 0 and call(dev, "DI_readPort", 2) == bits(0b1010_0001)
    assert call(dev, "DI_closePins", 2, 35) == 0
    assert target.dio_words(2)[0] == 0xDC and target.pin_modes(2)[:2] == [1, 1]
    assert call(dev, "DI_closePort", 2) == 0 and target.dio_words(2) == (0, 0, 0)


def test_outputs_end_to_end(attach, call):
    dev, target = attach("TavraEXD")
    assert call(dev, "DO_openPins", 0, 0b11) == 0 and target.dio_words(0) == (3, 3, 0)
    assert call(dev, "DO_openPort", 0) == 0 and target.pin_modes(0) == [3] * 8
    assert call(dev, "DO_writePins", 0, [0, 1, 5], [1, 1, 0]) == 0 and target.outputs(0) == 0x03
    assert call(dev, "DO_writePins", 0, 0x30, 0x10) == 0 and target.outputs(0) == 0x13
    assert call(dev, "DO_writePort", 0, [1, 0, 1]) == 0 and target.outputs(0) == 0x05
    assert call(dev, "DO_togglePins", 0, [0, 7]) == bits(0x84)
    assert call(dev, "DO_togglePort", 0) == bits(0x7B) and target.outputs(0) == 0x7B
    assert call(dev, "DO_closePins", 0, [1]) == 0 and target.outputs(0) == 0x79
    assert call(dev, "DO_closePort", 0) == 0 and target.dio_words(0) == (0, 0, 0)


def test_configuration_and_startup(attach, call):
    dev, target = attach("TavraEXD")
    assert call(dev, "_setDIOCurrent", 1, 0xF, 0xFFFF, 0xFFFF, 0b0101) == 0
    assert call(dev, "_getDIOCurrent", 1, 0xFFFF) == (bits(0xF), bits(0xF), bits(0b0101))
    assert target.outputs(1) == 0b0101
    assert call(dev, "_DIO_saveStartup", 1, 3, 3, 1) == 0 and target.dio_startup(1) == (3, 3, 1)
    assert call(dev, "DIO_loadStartup", 1) == (bits(3), bits(3), bits(1))
    assert call(dev, "_setDIOCurrent", 9, 1, 1, 0, 0) == -7001     # no such port
    assert call(dev, "_setDIOCurrent", 2, 1, 1, 1, 0) == -7015     # an input pin as output
    assert call(dev, "_DIO_setPortIdle", 1) == 0 and target.dio_words(1) == (0, 0, 0)


def test_pin_busy_with_another_function_is_refused(attach, call):
    dev, target = attach("TavraEXD")
    target.set_pin_mode(0, 1, UART)
    with pytest.raises(z.DOPortNotAvaliableError, match="Pin 1 of port 0 is in mode UART"):
        call(dev, "DO_openPins", 0, [0, 1])
    assert target.request_counts == {GET_PIN_MODES: 1}
    assert target.dio_words(0) == (0, 0, 0)


DIO_PRODUCTS = [name for name in sim.products() if issubclass(getattr(z, name), z.DIOModule)]


@pytest.mark.parametrize("product", DIO_PRODUCTS)
def test_fixed_direction_models_open_and_close_nothing(emu, call, product):
    # Which models have their directions wired in hardware is a catalogue field; the emulator
    # shows it by starting their pins enabled, the driver by not opening or closing anything.
    dev = getattr(z, product)()  # never connected: any exchange would fail
    try:
        fixed = any(emu.add(product).dio.words(port)[0] for port in dev.di_dict)
        if not fixed:
            with pytest.raises(z.DIPortNotAvaliableError):
                call(dev, "DI_openPort", 99)
            return
        for op in ("DI_openPort", "DI_closePort", "DO_openPort", "DO_closePort"):
            assert call(dev, op, 99) == 0, op          # even for a port the model does not have
        for op in ("DI_openPins", "DI_closePins", "DO_openPins", "DO_closePins"):
            assert call(dev, op, 99, [0, 99]) == 0, op
    finally:
        dev.close()


def test_fixed_direction_outputs_need_no_opening(attach, call):
    dev, target = attach("TavraD")
    assert call(dev, "DO_writePins", 0, [0, 2], [1, 1]) == 0 and target.outputs(0) == 0b101
    target.set_input(1, 7, 1)
    assert call(dev, "DI_readPins", 1, [7, 6]) == [1, 0]


def test_usb_products(monkeypatch, call):
    monkeypatch.setenv("ZELVO_LIBUSB", sim.usb_library_path())
    with sim.Emulator() as emu:
        pellor, snk = emu.add("PellorK1D", usb=True), emu.add("PellorK1DSNK", usb=True)
        dev, fixed = z.PellorK1D(), z.PellorK1DSNK()
        try:
            dev.connect(pellor.serial_number)
            fixed.connect(snk.serial_number)
            pellor.set_pin_mode(0, 3, UART)                       # port 0 shares pins with a UART
            with pytest.raises(z.DIPortNotAvaliableError):
                call(dev, "DI_openPort", 0)
            assert call(dev, "DO_openPins", 2, [6, 7]) == 0 and call(dev, "DO_writePort", 2, 0xC1) == 0
            assert pellor.outputs(2) == 0xC0                      # pin 0 is not an output
            assert call(fixed, "DO_writePins", 2, 0x81, 0x81) == 0 and snk.outputs(2) == 0x81
            snk.set_inputs(1, 0b10_0000)
            assert call(fixed, "DI_readPort", 1) == bits(0b10_0000)
        finally:
            dev.close()
            fixed.close()


# The value refusals are rows of the C++ DioRefusal table; these are the Python types.
@pytest.mark.parametrize("op, args", [
    ("DO_writePort", (0, 1.0)),
    ("DI_readPins", (2, (0, 1))),
    ("DI_readPins", (2, [0, "1"])),
    ("DI_readPort", ("2",)),
    ("DI_readPort", (None,)),
    ("DO_writePins", (0, [0], None)),
])
def test_wrong_types_send_nothing(attach, call, op, args):
    dev, target = attach("TavraEXD")
    with pytest.raises(z.InputTypeNotCorrectError):
        call(dev, op, *args)
    assert target.request_counts == {}


def test_checks_and_pin_maps(attach):
    dev, _ = attach("TavraEXD")
    assert dev._checkDIPort(2) is True and dev._checkDOPortAndPin(0, 0xFF) is True
    with pytest.raises(z.DOPortNotAvaliableError):
        dev._checkDOPort(2)
    with pytest.raises(z.PinsNotExistError):
        dev._checkDIPortAndPin(2, [8])
    assert dev._getPinIndexInInt([0, 1, 5]) == 35 and dev._getPinIndexInList(35) == [0, 1, 5]
    with pytest.raises(z.PinsNotExistError):
        dev._getPinIndexInList(-8)
    assert dev.DI_getPinMap() == dev.di_dict == {2: list(range(8)), 3: list(range(8))}
    assert dev.DO_getPinMap() == dev.do_dict


def test_emulator_controls_reject_what_the_device_lacks(emu):
    tavra_d, tavra_a = emu.add("TavraD"), emu.add("TavraA")
    with pytest.raises(ValueError):
        tavra_d.set_input(0, 6, 1)      # port 0 has pins 0..5
    with pytest.raises(ValueError):
        tavra_d.set_inputs(5, 1)
    with pytest.raises(ValueError):
        tavra_a.outputs(0)              # no digital I/O at all


# --- decoding, against replies chosen byte by byte --------------------------------------------------

@pytest.mark.parametrize("op, args, code, reply, result", [
    ("DI_closePort", (2,), SET_DIO_CURRENT, b"\x02\x32", -7015),
    ("DI_closePort", (2,), SET_DIO_CURRENT, b"\x02", -7028),          # no status: the short-reply code
    ("_DIO_saveStartup", (0, 1, 1, 0), 225, b"", -7028),
])
def test_status_results(scripted, op, args, code, reply, result):
    dev, _ = scripted("TavraEXD", {code: reply})
    assert getattr(dev, op)(*args) == result


@pytest.mark.parametrize("op, args, code, reply, named", [
    ("DI_readPort", (2,), READ_AND_GET_DI, b"\x02\x00", "_readAndGetDI"),
    ("DO_togglePort", (0,), TOGGLE_AND_WRITE_DO, b"\x00", "_toggleAndWriteDO"),
    ("DIO_loadStartup", (0,), LOAD_DIO_STARTUP, b"\x00\x00\x03\x00\x01\x00", "DIO_loadStartup"),
    ("DO_writePort", (0, 5), SET_AND_WRITE_DO, b"\x00", "_setAndWriteDO"),
])
def test_short_replies_name_the_operation(scripted, call, op, args, code, reply, named):
    dev, _ = scripted("TavraEXD", {code: reply})
    with pytest.raises(z.FirmwareOtherError, match=named):
        call(dev, op, *args)
