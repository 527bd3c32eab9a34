"""Send a text on a UART port and read what comes back: wire TX to RX to try it on hardware.

    python uart_loopback.py [SERIAL] [--product NAME] [--emulate]
"""

from pyzelvo.examples import Example

BAUD = 115200
TEXT = "hello"

example = Example("UART", "uart_loopback", __doc__)
dev = example.open()
port = example.port

print("open:", dev.UART_open(port))
print("baud rate:", dev.UART_setBaudRate(port, BAUD))
dev.UART_read(port, -1)  # whatever waited before
print("write:", dev.UART_write(port, TEXT))
print("read:", repr("".join(dev.UART_read(port, len(TEXT)))))  # waits for the bytes
dev.UART_close(port)

dev.close()
