"""System hello world over Ethernet: connect to a device by its IP address, say who it is and what
its clock reads, close it.

    python hello_world.py [IP] [--product NAME] [--emulate]
"""

from pyzelvo.examples import Example

example = Example("System_ETH", "hello_world", __doc__)
dev = example.open()

model, mode, version = dev.Sys_getDriverInfo()
print(f"Hello from {dev._getDeviceName()} ({model}, firmware {version}, {mode} mode)")
print(f"Serial number {dev.Sys_getSerialNumber()}, alias {dev.Sys_getDeviceAlias()!r}, clock {dev.Sys_getRTC()}")

dev.close()
