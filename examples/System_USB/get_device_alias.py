"""Read the alias of a device: a name of up to 32 bytes stored in the device.

    python get_device_alias.py [SERIAL] [--product NAME] [--emulate]
"""

from pyzelvo.examples import Example

example = Example("System_USB", "get_device_alias", __doc__)
dev = example.open()

print("Alias:", repr(dev.Sys_getDeviceAlias()))

dev.close()
