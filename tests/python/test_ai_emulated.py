"""Analog input end to end against the emulator: on-demand reads and streams of every model
family, values checked against what the emulated firmware says it sent."""

from __future__ import annotations

import asyncio

import pytest

RATIO16 = 10 / 32768
RATIO24 = 1.3904889343373708e-06
N_SAMPLES, CONTINUOUS = 1, 2


def volts16(counts):
    return [round(c * RATIO16, 4) for c in counts]


def start(dev, port, mode, rate, n=0, wire_port=None):
    assert dev.AI_open(port) == 0
    assert dev.AI_setMode(port, mode) == 0
    if mode == N_SAMPLES:
        assert dev.AI_setNumSamples(port, n) == 0
    assert dev.AI_setSamplingRate(port, rate) == 0
    # On the modular controller this one operation takes the port, not the slot.
    assert dev.AI_openStreaming(port if wire_port is None else wire_port) == 0
    assert dev.AI_startStreaming(port) == 0


def read_n(dev, port, n, timeout=5.0):
    rows = []
    while len(rows) < n:
        batch = dev.AI_readStreaming(port, n - len(rows), timeout)
        assert batch, f"only {len(rows)} of {n} samples arrived"
        rows += batch
    return rows


@pytest.mark.parametrize("class_name", ["TavraA", "AerisR3A", "AerisR4A", "AerisR3AOD"])
def test_n_samples_arrive_exactly_and_match_the_firmware(attach, class_name):
    dev, target = attach(class_name)  # Wi-Fi models stream on their data channel
    start(dev, 0, N_SAMPLES, 10000, n=3000)
    rows = read_n(dev, 0, 3000)
    assert dev.AI_readStreaming(0, 1, 0.3) == []
    assert rows == [volts16(s) for s in target.ai_stream_samples(3000, port=0)]
    assert dev.AI_getDroppedSamples(0) == 0


def test_continuous_streaming_stops_when_closed_and_keeps_what_arrived(attach):
    dev, target = attach("TavraA")
    start(dev, 0, CONTINUOUS, 20000)
    first = read_n(dev, 0, 2000)
    assert dev.AI_closeStreaming(0) == 0
    assert dev.AI_close(0) == 0
    streamed = target.ai_state(0)["samples_streamed"]
    rest = dev.AI_readStreaming(0, 10**6, 0.3)  # already converted: still readable
    assert len(first) + len(rest) == streamed
    assert first + rest == [volts16(s) for s in target.ai_stream_samples(streamed, port=0)]


def test_koru_streams_every_enabled_chip_select_of_a_slot(attach):
    dev, target = attach("Koru")
    assert dev.AI_enableCS(2, [0, 2]) == 0  # slot 2 is port 1
    start(dev, 2, N_SAMPLES, 6000, n=600, wire_port=1)
    rows = read_n(dev, 2, 600)
    cs0 = target.ai_stream_samples(600, port=1, cs=0)
    cs2 = target.ai_stream_samples(600, port=1, cs=2)
    assert rows == [volts16(a) + volts16(b) for a, b in zip(cs0, cs2)]


def test_the_24_bit_model_streams_unrounded_volts(attach):
    dev, target = attach("TavraA2")
    start(dev, 0, N_SAMPLES, 10000, n=500)
    rows = read_n(dev, 0, 500)
    assert rows == [[c * RATIO24 for c in s] for s in target.ai_stream_samples(500, port=0)]


@pytest.mark.parametrize("class_name", ["TavraA", "Koru", "AerisR3A", "TavraA2"])
def test_on_demand_reads_match_the_firmware(attach, call, class_name):
    dev, target = attach(class_name)
    port = 1 if class_name == "Koru" else 0  # Koru: slot 1 is port 0
    raw = target.ai_next_read(0)
    expected = [c * RATIO24 for c in raw] if class_name == "TavraA2" else volts16(raw)
    assert call(dev, "AI_readOnDemand", port) == expected


@pytest.mark.parametrize("port, scale", [(0, 50), (1, 25)])
def test_the_current_and_voltage_inputs_read_on_their_scales(attach, port, scale):
    dev, target = attach("TavraIA")
    codes = target.ai_next_read(port)
    assert dev.AI_readOnDemand(port) == [round(c * scale / 2**23 - scale, 3) for c in codes]


async def test_an_awaitable_streaming_read_waits_for_the_samples(attach):
    dev, target = attach("TavraA")
    assert await dev.AI_open_async(0) == 0
    await dev.AI_setMode_async(0, N_SAMPLES)
    await dev.AI_setNumSamples_async(0, 400)
    await dev.AI_setSamplingRate_async(0, 2000)  # 0.2 s of samples
    await dev.AI_openStreaming_async(0)
    await dev.AI_startStreaming_async(0)
    rows = await dev.AI_readStreaming_async(0, 400, 3.0)
    assert len(rows) == 400
    assert await asyncio.wait_for(dev.AI_readStreaming_async(0, 1, 0.1), 2) == []
