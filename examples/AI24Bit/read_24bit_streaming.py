"""Stream N samples of the eight 24-bit channels at a fixed rate.

    python read_24bit_streaming.py [IP] [--product NAME] [--emulate]
"""

from pyzelvo.examples import Example

N_SAMPLES_MODE = 1
NUM_SAMPLES = 400
RATE = 2000

example = Example("AI24Bit", "read_24bit_streaming", __doc__)
dev = example.open()
port = example.port

dev.AI_open(port)
dev.AI_setMode(port, N_SAMPLES_MODE)
dev.AI_setNumSamples(port, NUM_SAMPLES)
dev.AI_setSamplingRate(port, RATE)
dev.AI_openStreaming(port)
dev.AI_startStreaming(port)
rows = []
while len(rows) < NUM_SAMPLES:
    batch = dev.AI_readStreaming(port, NUM_SAMPLES - len(rows), 1.0)
    if not batch:
        break
    rows += batch
print(f"{len(rows)} samples; channel 0 between {min(r[0] for r in rows):+.6f} V and {max(r[0] for r in rows):+.6f} V")
dev.AI_closeStreaming(port)
dev.AI_close(port)

dev.close()
