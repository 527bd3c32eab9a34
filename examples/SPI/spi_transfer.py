"""Exchange bytes with an SPI device: every byte written clocks one byte in.

    python spi_transfer.py [SERIAL] [--product NAME] [--emulate]

With --emulate the port is a loopback: what is written comes back.
"""

from pyzelvo.examples import Example

MODE_0 = 0  # CPOL 0, CPHA 0
PRESCALER = 16  # clock divider
DATA = [0x9F, 0x01, 0x02, 0x03]

example = Example("SPI", "spi_transfer", __doc__)
dev = example.open()
port = example.port

print("open:", dev.SPI_open(port))
print("mode:", dev.SPI_setMode(port, MODE_0))
print("prescaler:", dev.SPI_setPrescaler(port, PRESCALER))
print(f"wrote {DATA}, read {dev.SPI_readAndWrite(port, DATA)}")
dev.SPI_close(port)

dev.close()
