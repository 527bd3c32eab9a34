"""Show how a device synchronises its clock with a time server and synchronise it now.

    python sync_time.py [IP] [--product NAME] [--emulate]
"""

from pyzelvo.examples import Example

SEARCHING = "255.255.255.255"  # server address meaning: search for a time server

example = Example("SNTP", "sync_time", __doc__)
dev = example.open()

server = dev.SNTP_getServerIP()
print("time server:", "searching" if server == SEARCHING else server)
print("in use:", dev.SNTP_getSyncStatus())
print(f"synchronises every {dev.SNTP_getPeriod():g} s")
print("clock before:", dev.Sys_getRTC())
print("sync now:", dev.SNTP_syncNow())  # 0, or a negative code when no server answers
print("clock after: ", dev.Sys_getRTC())

dev.close()
