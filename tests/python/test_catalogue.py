"""The package catalogue: product groups and lists, default targets, the example index and labels,
and what `from pyzelvo import *` brings."""

import pyzelvo as z
from pyzelvo import catalogue

WILDCARD = z.HANDLE_LIST + ["PKG_NAME", "PKG_FULL_NAME", "__version__", "HANDLE_LIST", "PRODUCT_LIST",
                            "CATEGORY_LIST", "Error", "ZelvoWarning", "printGenericError"]


def test_product_and_handle_lists():
    assert len(z.PRODUCT_LIST) == 24 and "DeviceFinder" not in z.PRODUCT_LIST
    assert len(z.HANDLE_LIST) == 25 and z.HANDLE_LIST[0] == "DeviceFinder"
    assert set(z.HANDLE_LIST) - set(z.PRODUCT_LIST) == {"DeviceFinder"}
    assert "KORULite" not in z.HANDLE_LIST
    assert z.PRODUCT_LIST == [n for key in ("wireless", "ethernet", "USB") for n in z.HANDLE_DICT[key]]
    assert all(hasattr(z, name) for name in z.HANDLE_LIST)
    assert (z.PKG_NAME, z.PKG_FULL_NAME) == ("pyzelvo", "Zelvo Python driver")


def test_every_handle_has_properties_and_a_label():
    for name in z.HANDLE_LIST:
        assert set(z.HANDLE_PROPERTIES[name]) == {"connect", "cat_port"}
        assert z.LABEL_DICT[name]
        assert z.CATEGORY_CONSOLE_DICT[name] == list(z.HANDLE_PROPERTIES[name]["cat_port"])
        assert set(z.CATEGORY_CONSOLE_DICT[name]) <= set(z.CATEGORY_CONSOLE_LIST)
    for name in z.PRODUCT_LIST:  # a product's label is its model text
        assert z.LABEL_DICT[name] == getattr(z, name).__doc__.split(" (")[0]
    targets = {group: {z.HANDLE_PROPERTIES[n]["connect"] for n in names} for group, names in z.HANDLE_DICT.items()}
    assert targets == {"utilities": {"default"}, "USB": {"default"}, "ethernet": {"192.168.1.110"},
                       "wireless": {"192.168.5.38"}}


def test_documented_rows_and_labels():
    ports = {name: z.HANDLE_PROPERTIES[name]["cat_port"] for name in z.HANDLE_LIST}
    assert ports["TavraA"] == {"AI": 0, "RTC_AI": 0, "SNTP": 0, "System_ETH": None, "Tutorial": None}
    assert ports["PellorK1AD"] == {"AI": 0, "Counter": 1, "DIO": 1, "Encoder": 0, "I2C": 1, "SPI": 2, "PWM": 0,
                                   "UART": 2, "System_USB": None, "Tutorial": None}
    assert ports["AerisR3AOD"] == {"AI": 0, "AO": 0, "AIO": 0, "DIO": 3, "SD": None, "System_Wifi": None,
                                   "Tutorial": None}
    assert ports["Koru"] == {"AI": 1, "AO": 1, "AIO": 1, "DIO": 1, "System_ETH": None, "Tutorial": None}
    assert (ports["TavraL"], ports["TavraP"], ports["TavraEXD"], ports["DeviceFinder"]) == (
        {"Relay": 0}, {"DPOT": 0}, {"DIO": 2}, {"Find_devices": None})
    assert ports["AerisR3AH"] == {"AHRS": 0, "SD": None}
    assert len(z.CATEGORY_CONSOLE_LIST) == 27 and z.CATEGORY_LIST == z.CATEGORY_CONSOLE_LIST
    assert z.EXAMPLE_CONSOLE_DICT["Tutorial"] == ["single_loop_thread", "single_loop_async", "multiple_loops_thread",
                                                   "multiple_loops_async"]
    labels = {"wireless": "Wifi devices", "ethernet": "Ethernet devices", "USB": "USB devices",
              "DeviceFinder": "Device finder", "TavraEXD": "Tavra-EX-D", "PellorK1DSNK": "Pellor-K1-D-SNK",
              "TorvaneST": "Torvane-ST", "hello_world": "System hello world", "Temperature_TC": "Temperature-TC"}
    assert {key: z.LABEL_DICT[key] for key in labels} == labels
    examples = {name for names in z.EXAMPLE_CONSOLE_DICT.values() for name in names}
    assert (set(z.HANDLE_DICT) | set(z.CATEGORY_CONSOLE_LIST) | examples) <= set(z.LABEL_DICT)


def test_every_listed_example_has_a_product_to_run_on():
    from pyzelvo.examples import products_for

    for category, names in z.EXAMPLE_CONSOLE_DICT.items():
        for name in names:
            assert products_for(category, name), f"{category}/{name}"


def test_script_head_texts_are_text_blocks():
    for block in (catalogue.SCENARIO, catalogue.SPYDER, catalogue.NOTICE):
        assert isinstance(block, str) and block.count("\n") >= 2
    compile(catalogue.SPYDER, "SPYDER", "exec")  # the function is valid Python


def test_wildcard_import_brings_exactly_the_documented_names():
    namespace: dict = {}
    exec("from pyzelvo import *", namespace)
    assert sorted(k for k in namespace if k != "__builtins__") == sorted(WILDCARD)
    assert z.__all__ == WILDCARD
    assert namespace["Error"] is z.Error and namespace["CATEGORY_LIST"] is z.CATEGORY_CONSOLE_LIST
