"""pyserial URL handler for the UART ports of a Zelvo device (pyserial is optional).

Once pyzelvo is imported (it registers itself with pyserial when pyserial is installed)::

    import pyzelvo, serial
    port = serial.serial_for_url("zelvo://default/1?baudrate=115200", timeout=1.0)
    port.write(b"hello")
    print(port.read(5))

``zelvo://<serial number or default>/<UART port>``; the query may name the product class
(``product=PellorK1AD``, default PellorK1D) and set ``baudrate`` (0..400000). ``device=`` hands over
a product object that is already connected instead; closing the port then leaves it connected.

Line settings map onto the device: bytesize 8 only, parity none/even/odd, stop bits 1, 1.5 or 2.
Writes go out in pieces of at most 50 bytes (the device's limit per write); reads wait on the
received-byte queue (``timeout`` None: until the bytes are there, 0: what is queued now).
"""

from __future__ import annotations

import urllib.parse
from typing import Any

import serial

from . import _core

WRITE_CHUNK = 50                      # bytes per UART_write
MAX_BAUDRATE = 400_000
PARITIES = {serial.PARITY_NONE: 0, serial.PARITY_EVEN: 2, serial.PARITY_ODD: 3}
STOP_BITS = {serial.STOPBITS_ONE: 0, serial.STOPBITS_TWO: 2, serial.STOPBITS_ONE_POINT_FIVE: 3}
DATA_BITS = {serial.EIGHTBITS: 0}
DEFAULT_PRODUCT = "PellorK1D"
QUEUE_SIZE_MAX = 1_000_000            # a take of everything queued


class Serial(serial.SerialBase):
    """A UART port of a Zelvo device as a pyserial port."""

    BAUDRATES = tuple(sorted({b for b in serial.SerialBase.BAUDRATES if b <= MAX_BAUDRATE} | {256000, MAX_BAUDRATE}))
    BYTESIZES = (serial.EIGHTBITS,)
    PARITIES = tuple(PARITIES)
    STOPBITS = tuple(STOP_BITS)

    def __init__(self, *args: Any, device: Any = None, **kwargs: Any) -> None:
        self.device = device
        self._owns_device = device is None
        self.uart_port = 0
        super().__init__(*args, **kwargs)

    # --- opening and closing ----------------------------------------------------------------------

    def open(self) -> None:
        if self._port is None:
            raise serial.SerialException("Port must be configured before it can be used.")
        if self.is_open:
            raise serial.SerialException("Port is already open.")
        serial_num, self.uart_port, product = self._parse_url(self._port)
        if self.device is None:
            self.device = getattr(_core, product)()
            self.device.connect(serial_num, verbose=False)
        try:
            self._status(self.device.UART_open(self.uart_port), "UART_open")
            self.is_open = True
            self._reconfigure_port()
        except BaseException:
            self._release()
            raise

    def _parse_url(self, url: str) -> tuple[str, int, str]:
        parts = urllib.parse.urlsplit(url)
        if parts.scheme != "zelvo":
            raise serial.SerialException(f'expected a URL of the form "zelvo://<serial>/<port>", not {url!r}')
        try:
            port = int(parts.path.strip("/") or "1")
        except ValueError:
            raise serial.SerialException(f"the UART port in {url!r} is not a number") from None
        product = DEFAULT_PRODUCT
        for option, values in urllib.parse.parse_qs(parts.query).items():
            if option == "baudrate":
                self._baudrate = int(values[0])
            elif option == "product":
                product = values[0]
            else:
                raise serial.SerialException(f"unknown option {option!r} in {url!r}")
        return parts.netloc or "default", port, product

    def close(self) -> None:
        if self.is_open:
            self.is_open = False
            if not self.device.killed:
                self.device.UART_close(self.uart_port)
        self._release()

    def _release(self) -> None:
        self.is_open = False
        if self._owns_device and self.device is not None:
            self.device.close()
            self.device = None

    # --- settings ---------------------------------------------------------------------------------

    @staticmethod
    def _status(status: int, what: str) -> None:
        if status != 0:
            raise serial.SerialException(f"{what} failed with code {status}")

    def _reconfigure_port(self) -> None:
        if not self.is_open:
            return
        if not 0 <= self._baudrate <= MAX_BAUDRATE:
            raise ValueError(f"baudrate must be 0..{MAX_BAUDRATE}, not {self._baudrate}")
        for table, value, name in ((DATA_BITS, self._bytesize, "bytesize"), (PARITIES, self._parity, "parity"),
                                   (STOP_BITS, self._stopbits, "stopbits")):
            if value not in table:
                raise ValueError(f"{name} {value!r} is not supported; one of {sorted(table)}")
        dev, port = self.device, self.uart_port
        self._status(dev.UART_setBaudRate(port, int(self._baudrate)), "UART_setBaudRate")
        self._status(dev.UART_setDataBit(port, DATA_BITS[self._bytesize]), "UART_setDataBit")
        self._status(dev.UART_setParity(port, PARITIES[self._parity]), "UART_setParity")
        self._status(dev.UART_setNumStopBit(port, STOP_BITS[self._stopbits]), "UART_setNumStopBit")

    # --- data -------------------------------------------------------------------------------------

    def _require_open(self) -> None:
        if not self.is_open:
            raise serial.PortNotOpenError()

    @property
    def in_waiting(self) -> int:
        self._require_open()
        return self.device._UART_available(self.uart_port)

    def read(self, size: int = 1) -> bytes:
        """Up to `size` bytes: waits at most `timeout` seconds (None: until all are there)."""
        self._require_open()
        if size <= 0:
            return b""
        return self.device._UART_receive(self.uart_port, at_least=size, at_most=size, wait=self._timeout)

    def write(self, data: Any) -> int:
        """Sends the bytes, 50 per UART_write; returns their count."""
        self._require_open()
        payload = serial.to_bytes(data)
        for start in range(0, len(payload), WRITE_CHUNK):
            self._status(self.device.UART_write(self.uart_port, list(payload[start:start + WRITE_CHUNK])),
                         "UART_write")
        return len(payload)

    def flush(self) -> None:
        self._require_open()  # every write has been answered by the device already

    def reset_input_buffer(self) -> None:
        self._require_open()
        self.device._UART_receive(self.uart_port, at_least=0, at_most=QUEUE_SIZE_MAX, wait=0)

    def reset_output_buffer(self) -> None:
        self._require_open()  # nothing is held on the host

    @property
    def out_waiting(self) -> int:
        return 0

    # The device's UART has no modem lines and no break.
    def send_break(self, duration: float = 0.25) -> None:
        self._require_open()

    def _update_break_state(self) -> None:
        self._require_open()

    def _update_rts_state(self) -> None:
        pass

    def _update_dtr_state(self) -> None:
        pass

    @property
    def cts(self) -> bool:
        return True

    @property
    def dsr(self) -> bool:
        return True

    @property
    def ri(self) -> bool:
        return False

    @property
    def cd(self) -> bool:
        return True
