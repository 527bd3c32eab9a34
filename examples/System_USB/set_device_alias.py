"""Give a device an alias, read it back, then restore the alias it had.

    python set_device_alias.py [SERIAL] [--product NAME] [--emulate]
"""

from pyzelvo.examples import Example

NEW_ALIAS = "bench-left"

example = Example("System_USB", "set_device_alias", __doc__)
dev = example.open()

old = dev.Sys_getDeviceAlias()
status = dev.Sys_setDeviceAlias(NEW_ALIAS)  # 0, or the negative code of the device's error
print(f"Set alias {NEW_ALIAS!r}: status {status}; the device now reports {dev.Sys_getDeviceAlias()!r}")
dev.Sys_setDeviceAlias(old)
print(f"Restored {old!r}")

dev.close()
