"""Find the devices on the local network by broadcast and list each one's model, serial number,
alias, IP and MAC addresses. The search collects answers for a few seconds.

    python find_all_devices.py [--emulate]

With --emulate the search stays on this machine, where three emulated devices answer.
"""

from pyzelvo.examples import Example

example = Example("Find_devices", "find_all_devices", __doc__)
finder = example.open()

devices = finder.Bcst_enumerateNetworkDevices()
print(f"{len(devices)} device(s) answered")
for ip, mask, mac, model, serial, alias, firmware, gateway in devices:
    print(f"  {model:12} {serial:9} {alias or '-':16} {ip:15} {mac}  ({firmware}; mask {mask}, gateway {gateway})")

finder.close()
