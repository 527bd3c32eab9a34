"""The package catalogue: the product classes grouped by connection kind, the default connection
target of each, the port each product's example scripts use per category, the index of the example
scripts, and display labels. Constant data for tools that list or write example scripts; the
drivers never read it.
"""

from __future__ import annotations

from . import _core

PKG_NAME = "pyzelvo"
PKG_FULL_NAME = "Zelvo Python driver"

# --- product classes by connection kind ------------------------------------------------------------

HANDLE_DICT: dict[str, list[str]] = {
    "utilities": ["DeviceFinder"],
    "wireless": ["AerisR3A", "AerisR3AH", "AerisR4A", "AerisR3AOD"],
    "ethernet": ["Koru", "TorvaneST", "Kinora", "TavraA", "TavraA2", "TavraD", "TavraEXD", "TavraI", "TavraIA",
                 "TavraL", "TavraO", "TavraP", "TavraT"],
    "USB": ["PellorK1D", "PellorK1DSNK", "PellorK1AD", "PellorK1AOD", "PellorK1TD", "PellorK1RD", "PellorK1CD"],
}
PRODUCT_LIST: list[str] = [name for group, names in HANDLE_DICT.items() if group != "utilities" for name in names]
HANDLE_LIST: list[str] = [name for names in HANDLE_DICT.values() for name in names]

# Default connection target per group: the first USB device found, or the usual factory addresses.
_USB_TARGET = "default"
_DEFAULT_TARGETS = {"utilities": _USB_TARGET, "wireless": "192.168.5.38", "ethernet": "192.168.1.110",
                    "USB": _USB_TARGET}

# --- example categories, their scripts and the modules a script needs -----------------------------

# Category -> the console examples (scripts examples/<category>/<name>.py), in order.
EXAMPLE_CONSOLE_DICT: dict[str, list[str]] = {
    "System_USB": ["get_pin_mode", "hello_world", "set_and_get_RTC", "get_serial_number", "get_device_alias",
                   "set_device_alias"],
    "System_ETH": ["hello_world", "get_network_settings", "set_ip_address"],
    "System_Wifi": ["hello_world", "read_battery_and_signal", "drive_leds"],
    "Find_devices": ["find_all_devices", "find_networkdevices_blink"],
    "Drive": ["drive_move_relative", "drive_homing", "drive_read_status"],
    "Motion": ["move_single_axis", "home_axis", "linear_interpolation", "circular_interpolation",
               "save_and_load_config"],
    "AI": ["read_on_demand", "read_n_samples", "read_continuous", "read_continuous_async", "save_to_csv"],
    "AI24Bit": ["read_24bit_on_demand", "read_24bit_streaming"],
    "AO": ["write_on_demand", "generate_waveform", "stream_buffer"],
    "AIO": ["ai_ao_loopback"],
    "DIO": ["read_input_pins", "write_output_pins", "toggle_output_port", "read_inputs_async"],
    "CAN": ["send_frames", "receive_frames"],
    "Temperature_TC": ["read_thermocouple"],
    "Temperature_RTD": ["read_rtd"],
    "I2C": ["i2c_write_read"],
    "SPI": ["spi_transfer"],
    "UART": ["uart_loopback", "uart_read_async"],
    "Tutorial": ["single_loop_thread", "single_loop_async", "multiple_loops_thread", "multiple_loops_async"],
    "Relay": ["switch_relays", "read_relay_counters"],
    "PWM": ["generate_pwm", "sweep_duty_cycle_async"],
    "Counter": ["count_pulses", "measure_frequency_async"],
    "Encoder": ["read_encoder", "read_encoder_async"],
    "AHRS": ["read_attitude", "stream_attitude"],
    "DPOT": ["set_resistance_ratio", "set_all_channels"],
    "RTC_AI": ["read_ai_with_timestamp"],
    "SD": ["write_and_read_file", "list_files"],
    "SNTP": ["sync_time"],
}
CATEGORY_CONSOLE_LIST: list[str] = list(EXAMPLE_CONSOLE_DICT)
# The name the wildcard import exports for the category list: the same list.
CATEGORY_LIST: list[str] = CATEGORY_CONSOLE_LIST

EXAMPLE_GUI_DICT: dict[str, list[str]] = {
    "AI": ["AI_integrated_gui"],
    "AO": ["AO_gui"],
    "DO": ["DO_gui"],
    "I2C": ["I2C_gui"],
    "SPI": ["SPI_gui"],
    "System": ["get_device_info_gui", "find_all_devices_gui"],
    "Temperature_RTD": ["RTD_gui"],
    "Temperature_TC": ["TC_gui"],
    "UART": ["UART_gui"],
}

# The modules a category's examples call ("A|B": either will do); an entry of _EXAMPLE_NEEDS
# overrides it for one example. A product runs an example when it has every module named.
_CATEGORY_NEEDS: dict[str, tuple[str, ...]] = {
    "System_USB": ("SystemModule",), "System_ETH": ("SystemModule",), "System_Wifi": ("SystemModule",),
    "Find_devices": ("BroadcastModule",), "Drive": ("TMC5240Module",), "Motion": ("MCX514Module",),
    "AI": ("AIModule",), "AI24Bit": ("AI24BitModule|AI24BitStreamingModule",), "AO": ("AOModule|AOStreamingModule",),
    "AIO": ("AIModule", "AOModule|AOStreamingModule"), "DIO": ("DIOModule",), "CAN": ("CANModule",),
    "Temperature_TC": ("ThermocoupleModule",), "Temperature_RTD": ("ThermalResistanceModule",),
    "I2C": ("I2CModule",), "SPI": ("SPIModule",), "UART": ("UARTModule",), "Tutorial": ("SystemModule",),
    "Relay": ("RelayModule",), "PWM": ("PWMModule",), "Counter": ("CounterModule",), "Encoder": ("EncoderModule",),
    "AHRS": ("AHRSModule",), "DPOT": ("DPOTModule",), "RTC_AI": ("SystemModule", "AIModule"),
    "SD": ("SDCardModule",), "SNTP": ("SNTPModule",),
}
_EXAMPLE_NEEDS: dict[tuple[str, str], tuple[str, ...]] = {
    ("System_ETH", "get_network_settings"): ("NetworkModule",),
    ("System_ETH", "set_ip_address"): ("NetworkModule",),
    ("System_Wifi", "read_battery_and_signal"): ("SystemAnalogModule", "WifiModule"),
    ("System_Wifi", "drive_leds"): ("SystemAnalogModule", "WifiModule"),
    ("AI", "save_to_csv"): ("AIModule", "DataLogger"),
    ("AI24Bit", "read_24bit_streaming"): ("AI24BitStreamingModule",),
    ("AO", "generate_waveform"): ("AOStreamingModule",),
    ("AO", "stream_buffer"): ("AOStreamingModule",),
    ("Relay", "switch_relays"): ("RelayModule", "DIOModule"),
}


def example_needs(category: str, name: str) -> tuple[str, ...]:
    """The modules an example calls; "A|B" means either."""
    return _EXAMPLE_NEEDS.get((category, name), _CATEGORY_NEEDS[category])


# --- per product: default target and the port of each example category ---------------------------

_CAT_PORTS: dict[str, dict[str, int | None]] = {
    "DeviceFinder": {"Find_devices": None},
    "AerisR3A": {"AI": 0, "System_Wifi": None, "Tutorial": None},
    "AerisR3AH": {"AHRS": 0, "SD": None},
    "AerisR4A": {"AI": 0, "System_Wifi": None, "Tutorial": None},
    "AerisR3AOD": {"AI": 0, "AO": 0, "AIO": 0, "DIO": 3, "SD": None, "System_Wifi": None, "Tutorial": None},
    "Koru": {"AI": 1, "AO": 1, "AIO": 1, "DIO": 1, "System_ETH": None, "Tutorial": None},
    "TorvaneST": {"Drive": 0},
    "Kinora": {"Motion": 0},
    "TavraA": {"AI": 0, "RTC_AI": 0, "SNTP": 0, "System_ETH": None, "Tutorial": None},
    "TavraA2": {"AI24Bit": 0, "SNTP": 0, "System_ETH": None, "Tutorial": None},
    "TavraD": {"DIO": 1, "PWM": 0, "SNTP": 0, "System_ETH": None, "Tutorial": None},
    "TavraEXD": {"DIO": 2},
    "TavraI": {"AI24Bit": 0, "SNTP": 0, "System_ETH": None, "Tutorial": None},
    "TavraIA": {"AI24Bit": 0, "SNTP": 0, "System_ETH": None, "Tutorial": None},
    "TavraL": {"Relay": 0},
    "TavraO": {"AO": 0, "SNTP": 0, "System_ETH": None, "Tutorial": None},
    "TavraP": {"DPOT": 0},
    "TavraT": {"Temperature_TC": 1},
    "PellorK1D": {"Counter": 1, "DIO": 1, "Encoder": 0, "I2C": 1, "SPI": 1, "PWM": 0, "UART": 1, "System_USB": None,
                  "Tutorial": None},
    "PellorK1DSNK": {"Counter": 1, "DIO": 0, "Encoder": 0, "PWM": 0, "System_USB": None, "Tutorial": None},
    "PellorK1AD": {"AI": 0, "Counter": 1, "DIO": 1, "Encoder": 0, "I2C": 1, "SPI": 2, "PWM": 0, "UART": 2,
                   "System_USB": None, "Tutorial": None},
    "PellorK1AOD": {"AI": 0, "AO": 0, "AIO": 0, "Counter": 1, "DIO": 1, "Encoder": 0, "I2C": 1, "PWM": 0, "UART": 2,
                    "System_USB": None, "Tutorial": None},
    "PellorK1TD": {"Counter": 1, "DIO": 1, "Encoder": 0, "I2C": 1, "SPI": 2, "PWM": 0, "Temperature_TC": 1,
                   "UART": 2, "System_USB": None, "Tutorial": None},
    "PellorK1RD": {"Temperature_RTD": 1},
    "PellorK1CD": {"CAN": 1},
}


def _group_of(name: str) -> str:
    return next(group for group, names in HANDLE_DICT.items() if name in names)


HANDLE_PROPERTIES: dict[str, dict] = {
    name: {"connect": _DEFAULT_TARGETS[_group_of(name)], "cat_port": dict(_CAT_PORTS[name])} for name in HANDLE_LIST
}
CATEGORY_CONSOLE_DICT: dict[str, list[str]] = {name: list(_CAT_PORTS[name]) for name in HANDLE_LIST}

# --- display labels -------------------------------------------------------------------------------

_GROUP_LABELS = {"utilities": "Utilities", "wireless": "Wifi devices", "ethernet": "Ethernet devices",
                 "USB": "USB devices"}
_EXAMPLE_LABELS = {
    "get_pin_mode": "Get pin modes", "hello_world": "System hello world", "set_and_get_RTC": "Set and get the clock",
    "get_serial_number": "Get the serial number", "get_device_alias": "Get the device alias",
    "set_device_alias": "Set the device alias", "get_network_settings": "Get the network settings",
    "set_ip_address": "Set the IP address", "read_battery_and_signal": "Read battery and signal strength",
    "drive_leds": "Drive the LEDs", "find_all_devices": "Find all devices",
    "find_networkdevices_blink": "Find network devices and blink them", "drive_move_relative": "Relative move",
    "drive_homing": "Homing", "drive_read_status": "Read the drive status", "move_single_axis": "Single-axis move",
    "home_axis": "Home an axis", "linear_interpolation": "Linear interpolation",
    "circular_interpolation": "Circular interpolation", "save_and_load_config": "Save and load the motion settings",
    "read_on_demand": "AI on demand", "read_n_samples": "AI N samples", "read_continuous": "AI continuous",
    "read_continuous_async": "AI continuous (awaitable)", "save_to_csv": "AI to a CSV file",
    "read_24bit_on_demand": "24-bit AI on demand", "read_24bit_streaming": "24-bit AI streaming",
    "write_on_demand": "AO on demand", "generate_waveform": "AO waveform", "stream_buffer": "AO streaming",
    "ai_ao_loopback": "AO to AI loopback", "read_input_pins": "Read input pins", "write_output_pins": "Write output pins",
    "toggle_output_port": "Toggle an output port", "read_inputs_async": "Read inputs (awaitable)",
    "send_frames": "Send CAN frames", "receive_frames": "Receive CAN frames", "read_thermocouple": "Read thermocouples",
    "read_rtd": "Read RTDs", "i2c_write_read": "I2C write and read", "spi_transfer": "SPI transfer",
    "uart_loopback": "UART loopback", "uart_read_async": "UART read (awaitable)",
    "single_loop_thread": "One loop in a thread", "single_loop_async": "One awaitable loop",
    "multiple_loops_thread": "Several loops in threads", "multiple_loops_async": "Several awaitable loops",
    "switch_relays": "Switch relays", "read_relay_counters": "Read relay counters", "generate_pwm": "Generate PWM",
    "sweep_duty_cycle_async": "Sweep the duty cycle (awaitable)", "count_pulses": "Count pulses",
    "measure_frequency_async": "Measure a frequency (awaitable)", "read_encoder": "Read the encoder",
    "read_encoder_async": "Read the encoder (awaitable)", "read_attitude": "Read the attitude",
    "stream_attitude": "Stream the attitude", "set_resistance_ratio": "Set a resistance ratio",
    "set_all_channels": "Set every channel", "read_ai_with_timestamp": "AI with clock time",
    "write_and_read_file": "Write and read a file", "list_files": "List files", "sync_time": "Synchronise the clock",
}

LABEL_DICT: dict[str, str] = {
    **_GROUP_LABELS,
    **dict(_core._MODEL_TEXTS),  # a product's label is its model text
    **{category: category.replace("_", "-") for category in CATEGORY_CONSOLE_LIST},
    **_EXAMPLE_LABELS,
}

# --- text blocks for the head of generated example scripts ----------------------------------------

SCENARIO = "\n".join([
    "# How to run this example:",
    "#   terminal: python <this file>.py   (the script ends with asyncio.run(main()))",
    "#   notebook (Jupyter, IPython): the cell already runs an event loop, so write  await main()",
    "#   IDE: run the file; if its console keeps an event loop running (Spyder, for one), replace",
    "#        asyncio.run(main()) with run_in_loop(main()) (the function below)",
])
SPYDER = "\n".join([
    "def run_in_loop(coroutine):",
    '    """Runs the coroutine to the end, or schedules it where an event loop is already running."""',
    "    try:",
    "        loop = asyncio.get_running_loop()",
    "    except RuntimeError:",
    "        return asyncio.run(coroutine)",
    "    return loop.create_task(coroutine)",
])
NOTICE = "\n".join([
    "# Before you run it: set the serial number (USB devices) or the IP address (Ethernet and Wi-Fi",
    "# devices) and the port below to those of your device, or pass --emulate to try the example",
    "# on the built-in emulator.",
])

__all__ = [
    "PKG_NAME", "PKG_FULL_NAME", "HANDLE_DICT", "PRODUCT_LIST", "HANDLE_LIST", "HANDLE_PROPERTIES",
    "CATEGORY_CONSOLE_DICT", "EXAMPLE_CONSOLE_DICT", "CATEGORY_CONSOLE_LIST", "CATEGORY_LIST", "EXAMPLE_GUI_DICT",
    "LABEL_DICT", "SCENARIO", "SPYDER", "NOTICE", "example_needs",
]
