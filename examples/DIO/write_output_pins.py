"""Open some pins of an output port as digital outputs and drive them high and low.

    python write_output_pins.py [TARGET] [--product NAME] [--emulate]
"""

from pyzelvo.examples import Example

example = Example("DIO", "write_output_pins", __doc__)
dev = example.open()
port = example.port_in(dev.do_dict)  # the catalogue's DIO port if it has outputs
pins = dev.do_dict[port][:3]

dev.DO_openPins(port, pins)
dev.DO_writePins(port, pins, [1, 0, 1])  # one level per pin, in the order of the list
print(f"Port {port}: pins {pins} driven 1, 0, 1")
mask = sum(1 << pin for pin in pins)
dev.DO_writePins(port, mask, 0)  # the same pins as a bitmask, all low
print(f"Port {port}: pins {pins} driven low")
dev.DO_closePins(port, pins)

dev.close()
