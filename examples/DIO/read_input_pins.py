"""Open some pins of an input port as digital inputs, read their levels, close them.

    python read_input_pins.py [TARGET] [--product NAME] [--emulate]
"""

from pyzelvo.examples import Example

example = Example("DIO", "read_input_pins", __doc__)
dev = example.open()
port = example.port_in(dev.di_dict)  # the catalogue's DIO port if it has inputs
pins = dev.di_dict[port][:4]

dev.DI_openPins(port, pins)  # checks the pins' modes first; nothing to do on fixed-direction models
levels = dev.DI_readPins(port, pins)
for pin, level in zip(pins, levels):
    print(f"Port {port} pin {pin}: {'high' if level else 'low'}")
dev.DI_closePins(port, pins)

dev.close()
