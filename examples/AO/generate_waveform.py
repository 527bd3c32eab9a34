"""Let the device generate a sine on one output and a triangle on another, and look at what the
outputs put out while it runs.

    python generate_waveform.py [TARGET] [--product NAME] [--emulate]
"""

import time

from pyzelvo.examples import Example

CONTINUOUS = 2  # mode: run until stopped
RATE = 10000.0  # samples per second and channel
SINE, TRIANGLE = 3, 2  # forms
SINE_CHANNEL, TRIANGLE_CHANNEL = 0, 1
STATES = {0: "idle", 1: "stand-by", 2: "running"}

example = Example("AO", "generate_waveform", __doc__)
dev = example.open()
port = example.port

mode, rate = dev.AO_openStreaming(port)
print(f"generator open (mode {mode}, {rate:g} Hz)")
dev.AO_setMode(port, CONTINUOUS)
dev.AO_setSamplingRate(port, RATE)
dev.AO_setEnableChannels(port, [SINE_CHANNEL, TRIANGLE_CHANNEL])
dev.AO_setForm(port, SINE_CHANNEL, SINE)
dev.AO_setFormParam(port, SINE_CHANNEL, amplitude=2.0, offset=2.5, frequency=5)
dev.AO_setForm(port, TRIANGLE_CHANNEL, TRIANGLE)
dev.AO_setFormParam(port, TRIANGLE_CHANNEL, amplitude=1.0, offset=2.0, frequency=2)
dev.AO_startStreaming(port)  # no reply is awaited
for _ in range(5):
    time.sleep(0.05)
    values = dev.AO_getValues(port)
    print(f"sine {values[SINE_CHANNEL]:6.3f} V   triangle {values[TRIANGLE_CHANNEL]:6.3f} V")
print("generator:", STATES.get(dev._AO_getState(port), "?"))
dev.AO_closeStreaming(port)

dev.close()
