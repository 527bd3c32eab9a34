"""Network configuration, SNTP and the SD card end to end against the emulator in both families,
and what only the binding decides: argument types, defaults, keywords, result shapes. (The bytes
of every request, the decoding of every reply and the range checks are in
tests/cpp/test_network_services.cpp.)"""

import datetime

import pytest

import pyzelvo as z

SET_GATEWAY, SET_IP, SNTP_SET_SERVER_IP, SNTP_SET_SYNC_PERIOD, SD_OPEN_FILE, SD_WRITE_FILE, SD_READ_FILE = (
    125, 244, 2627, 2629, 2244, 2245, 2246)


def short_mac(mac):
    return ":".join(f"{int(field, 16):x}" for field in mac.split(":"))


@pytest.mark.parametrize("product", ["TavraA", "AerisR3A"])
def test_network_settings(attach, call, product):
    dev, target = attach(product)
    net = target.network
    assert dev.ip_addr == target.host  # before a read: the address connected to
    assert call(dev, "Net_getIPAddrAndSubmask") == [net.ip, net.subnet_mask] == [dev.ip_addr, dev.subnet_mask]
    assert call(dev, "Net_getGateway") == net.gateway == dev.gateway
    assert call(dev, "Net_getMACAddr") == short_mac(net.mac) == dev.mac_addr
    assert call(dev, "Net_setIPAddrAndSubmask", "10.1.2.3") == 0
    assert (net.ip, net.subnet_mask) == ("10.1.2.3", "255.255.255.0")  # the default mask
    assert call(dev, "Sys_setIPAddrAndSubmask", "10.1.2.4", "255.255.0.0") == 0
    assert call(dev, "Sys_getIPAddrAndSubmask") == ["10.1.2.4", "255.255.0.0"]
    assert call(dev, "_setGateway", "10.1.0.1") == 0 and call(dev, "Sys_getGateway") == "10.1.0.1"
    assert call(dev, "_setMACAddr", "2:0:0:0:0:9") == 0 and call(dev, "Sys_getMACAddr") == "2:0:0:0:0:9"
    assert call(dev, "Net_setIPAddrAndSubmask", "10.1.2.5", "255.0.255.0") == -7024  # refused: not a mask
    assert net.ip == "10.1.2.4"


def test_subnet_mask_by_keyword(attach):
    dev, target = attach("TavraD")
    assert dev.Net_setIPAddrAndSubmask(ip_addr="10.0.0.2", subnet_mask="255.0.0.0", timeout=2) == 0
    assert target.network.subnet_mask == "255.0.0.0"


def test_sntp(attach, call):
    dev, target = attach("TavraA")
    assert call(dev, "SNTP_getServerIP") == "255.255.255.255"  # searching
    assert call(dev, "SNTP_getSyncStatus") == target.network.gateway
    assert call(dev, "SNTP_setServerIP", "10.0.0.7") == 0 and target.sntp.server == "10.0.0.7"
    assert call(dev, "SNTP_getSyncStatus") == "10.0.0.7"
    assert call(dev, "SNTP_setPeriod", 60.5) == 0 and call(dev, "SNTP_getPeriod") == 60.5 == target.sntp.period
    assert call(dev, "SNTP_setPeriod", 0) == -7027
    assert dev.Sys_setRTC(2001, 2, 3, 4, 5, 6) == 0
    year = datetime.datetime.now(datetime.timezone.utc).year
    assert call(dev, "SNTP_syncNow") == 0 and int(dev.Sys_getRTC()[:4]) >= year
    target.sntp.unreachable = True
    assert call(dev, "SNTP_syncNow") == -7025 and call(dev, "SNTP_getSyncStatus") == "0.0.0.0"
    assert target.sntp.syncs == 1


def test_sd_card(attach, call):
    dev, target = attach("AerisR3AH")
    assert call(dev, "SD_openFile", "log.txt", 0) == -7000  # not mounted yet
    assert call(dev, "_SD_open") == 0 and call(dev, "SD_getStorage") == target.sd.capacity == 16384
    assert call(dev, "SD_openFile", "log.txt", 0) == 0
    assert call(dev, "SD_writeFile", "h\xe9llo ") == 0
    assert call(dev, "SD_writeFile", ["w", "o"]) == 0
    assert call(dev, "SD_readFile", 1) == -7000  # the file is open to write: a code, not contents
    assert call(dev, "SD_closeFile") == 0
    assert target.sd.files == {"log.txt": b"h\xe9llo wo"}
    assert call(dev, "SD_openFile", "log.txt", 1) == 0 and target.sd.open_file == ("log.txt", 1, 0)
    assert call(dev, "SD_readFile", 4) == ["h", "\xe9", "l", "l"]
    assert call(dev, "SD_readFile", 254) == ["o", " ", "w", "o"]
    assert call(dev, "SD_readFile", 0) == []
    assert call(dev, "SD_closeFile") == 0 and call(dev, "_SD_close") == 0


@pytest.mark.parametrize(
    "product, op, args, code",
    [
        ("TavraA", "_setGateway", (17,), SET_GATEWAY),
        ("TavraA", "Net_setIPAddrAndSubmask", ("10.0.0.1", 24), SET_IP),
        ("TavraA", "SNTP_setServerIP", (12,), SNTP_SET_SERVER_IP),
        ("TavraA", "SNTP_setPeriod", ("1",), SNTP_SET_SYNC_PERIOD),
        ("AerisR3AH", "SD_openFile", (17, 0), SD_OPEN_FILE),
        ("AerisR3AH", "SD_writeFile", (17,), SD_WRITE_FILE),
        ("AerisR3AH", "SD_writeFile", ([1],), SD_WRITE_FILE),
        ("AerisR3AH", "SD_readFile", ("4",), SD_READ_FILE),
    ],
)
def test_wrong_argument_types_send_nothing(attach, call, product, op, args, code):
    dev, target = attach(product)
    with pytest.raises(z.InputTypeNotCorrectError):
        call(dev, op, *args)
    assert target.request_count(code) == 0


def test_the_modules_of_each_product():
    assert issubclass(z.TavraA, z.SNTPModule) and not issubclass(z.TavraA, z.SDCardModule)
    assert issubclass(z.AerisR3AOD, z.SDCardModule) and issubclass(z.AerisR3AOD, z.NetworkModule)
    assert not hasattr(z.PellorK1D, "Net_getMACAddr")
    assert hasattr(z.DeviceFinder, "Bcst_checkMACAndRing_async")
