"""Product classes: device base, model text, module families and construction data."""

import pytest

import pyzelvo as z

ETH, USB, WIFI = z.ETHDevice, z.USBDevice, z.WifiDevice
PRODUCTS = {
    "AerisR3AH": (WIFI, "Aeris-R3-AH"), "AerisR3A": (WIFI, "Aeris-R3-A"), "AerisR4A": (WIFI, "Aeris-R4-A"),
    "AerisR3AOD": (WIFI, "Aeris-R3-AOD"), "Koru": (ETH, "Koru"), "TorvaneST": (ETH, "Torvane-ST"),
    "Kinora": (ETH, "Kinora"), "TavraA2": (ETH, "Tavra-A2"), "TavraA": (ETH, "Tavra-A"), "TavraD": (ETH, "Tavra-D"),
    "TavraEXD": (ETH, "Tavra-EX-D"), "TavraI": (ETH, "Tavra-I"), "TavraIA": (ETH, "Tavra-IA"),
    "TavraL": (ETH, "Tavra-L"), "TavraO": (ETH, "Tavra-O"), "TavraP": (ETH, "Tavra-P"), "TavraT": (ETH, "Tavra-T"),
    "PellorK1D": (USB, "Pellor-K1-D"), "PellorK1AD": (USB, "Pellor-K1-AD"), "PellorK1TD": (USB, "Pellor-K1-TD"),
    "PellorK1CD": (USB, "Pellor-K1-CD"), "PellorK1RD": (USB, "Pellor-K1-RD"),
    "PellorK1DSNK": (USB, "Pellor-K1-D-SNK"), "PellorK1AOD": (USB, "Pellor-K1-AOD"),
    "DeviceFinder": (z.BroadcastDevice, "Device finder"),
}


@pytest.fixture
def make():
    made = []

    def construct(name):
        made.append(getattr(z, name)())
        return made[-1]

    yield construct
    for dev in made:
        dev.close()


@pytest.mark.parametrize("name, base, model", [(n, b, m) for n, (b, m) in PRODUCTS.items()])
def test_product_classes(make, capsys, name, base, model):
    dev = make(name)
    assert isinstance(dev, base) and isinstance(dev, z.Device)
    assert dev._getDeviceName() == model == z.LABEL_DICT[name]
    assert capsys.readouterr().out == f"Opened handle ({model})\n" * (2 if base is WIFI else 1)
    assert isinstance(dev, z.Packet) and isinstance(dev, z.Packet_async)
    if name != "DeviceFinder":
        assert all(isinstance(dev, c) for c in (z.SystemModule, z.SystemModule_async, z.SystemBased))
        assert callable(dev.Sys_getSerialNumber) and callable(dev.Sys_getSerialNumber_async)


def test_koru_lite():
    lite = z.KORULite()
    assert lite._getDeviceName() == "Koru-Lite" == z.LABEL_DICT["KORULite"]
    assert not isinstance(lite, z.Device) and not isinstance(lite, z.SystemModule)


@pytest.mark.parametrize("name, module, has", [
    ("TavraA", "AIModule", True), ("TavraA", "DIOModule", False), ("TavraA", "SNTPModule", True),
    ("PellorK1AOD", "SPIModule", False), ("PellorK1AOD", "AOStreamingModule", True),
    ("PellorK1D", "SPIModule", True), ("TorvaneST", "DataLogger", False), ("TorvaneST", "TMC5240Module", True),
    ("Koru", "MCX514Module", True), ("AerisR3AH", "AHRSModule", True), ("AerisR3A", "AHRSModule", False),
])
def test_module_families(make, name, module, has):
    dev = make(name)
    assert isinstance(dev, getattr(z, module)) is has
    assert isinstance(dev, getattr(z, module + "_async")) is has


R16 = 10 / 32768
PINS8 = list(range(8))


@pytest.mark.parametrize("name, attrs", [
    ("TavraA", dict(ai_dict={0: [(1, 11)]}, ai_max_rate=20000, ai_ratio=R16, ai_num_channels=8, ai_variable=False)),
    ("AerisR4A", dict(ai_dict={0: [(1, 5)]}, ai_max_rate=20000, ai_variable=True)),
    ("AerisR3AH", dict(ai_max_rate=10000, ahrs_dict={0: [(1, 5)]})),
    ("AerisR3AOD", dict(ao_dict={0: [(3, 11)]}, ao_volt_min=-10, ao_volt_max=10, ao_channel=8, ao_rate=15000,
                        di_dict={2: PINS8}, do_dict={3: PINS8}, dio_num_pins_per_port=8)),
    ("Koru", dict(ai_dict={p: [(1, 5)] for p in (0, 1, 3)}, ai_max_rate=12000, motion_dict={p: [(1, 5)] for p in (0, 1, 3)},
                  di_dict={p: list(range(12)) for p in range(8)}, dio_num_pins_per_port=12, ai_variable=False)),
    ("TavraA2", dict(ai_dict={0: [(1, 11)]}, ai_max_rate=10000, ai_ratio=1.3904889343373708e-6)),
    ("TavraD", dict(di_dict={1: PINS8}, do_dict={0: list(range(6))}, dio_num_pins_per_port=8)),
    ("TavraEXD", dict(di_dict={2: PINS8, 3: PINS8}, do_dict={0: PINS8, 1: PINS8})),
    ("TavraIA", dict(ai_dict={0: [(1, 11)], 1: [(1, 11)]})),
    ("TavraT", dict(thermal_dict={1: [(3, 11)]})),
    ("TorvaneST", dict(tvst_dict={0: [(1, 5)]})),
    ("PellorK1D", dict(di_dict={0: PINS8, 1: list(range(6)), 2: [0, 1, 2, 3, 6, 7], 3: list(range(6))},
                       uart_dict={1: [(0, 3), (0, 4)], 2: [(1, 2), (1, 3)]}, I2C_dict={1: [(2, 6), (2, 7)], 2: [(3, 0), (3, 1)]},
                       SPI_dict={1: [(2, 1), (2, 2), (2, 3)], 2: [(3, 3), (3, 4), (3, 5)]})),
    ("PellorK1CD", dict(do_dict={0: PINS8, 1: [0, 1, 2, 3], 2: [6, 7], 3: list(range(6))},
                        can_dict={1: [(1, 4), (1, 5), (2, 0), (2, 1), (2, 2), (2, 3)]})),
    ("PellorK1RD", dict(thermal_dict={1: [(1, 5), (2, 0), (2, 1), (2, 2), (2, 3)], 2: [(1, 5), (2, 0), (3, 3), (3, 4), (3, 5)]})),
    ("PellorK1DSNK", dict(di_dict={0: PINS8, 1: list(range(6))}, do_dict={2: PINS8, 3: [0, 1, 2, 3]})),
    ("PellorK1AOD", dict(ai_max_rate=16000, ao_dict={0: [(1, 4)]}, ao_volt_min=0, ao_volt_max=5, ao_rate=16000,
                         di_dict={0: PINS8, 1: [0, 1, 2, 3], 2: [6, 7], 3: [0, 1]})),
])
def test_construction_data(make, name, attrs):
    dev = make(name)
    assert {key: getattr(dev, key) for key in attrs} == attrs


def test_construction_data_cannot_be_changed_by_accident(make):
    dev = make("TavraD")
    dev.di_dict[1].append(99)
    assert dev.di_dict == {1: PINS8}
    assert not hasattr(dev, "ai_dict") and not hasattr(make("TavraP"), "di_dict")


# --- members that send nothing: named arguments like every operation, None refused as a type -------

@pytest.mark.parametrize("name, member, kwargs, expected", [
    ("TavraA", "_checkAIPort", dict(port=0), True),
    ("TavraI", "_checkAIPort", dict(port=0), True),
    ("Koru", "_checkKORUSlot", dict(slot=1), None),
    ("TavraEXD", "_checkDIPortAndPin", dict(port=2, pin=[0, 7]), True),
    ("TavraA", "_ckeckAISamplingRate", dict(port=0, sampling_rate=20000), True),
    ("Koru", "_AI_changePortToIndex", dict(port=3, chip_select=1), 7),
    ("Koru", "_AI_changePortToIndex", dict(port=2, chip_select=0), None),
    ("TavraEXD", "_getPinIndexInInt", dict(pin=[0, 5]), 33),
])
def test_local_members_take_keywords(make, name, member, kwargs, expected):
    assert getattr(make(name), member)(**kwargs) == expected


@pytest.mark.parametrize("name, member, args", [
    ("TavraA", "_checkAIPort", (None,)),
    ("TavraI", "_checkAIPort", (None,)),
    ("Koru", "_checkKORUSlot", (None,)),
    ("TavraA", "_ckeckAISamplingRate", (0, None)),
    ("TavraEXD", "_getPinIndexInList", (None,)),
    ("TavraA", "Logger_openFile", (None,)),
    ("TavraA", "_Logger_close", (None,)),
])
def test_local_members_refuse_none_with_the_library_error(make, name, member, args):
    with pytest.raises(z.InputTypeNotCorrectError):
        getattr(make(name), member)(*args)
