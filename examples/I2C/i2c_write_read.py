"""Write a few bytes to an I2C memory and read them back.

    python i2c_write_read.py [SERIAL] [--product NAME] [--emulate]

The memory answers at address 0x50; a write's first byte sets its address pointer.
"""

from pyzelvo.examples import Example

MEMORY = 0x50  # 7-bit slave address
CELL = 0x10  # where in the memory the data goes
DATA = list(b"zelvo")
STANDARD_100_KHZ = 0

example = Example("I2C", "i2c_write_read", __doc__)
dev = example.open()
port = example.port

print("open:", dev.I2C_open(port))
print("clock rate:", dev.I2C_setClockRate(port, STANDARD_100_KHZ))
print("write:", dev.I2C_write(port, MEMORY, [CELL, *DATA]))
dev.I2C_write(port, MEMORY, [CELL])  # the pointer back to the first cell written
print("read back:", bytes(dev.I2C_read(port, MEMORY, len(DATA))))
dev.I2C_close(port)

dev.close()
