"""The serial-bus part of the tour: a Pellor-K1-CD and a Pellor-K1-AD on the emulator's USB.

An I2C memory written and read back, an SPI loopback, a UART loopback at 115200 baud, and CAN
frames sent and received through python-can's ``can.Bus(interface="zelvo")`` and logged to an .asc
file (skipped, saying so, when python-can is not installed).
"""

from __future__ import annotations

import os
import tempfile
from pathlib import Path

import pyzelvo
from pyzelvo import sim

EEPROM = 0x50
UART_BAUD = 115200
CAN_BITRATE = 500_000
CAN_FRAMES = 5
READ_WAIT = 2.0  # seconds


def use_emulated_usb() -> None:
    """Makes this process's driver see the emulator's USB devices (and no real ones)."""
    os.environ["ZELVO_LIBUSB"] = sim.usb_library_path()


def i2c_spi_uart(dev: pyzelvo.Device) -> None:
    name = dev._getDeviceName()
    dev.I2C_open(1)
    dev.I2C_write(1, EEPROM, [0x10, *b"zelvo"])  # the memory's pointer, then the data
    dev.I2C_write(1, EEPROM, [0x10])
    print(f"{name:12} I2C memory at 0x{EEPROM:02X}: wrote b'zelvo', read back {bytes(dev.I2C_read(1, EEPROM, 5))!r}")
    dev.I2C_close(1)
    spi_port = next(iter(dev.SPI_getPinMap()))
    dev.SPI_open(spi_port)
    print(f"{'':12} SPI {spi_port} loopback: [1, 2, 3] -> {dev.SPI_readAndWrite(spi_port, [1, 2, 3])}")
    dev.SPI_close(spi_port)
    dev.UART_open(1)
    dev.UART_setBaudRate(1, UART_BAUD)
    dev.UART_write(1, "hello")
    print(f"{'':12} UART 1 loopback at {UART_BAUD} baud: {''.join(dev.UART_read(1, 5))!r}")
    dev.UART_close(1)


def can_through_python_can(dev: pyzelvo.Device, log_dir: Path) -> None:
    try:
        import can
    except ImportError:
        print(f"{'':12} CAN through python-can: skipped (pip install python-can)")
        return
    from pyzelvo.can_bus import ZelvoBus

    log = log_dir / "zelvo_can.asc"
    installed = "zelvo" in can.interfaces.BACKENDS  # the entry point of an installed pyzelvo
    bus = can.Bus(interface="zelvo", device=dev, bitrate=CAN_BITRATE) if installed else ZelvoBus(
        device=dev, bitrate=CAN_BITRATE)
    with bus:
        logger = can.Logger(str(log))
        for i in range(CAN_FRAMES):
            bus.send(can.Message(arbitration_id=0x100 + i, data=[i, i * 2], is_extended_id=False))
        received = [bus.recv(timeout=READ_WAIT) for _ in range(CAN_FRAMES)]
        for msg in received:
            if msg is not None:
                logger(msg)
        logger.stop()
    ids = [hex(m.arbitration_id) for m in received if m is not None]
    print(f"{'':12} CAN at {CAN_BITRATE // 1000} kbit/s through can.Bus: sent {CAN_FRAMES}, received {ids}")
    print(f"{'':12} logged to {log}")


def tour_buses(emu: sim.Emulator) -> None:
    use_emulated_usb()
    targets = {name: emu.add(name, usb=True) for name in ("PellorK1CD", "PellorK1AD")}
    log_dir = Path(tempfile.mkdtemp(prefix="zelvo-tour-"))
    for name, target in targets.items():
        dev = getattr(pyzelvo, name)()
        dev.connect(target.serial_number, verbose=False)
        try:
            i2c_spi_uart(dev)
            if hasattr(dev, "CAN_open"):
                can_through_python_can(dev, log_dir)
        finally:
            dev.close()
