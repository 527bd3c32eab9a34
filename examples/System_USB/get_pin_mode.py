"""Show what every pin of a USB device is used for (Idle, DI, DO, UART, I2C, SPI, PWM, ADC, ...).

    python get_pin_mode.py [SERIAL] [--product NAME] [--emulate]
"""

from pyzelvo.examples import Example

PORTS = range(4)  # the Pellor devices have four ports

example = Example("System_USB", "get_pin_mode", __doc__)
dev = example.open()

for port in PORTS:
    modes = dev.Sys_getPinModeInPort(port)
    print(f"Port {port}: " + ", ".join(f"{pin}:{mode}" for pin, mode in enumerate(modes)))

dev.close()
