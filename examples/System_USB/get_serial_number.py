"""Read the serial number of a USB device (the text to pass to connect() for that device).

    python get_serial_number.py [SERIAL] [--product NAME] [--emulate]
"""

from pyzelvo.examples import Example

example = Example("System_USB", "get_serial_number", __doc__)
dev = example.open()

print("Serial number:", dev.Sys_getSerialNumber())

dev.close()
