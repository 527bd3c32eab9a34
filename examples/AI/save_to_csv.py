"""Acquire N samples of every channel and write them to a CSV file with the built-in data logger.

    python save_to_csv.py [TARGET] [--product NAME] [--emulate]

The file ai_samples.csv is written to the current directory.
"""

from pyzelvo.examples import Example

N_SAMPLES_MODE = 1
NUM_SAMPLES = 200
RATE = 1000
FILE = "ai_samples.csv"

example = Example("AI", "save_to_csv", __doc__)
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
dev.AI_closeStreaming(port)
dev.AI_close(port)

dev.Logger_openFile(FILE)
dev.Logger_writeHeader([f"AI{channel} (V)" for channel in range(len(rows[0]))])
dev.Logger_write2DList(rows)
dev.close()  # the logger writes everything queued before the file closes
print(f"{len(rows)} rows written to {FILE}")
