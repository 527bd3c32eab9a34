"""System hello world over Wi-Fi: connect to a device (command channel on port 7, data channel on
port 1336 of its IP address), say who it is, close it.

    python hello_world.py [IP] [--product NAME] [--emulate]
"""

from pyzelvo.examples import Example

example = Example("System_Wifi", "hello_world", __doc__)
dev = example.open()

print(f"Hello from {dev._getDeviceName()}, serial number {dev.Sys_getSerialNumber()}")
print("Its clock reads", dev.Sys_getRTC())

dev.close()
