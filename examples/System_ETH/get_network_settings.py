"""Read a device's network settings: IP address, subnet mask, gateway and MAC address.

    python get_network_settings.py [IP] [--product NAME] [--emulate]
"""

from pyzelvo.examples import Example

example = Example("System_ETH", "get_network_settings", __doc__)
dev = example.open()

ip, mask = dev.Net_getIPAddrAndSubmask()
print(f"IP address {ip}, subnet mask {mask}")
print("Gateway", dev.Net_getGateway())
print("MAC address", dev.Net_getMACAddr())
print("Kept on the object:", dev.ip_addr, dev.subnet_mask, dev.gateway, dev.mac_addr)

dev.close()
