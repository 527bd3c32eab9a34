"""USB products on a machine without libusb-1.0."""

import ctypes.util
import warnings

import pytest

import pyzelvo as z

pytestmark = pytest.mark.skipif(ctypes.util.find_library("usb-1.0") is not None,
                                reason="a system libusb-1.0 is installed")


@pytest.fixture(autouse=True)
def no_libusb(monkeypatch, tmp_path):
    monkeypatch.setenv("ZELVO_LIBUSB", str(tmp_path / "missing" / "libusb-1.0.so"))


@pytest.mark.parametrize("make", [z.USBDevice, z.PellorK1D, z.PellorK1AOD])
def test_connect_raises_and_warns(make, capsys):
    dev = make()
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        with pytest.raises(z.USBConnectionError):
            dev.connect()
    assert any(isinstance(w.message, z.ExtLibNotFoundWarning) for w in caught)
    assert not dev.connect_status_cmd and dev.serial_num is None and dev.client_cmd is None
    with pytest.raises(z.USBConnectionError):
        dev._sendPacketWithoutReply(122, [])
    dev.close()
    assert "Closed handle" in capsys.readouterr().out


def test_client_and_enumeration_raise_the_connection_error():
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        with pytest.raises(z.USBConnectionError):
            z.USBClient("ZS000001")
        with pytest.raises(z.USBConnectionError):
            z.USBDevice._getAllUSBDevices()
