"""System hello world: connect to a USB device by its serial number, say who it is, close it.

    python hello_world.py [SERIAL] [--product NAME] [--emulate]

Without SERIAL the first device of the family found on USB is used.
"""

from pyzelvo.examples import Example

example = Example("System_USB", "hello_world", __doc__)
dev = example.open()

print(f"Hello from {dev._getDeviceName()}, serial number {dev.Sys_getSerialNumber()}")
print("Driver information:", " / ".join(dev.Sys_getDriverInfo()))

dev.close()
