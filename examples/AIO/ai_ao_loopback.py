"""Wire analog outputs to the analog inputs of the same numbers, write levels and read them back.

    python ai_ao_loopback.py [TARGET] [--product NAME] [--emulate]

With --emulate output channel i is wired to input channel i.
"""

from pyzelvo.examples import Example

LEVELS = {0: 1.0, 1: 2.5, 2: 4.0}  # output channel: volts, within every model's range

example = Example("AIO", "ai_ao_loopback", __doc__)
dev = example.open()
port = example.port

dev.AO_open(port)
dev.AI_open(port)
for channel, volts in LEVELS.items():
    dev.AO_writeOneChannel(port, channel, volts)
measured = dev.AI_readOnDemand(port)
for channel, volts in LEVELS.items():
    print(f"channel {channel}: wrote {volts:+.3f} V, read {measured[channel]:+.4f} V")
dev.AI_close(port)
dev.AO_close(port)

dev.close()
