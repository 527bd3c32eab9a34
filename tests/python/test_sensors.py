"""Thermal inputs, AHRS and the Wi-Fi products' board end to end against the emulator, and what
only the binding decides. (The bytes of every request are checked in
tests/cpp/test_sensor_modules.cpp, the emulated peripherals in tests/cpp/test_sim_sensors.cpp.)"""

import asyncio

import pytest

import pyzelvo as z
from support.helpers import eventually

FROZEN = 1e-9  # device time scale: only clock.advance() moves it


@pytest.mark.parametrize("class_name, rtd", [("TavraT", False), ("PellorK1TD", False), ("PellorK1RD", True)])
def test_thermal_products_have_their_kind(class_name, rtd):
    cls = getattr(z, class_name)
    assert issubclass(cls, z.ThermalResistanceModule if rtd else z.ThermocoupleModule)
    for name in ("_Thermal_readJunction", "_Thermal_setJunctionOn", "Thermal_setOverSampling"):
        assert hasattr(cls, name) != rtd and hasattr(cls, name + "_async") != rtd
    assert hasattr(cls, "Thermal_setType") and hasattr(cls, "Thermal_readSensor_async")


def test_junction_switch_takes_a_real_bool():
    dev = z.TavraT(verbose=False)
    with pytest.raises(z.InputTypeNotCorrectError):
        dev._Thermal_setJunctionOn(1, 0, 1)
    with pytest.raises(z.InputTypeNotCorrectError):
        dev._Thermal_writeOffset(1, 0, "1.5")
    assert dev.Thermal_getPinMap() == {1: [(3, 11)]} and dev._Thermal_getPinMapPort() == [3]


def test_thermocouple_end_to_end(attach, call):
    dev, target = attach("TavraT")
    target.clock.scale = FROZEN
    target.thermal.set_temperature(1, 6, 23.45678)
    assert call(dev, "Thermal_open", 1) == 0 and not target.thermal.port(1)["open"]  # Tavra-T: nothing sent
    assert call(dev, "Thermal_readSensor", 1, 6) == 23.457
    target.thermal.set_temperature(1, 6, 100, drift=0.5)
    target.clock.advance(10)
    assert call(dev, "_Thermal_writeOffset", 1, 6, -1) == 0
    assert call(dev, "Thermal_readSensor", 1, 6) == pytest.approx(104, abs=1e-3)
    assert call(dev, "Thermal_setType", 1, 6, 2) == 0 and target.thermal.channel(1, 6)["type"] == 2
    assert call(dev, "_Thermal_setJunctionOn", 1, 6, False) == 0 and call(dev, "_Thermal_writeJunction", 1, 6, 20) == 0
    assert call(dev, "_Thermal_readJunction", 1, 6) == 20
    target.thermal.set_open_circuit(1, 6)
    assert call(dev, "Thermal_getStatus", 1, 6) == 1


def test_saved_offset_survives_a_reboot(usb_attach):
    dev, target = usb_attach("PellorK1RD")
    assert dev.Thermal_open(2) == 0 and target.thermal.port(2)["open"]
    assert dev._Thermal_saveOffset(2, 1, 1.5) == 0 and dev._Thermal_writeOffset(2, 1, -3) == 0
    assert dev._Thermal_readOffset(2, 1) == -3
    assert dev.Sys_reboot() == 0
    assert dev._Thermal_readOffset(2, 1) == 1.5 and not target.thermal.port(2)["open"]
    assert dev._Thermal_writeOffset(2, 1, 0) == 0 and dev._Thermal_loadOffset(2, 1) == 1.5


def test_orientation_after_a_known_rotation(attach, call):
    dev, target = attach("AerisR3AH")
    target.clock.scale = FROZEN
    assert call(dev, "AHRS_open", 0) == 0
    assert target.ahrs.state()["dt"] == pytest.approx(0.003)
    assert call(dev, "AHRS_start", 0) == 0
    assert eventually(lambda: target.ahrs.state()["started"])  # the start awaits no reply
    target.ahrs.set_angular_rate(0, 0, 0.5)
    target.clock.advance(2)
    assert call(dev, "AHRS_getOrientation", 0) == [0.0, 0.0, 57.2958]
    assert call(dev, "AHRS_getEstimate", 0, 5) == [0.0, 0.0, 0.5, 0.0, 0.0, 9.81]
    assert call(dev, "AHRS_stop", 0) == 0
    target.ahrs.set_angular_rate(1, 0, 0)
    target.clock.advance(2)
    assert call(dev, "AHRS_getOrientation", 0) == [0.0, 0.0, 57.2958]  # stopped: it stays
    assert call(dev, "AHRS_reset", 0) == 0 and call(dev, "AHRS_getOrientation", 0) == [0.0, 0.0, 0.0]


def test_filter_time_constants_in_both_forms(attach):
    dev, target = attach("AerisR3AH")
    assert dev._AHRS_VQF_setTau(0, 4.5, 10) == 0  # blocking, with a time-out like every operation
    assert asyncio.run(dev._AHRS_VQF_setTau_async(0, 2, 8)) == 0
    assert (target.ahrs.state()["tau_acc"], target.ahrs.state()["tau_mag"]) == (2.0, 8.0)
    assert dev._convertModeToMask(9) == 21 and dev._AHRS_setSamplingPeriod(0, 0.01, timeout=1) == 0


def test_wifi_board_end_to_end(attach, call):
    dev, target = attach("AerisR3A")
    assert (dev.battery, dev.thermo, dev.rssi, dev.bandwidth) == (None, None, None, None)
    target.wifi.battery, target.wifi.board_temperature, target.wifi.rssi = 4100, -1.0, -70
    target.wifi.power_good, target.wifi.charging = True, False
    target.wifi.acceleration = (1, 2, 3)
    assert call(dev, "Wifi_readBattery") == 4100 and dev.battery == 4100
    assert call(dev, "_Wifi_readThermo") == -1.0 and dev.thermo == -1.0
    assert call(dev, "Wifi_readRSSI") == -70 and dev.rssi == -70
    assert (call(dev, "Wifi_getPowerGoodStatus"), call(dev, "Wifi_getChargeStatus")) == (1, 0)
    assert call(dev, "Wifi_setRedLED", 5) == 0 and call(dev, "Wifi_setBlueLED", 1) == 0
    assert call(dev, "Wifi_setRedLED", -1) == 0 and target.wifi.leds == (0, 0, 1)
    assert call(dev, "Wifi_resetLED") == 0 and target.wifi.leds == (0, 0, 0)
    assert call(dev, "_Wifi_setBandwidth", 2) == 0 and call(dev, "Wifi_getWifiBandWidth") == 1  # sent as HT20
    assert call(dev, "_setWifiConfiguration", 5, 300) == 0 and call(dev, "Wifi_getConfiguration") == [5, 300]
    assert call(dev, "_Wifi_setAP") == 0 and target.wifi.ap_mode
    assert call(dev, "_Wifi_resetAIBuffer") == 0 and target.wifi.ai_buffer_resets == 1
    assert dev._Wifi_readAcceleration() == [1, 2, 3]
    assert asyncio.run(dev._Wifi_readAccleration_async()) == [1, 2, 3]  # the awaitable keeps its spelling


@pytest.mark.parametrize("args", [(0,), (3,), ("1",)])
def test_bandwidth_refused_before_sending(args):
    error = z.InputTypeNotCorrectError if isinstance(args[0], str) else z.InputDataNotInRangeError
    with pytest.raises(error):
        z.AerisR3A(verbose=False)._Wifi_setBandwidth(*args)


def test_firmware_status_of_the_access_point_switch_is_returned(attach):
    dev, target = attach("AerisR4A")
    target.force_status(112, 13, 0)
    assert dev._Wifi_setAP() == -7003  # the device acted; its status says otherwise
