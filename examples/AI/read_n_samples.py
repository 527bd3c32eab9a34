"""Acquire exactly N samples of every channel at a fixed rate (N-samples mode), then stop.

    python read_n_samples.py [TARGET] [--product NAME] [--emulate]
"""

from pyzelvo.examples import Example

N_SAMPLES_MODE = 1
NUM_SAMPLES = 500
RATE = 1000  # samples per second and channel

example = Example("AI", "read_n_samples", __doc__)
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
    batch = dev.AI_readStreaming(port, NUM_SAMPLES - len(rows), 1.0)  # wait up to 1 s per batch
    if not batch:
        break
    rows += batch
print(f"{len(rows)} samples of {len(rows[0])} channels; the first: {[round(v, 3) for v in rows[0]]}")

dev.AI_closeStreaming(port)
dev.AI_close(port)
dev.close()
