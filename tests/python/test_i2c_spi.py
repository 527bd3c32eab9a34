"""I2C and SPI end to end against the emulator over USB, in both families: the slaves and the
loopback, the pins a bus takes, firmware statuses and replies of the wrong length. (The bytes of
every request are checked in tests/cpp/test_i2c_spi_modules.cpp.)"""

import pytest

import pyzelvo as z

GET_PIN_MODES, OPEN_I2C, READ_I2C, CLOSE_I2C, READ_AND_WRITE_SPI = 127, 144, 145, 148, 163
IDLE, UART, I2C, SPI = 1, 4, 5, 6
EEPROM = 0x50


def test_i2c_memory_end_to_end(usb_attach, call):
    dev, target = usb_attach("PellorK1D")  # I2C 1 on device pins (2, 6) and (2, 7)
    assert call(dev, "I2C_open", 1) == 0 and target.pin_modes(2)[6:8] == [I2C, I2C]
    assert call(dev, "I2C_setClockRate", 1, 1) == 0 and target.i2c.state(1)["frequency"] == 400000
    assert call(dev, "I2C_write", 1, EEPROM, [0x20, 1, 2, 3]) == 0
    assert call(dev, "I2C_write", 1, EEPROM, [0x21]) == 0            # the pointer alone
    assert call(dev, "I2C_read", 1, EEPROM, 2) == [2, 3]
    assert target.i2c.contents(1, EEPROM)[0x20:0x23] == b"\x01\x02\x03"
    assert call(dev, "I2C_write", 1, 0x51, [0]) == -7005              # nobody answers there
    assert call(dev, "I2C_read", 1, 0x51, 2) == []
    assert call(dev, "I2C_close", 1) == 0 and target.pin_modes(2)[6:8] == [IDLE, IDLE]


def test_i2c_register_device(usb_attach, call):
    dev, target = usb_attach("PellorK1D")
    target.i2c.attach_registers(2, 0x68, [0x71, 0, 0, 0], read_only=[0])
    assert call(dev, "I2C_open", 2) == 0 and call(dev, "I2C_setAddressSize", 2, 0) == 0
    assert call(dev, "I2C_write", 2, 0x68, [0, 0xEE, 5]) == 0
    assert call(dev, "I2C_write", 2, 0x68, [0]) == 0
    assert call(dev, "I2C_read", 2, 0x68, 3) == [0x71, 5, 0]
    assert sorted(target.i2c.addresses(2)) == [EEPROM, 0x68]


def test_spi_loopback_register_device_and_settings(usb_attach, call):
    dev, target = usb_attach("PellorK1D")  # SPI 1 on device pins (2, 1), (2, 2), (2, 3)
    assert call(dev, "SPI_open", 1) == 0 and target.pin_modes(2)[1:4] == [SPI] * 3
    assert call(dev, "SPI_readAndWrite", 1, [1, 2, 3]) == [1, 2, 3]
    assert call(dev, "SPI_read", 1, 2) == [0xFF, 0xFF]
    assert call(dev, "SPI_setMode", 1, 2) == 0 and call(dev, "SPI_setPrescaler", 1, 64) == 0
    assert call(dev, "SPI_setDataSize", 1, 1) == 0 and call(dev, "SPI_setFirstBit", 1, 1) == 0
    state = target.spi.state(1)
    assert (state["cpol"], state["cpha"], state["prescaler"], state["data_size"], state["first_bit"]) == (1, 0, 64, 1, 1)
    target.spi.attach_registers(1, [0xA5, 0, 0])
    assert call(dev, "SPI_write", 1, [0x01, 7, 8]) == 0
    assert call(dev, "SPI_readAndWrite", 1, [0x80, 0, 0, 0]) == [0, 0xA5, 7, 8]
    assert call(dev, "SPI_close", 1) == 0 and target.pin_modes(2)[1:4] == [IDLE] * 3


def test_a_bus_does_not_take_pins_busy_elsewhere(usb_attach, call):
    dev, target = usb_attach("PellorK1D")
    target.set_pin_mode(2, 7, UART)
    with pytest.raises(z.I2CPortNotAvaliableError, match="Pin 7 of port 2 is in mode UART"):
        call(dev, "I2C_open", 1)
    assert call(dev, "SPI_open", 1) == 0
    with pytest.raises(z.SPIPortNotAvaliableError):
        call(dev, "_checkSPIPinState", 1, ["Idle"])  # its own pins are SPI now
    assert call(dev, "_checkSPIPinState", 1, ["SPI"]) is True
    assert target.request_count(OPEN_I2C) == 0


def test_statuses_and_reply_shapes(usb_attach, call):
    dev, target = usb_attach("PellorK1D")
    target.force_status(CLOSE_I2C, 21, at=1)
    assert call(dev, "I2C_close", 1) == -7005
    target.edit_replies(CLOSE_I2C, append=b"\x00")                    # one byte more: still good
    assert call(dev, "I2C_close", 1) == 0
    target.edit_replies(CLOSE_I2C, truncate_to=1)                     # no status: the short-reply code
    assert call(dev, "I2C_close", 1) == -7028
    target.reset_faults()
    assert call(dev, "I2C_open", 1) == 0
    target.edit_replies(READ_I2C, truncate_to=2)
    with pytest.raises(z.FirmwareOtherError, match="I2C_read"):
        call(dev, "I2C_read", 1, EEPROM, 1)
    target.edit_replies(READ_AND_WRITE_SPI, truncate_to=1)
    assert call(dev, "SPI_open", 1) == 0
    with pytest.raises(z.FirmwareOtherError, match="SPI_readAndWrite"):
        call(dev, "SPI_readAndWrite", 1, [1])


def test_transfers_are_sent_once(usb_attach):
    dev, target = usb_attach("PellorK1D")
    assert dev.I2C_open(1) == 0
    target.delay_replies(1.2)  # longer than one attempt: a re-sendable command would go out again
    assert dev.I2C_read(1, EEPROM, 1, timeout=3) == [0]
    assert target.request_count(READ_I2C) == 1


@pytest.mark.parametrize("op, args, error", [
    ("I2C_write", (1, EEPROM, "abc"), z.InputTypeNotCorrectError),
    ("I2C_read", (1, 0x50, 1.0), z.InputTypeNotCorrectError),
    ("SPI_write", (1, None), z.InputTypeNotCorrectError),
    ("I2C_setClockRate", (3, 0), z.I2CPortNotAvaliableError),   # PellorK1D has I2C 1 and 2
    ("SPI_setPrescaler", (1, 512), z.SPIPrescalerNotVaildError),
])
def test_refusals_send_nothing(usb_attach, call, op, args, error):
    dev, target = usb_attach("PellorK1D")
    with pytest.raises(error):
        call(dev, op, *args)
    assert target.request_counts == {}


def test_pin_maps_and_checks(usb_attach):
    dev, _ = usb_attach("PellorK1AD")  # SPI on port 2 only
    assert dev.I2C_getPinMap() == dev.I2C_dict == {1: [(2, 6), (2, 7)], 2: [(3, 0), (3, 1)]}
    assert dev.SPI_getPinMap() == {2: [(3, 3), (3, 4), (3, 5)]}
    assert dev._I2C_getPinMapPort(2) == [3] and dev._SPI_getPinMapPort(2) == [3]
    assert dev._checkI2CClockRate(3) is True and dev._checkSPIMode(0) is True
    with pytest.raises(z.SPIPortNotAvaliableError):
        dev._checkSPIPort(1)
    assert not hasattr(z.PellorK1AOD, "SPI_open")  # no SPI on that model
