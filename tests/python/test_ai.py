"""Analog input: decoding, rate limits and model rules against a scripted device; stream
conversion, the open/close gate, overflow and the streaming reads with injected stream packets."""

from __future__ import annotations

import asyncio
import struct
import sys
import time
import warnings

import pytest

import pyzelvo as z

OPEN_AI, CLOSE_AI, SET_RATE, SET_ENABLED_CS = 176, 191, 177, 180
READ_ON_DEMAND, READ_VARIABLE, READAI24BIT = 181, 189, 8196
START_AI_STREAMING, START_VARIABLE, START_24BIT = 183, 190, 8205
TRIG_MODE, GET_COUNTERS, BUFFER_STATUS = 8214, 188, 187
RATIO = 10 / 32768
RATIO24 = 1.3904889343373708e-06


def counts(*values: int) -> bytes:
    return struct.pack(f">{len(values)}h", *values)


def counts24(*values: int) -> bytes:
    return b"".join((v & 0xFFFFFF).to_bytes(3, "big") for v in values)


def status_ok(payload: bytes) -> bytes:
    return bytes([payload[0], 0])


@pytest.fixture
def ai(scripted):
    """ai("TavraA", extra_replies) -> (connected product, scripted device answering the AI
    configuration commands with status 0)."""
    def make(product, replies=None):
        base = {code: status_ok for code in (OPEN_AI, CLOSE_AI, SET_RATE, SET_ENABLED_CS, TRIG_MODE, 178, 179, 184, 186)}
        base.update(replies or {})
        return scripted(product, base)
    return make


# --- decoding -------------------------------------------------------------------------------------

def test_on_demand_16_bit_counts_become_rounded_volts(ai):
    dev, target = ai("TavraA", {READ_ON_DEMAND: lambda p: p + counts(-32768, 32767, 0, 1, -1, 512, 3, 16384)})
    assert dev.AI_readOnDemand(0) == [-10.0, 9.9997, 0.0, 0.0003, -0.0003, 0.1562, 0.0009, 5.0]
    assert target.requests[-1] == (READ_ON_DEMAND, bytes([0, 0]))  # port and chip select


def test_variable_models_send_the_port_only_and_read_the_enabled_channels(ai):
    dev, target = ai("AerisR3AOD", {READ_VARIABLE: lambda p: bytes([p[0], 0]) + counts(*range(8))})
    assert dev.AI_readOnDemand(0) == [round(i * RATIO, 4) for i in range(8)]
    assert target.requests[-1] == (READ_VARIABLE, bytes([0]))
    assert dev.AI_enableChannel(0, 3) == 0
    assert dev.ai_num_channels == 3
    assert dev.AI_readOnDemand(0) == [round(i * RATIO, 4) for i in range(3)]


def test_every_16_bit_count_rounds_as_python_does(scripted):
    dev, _ = scripted("TavraA", {})
    dev.AI_open(0)
    raw = list(range(-32768, 32768))
    for start in range(0, len(raw), 8000):
        dev._putToDataPool(START_AI_STREAMING, bytes([0, 0]) + counts(*raw[start:start + 8000]))
    got = [v for row in dev.AI_readStreaming(0, 8192, 1.0) for v in row]
    assert got == [round(c * RATIO, 4) for c in raw]


def test_24_bit_streamed_counts_are_sign_extended_and_not_rounded(scripted):
    dev, _ = scripted("TavraA2", {})
    dev.AI_open(0)
    dev._putToDataPool(START_24BIT, bytes([0, 0]) + counts24(-8388608, 8388607, 1, -1, 0, 2, 3, 4))
    assert dev.AI_readStreaming(0, 1, 1.0) == [[c * RATIO24 for c in (-8388608, 8388607, 1, -1, 0, 2, 3, 4)]]


@pytest.mark.parametrize("range_flag, scale", [(0, 50), (1, 25)])
def test_24_bit_offset_codes_map_onto_the_full_scale(scripted, range_flag, scale):
    codes = [0, 8388608, 16777215, 1, 2, 3, 4, 5]
    dev, target = scripted("TavraI", {READAI24BIT: bytes([range_flag, 0]) + b"".join(c.to_bytes(3, "big") for c in codes)})
    assert dev.AI_readOnDemand(0)[:3] == [-scale, 0.0, float(scale)]
    assert target.requests[-1] == (READAI24BIT, bytes([0, 255]))
    assert dev.AI_open(0) == 0 and dev.AI_close(0) == 0  # no exchange for these models
    assert len(target.requests) == 1


def test_counters_and_buffer_status_are_32_bit_words(ai):
    words = list(range(1, 10))
    dev, _ = ai("TavraA", {GET_COUNTERS: bytes([0]) + struct.pack(">9I", *words),
                           BUFFER_STATUS: bytes([0]) + struct.pack(">4I", 7, 8, 2**32 - 1, 0)})
    assert dev._AI_getCounter(0) == words
    assert dev._AI_readBufferStatus(0) == [7, 8, 2**32 - 1, 0]


def test_a_short_reply_names_the_operation(ai):
    dev, _ = ai("TavraA", {READ_ON_DEMAND: bytes([0, 0, 1])})
    with pytest.raises(z.FirmwareOtherError, match="AI_readOnDemand"):
        dev.AI_readOnDemand(0)


# --- rules and checks ------------------------------------------------------------------------------

def test_trigger_modes_and_their_masks(ai):
    dev, target = ai("TavraA")
    assert [dev._convertAITriggerModeToMask(m) for m in range(8)] == [1, 2, 4, 3, 5, 6, 7, 7]
    assert dev.AI_setTriggerMode(0, 3) == 0
    assert target.requests[-1] == (TRIG_MODE, bytes([0, 3]))
    with pytest.raises(z.AITriggerModeNotAvaliableError):
        dev.AI_setTriggerMode(0, 7)


@pytest.mark.parametrize("mode", [2, 4, 5, 6])
def test_pellor_models_have_no_external_trigger(mode):
    dev = z.PellorK1AD()
    with pytest.raises(z.APINotSupportError):
        dev.AI_setTriggerMode(0, mode)
    dev.close()


@pytest.mark.parametrize("product, channels, accepted, rejected", [
    ("AerisR3AOD", 3, 10000, 10000.5), ("TavraA", 8, 20000, 20000.1), ("AerisR3A", 8, 10000, 10001),
    ("TavraA2", 8, 10000, 10000.5), ("Kinora", 8, 10000, 10000.5),
])
def test_sampling_rate_limits(ai, product, channels, accepted, rejected):
    if product == "Kinora":  # no analog inputs: the operations are not there at all
        assert not hasattr(z.Kinora, "AI_setSamplingRate")
        return
    dev, _ = ai(product)
    if channels != 8:
        dev.AI_enableChannel(0, channels)
    assert dev.AI_setSamplingRate(0, accepted) == 0
    with pytest.raises(z.AIRateNotVaildError):
        dev.AI_setSamplingRate(0, rejected)
    with pytest.raises(z.AIRateNotVaildError):
        dev.AI_setSamplingRate(0, 0)


def test_koru_slots_and_chip_selects(ai):
    dev, target = ai("Koru", {READ_ON_DEMAND: lambda p: p + counts(*[p[1] * 100] * 8)})
    assert dev.AI_enableCS(2, [0, 2]) == 0
    assert target.requests[-1] == (SET_ENABLED_CS, bytes([1, 5]))
    assert dev.chip_select_p1 == [0, 2]
    assert dev.AI_setSamplingRate(2, 6000) == 0
    with pytest.raises(z.AIRateNotVaildError):
        dev.AI_setSamplingRate(2, 6001)
    assert dev.AI_readOnDemand(2) == [round(0, 4)] * 8 + [round(200 * RATIO, 4)] * 8
    for bad in ([], [0, 0], [3], [-1]):
        with pytest.raises(z.AICSNotAvaliableError):
            dev.AI_enableCS(2, bad)
    with pytest.raises(z.AIPortNotAvaliableError):
        dev.AI_readOnDemand(3)  # slot 3 is port 2: no analog inputs


def test_pellor_limits_follow_the_channel_count():
    dev = z.PellorK1AD()
    assert dev._ckeckAISamplingRate(0, 2000)
    with pytest.raises(z.AIRateNotVaildError):
        dev._ckeckAISamplingRate(0, 2000.5)
    dev.close()


def test_a_refused_change_is_not_stored(ai):
    dev, _ = ai("Koru", {SET_ENABLED_CS: lambda p: bytes([p[0], 52])})
    assert dev.AI_enableCS(1, [1, 2]) == -7017
    assert dev.chip_select_p0 == [0]


@pytest.mark.parametrize("product", ["TavraA", "Koru", "AerisR3A", "AerisR3AH", "AerisR4A"])
def test_fixed_channel_models_refuse_enable_channel(ai, product):
    dev, _ = ai(product)
    with pytest.raises(z.APINotSupportError):
        dev.AI_enableChannel(0, 4)


def test_the_24_bit_streaming_model_has_no_channel_or_trigger_operations():
    assert not hasattr(z.TavraA2, "AI_enableChannel") and not hasattr(z.TavraA2, "AI_setTriggerMode")
    assert hasattr(z.TavraA2, "AI_readStreaming_async")


def test_opening_is_local_on_some_models_and_follows_the_status_on_others(ai):
    dev, target = ai("TavraA")
    assert dev.AI_open(0) == 0 and dev.ai_open_flag and target.requests == []
    dev, target = ai("AerisR3A", {OPEN_AI: lambda p: bytes([p[0], 52])})
    assert dev.AI_open(0) == -7017 and not dev.ai_open_flag
    target.replies[OPEN_AI] = status_ok
    assert dev.AI_open(0) == 0 and dev.ai_open_flag
    assert dev.AI_openStreaming(0) == 0 and target.requests[-1][0] == OPEN_AI  # nothing sent


# --- the stream path -------------------------------------------------------------------------------

def stream(dev, *rows, code=START_AI_STREAMING, port=0, cs=0):
    dev._putToDataPool(code, bytes([port, cs]) + counts(*[v for row in rows for v in row]))


def test_packets_wait_while_closed_and_are_converted_in_order_at_open(scripted):
    dev, _ = scripted("TavraA", {})
    stream(dev, [1] * 8)
    assert dev.AI_readStreaming(0, 1, 0) == []
    dev.AI_open(0)
    stream(dev, [2] * 8)
    assert dev.AI_readStreaming(0, 5, 0.2) == [[round(1 * RATIO, 4)] * 8, [round(2 * RATIO, 4)] * 8]
    stream(dev, [3] * 8)
    dev.AI_close(0)
    stream(dev, [4] * 8)  # after close: not converted
    assert dev.AI_readStreaming(0, 5, 0.1) == [[round(3 * RATIO, 4)] * 8]


def test_a_partial_sample_is_dropped_and_streaming_goes_on(scripted):
    dev, _ = scripted("TavraA", {})
    dev.AI_open(0)
    dev._putToDataPool(START_AI_STREAMING, bytes([0, 0]) + counts(*[5] * 8) + b"\x01\x02\x03")
    stream(dev, [6] * 8)
    assert [row[0] for row in dev.AI_readStreaming(0, 10, 0.2)] == [round(5 * RATIO, 4), round(6 * RATIO, 4)]


def test_koru_rows_join_the_chip_selects_of_a_slot(scripted):
    dev, _ = scripted("Koru", {SET_ENABLED_CS: status_ok})
    dev.AI_enableCS(4, [0, 2])
    dev.AI_open(4)
    stream(dev, [1] * 8, [2] * 8, port=3, cs=0)
    stream(dev, [9] * 8, port=3, cs=2)
    rows = dev.AI_readStreaming(4, 5, 0.1)
    assert rows == [[round(1 * RATIO, 4)] * 8 + [round(9 * RATIO, 4)] * 8]  # cs 2 has one sample
    stream(dev, [8] * 8, port=3, cs=2)
    assert dev.AI_readStreaming(4, 5, 0.1) == [[round(2 * RATIO, 4)] * 8 + [round(8 * RATIO, 4)] * 8]


def test_streaming_reads_wait_at_most_delay(scripted):
    dev, _ = scripted("TavraA", {})
    dev.AI_open(0)
    assert dev.AI_readStreaming(0, 0, 5) == []  # at once
    start = time.monotonic()
    assert dev.AI_readStreaming(0, 3, 0.2) == []
    assert 0.19 <= time.monotonic() - start < 2
    stream(dev, [7] * 8)
    assert len(dev.AI_readStreaming(0, 3, -1)) == 1  # a negative delay still looks once


def test_the_array_form(scripted):
    np = pytest.importorskip("numpy")
    dev, _ = scripted("TavraA", {})
    dev.AI_open(0)
    stream(dev, *[[i] * 8 for i in range(10)])
    a = dev.AI_readStreamingArray(0, 4)
    assert a.shape == (4, 8) and a.dtype == np.float64
    assert a[3, 0] == round(3 * RATIO, 4)
    assert len(dev.AI_readStreaming(0, 100, 0)) == 6


@pytest.mark.parametrize("awaitable", [False, True])
def test_the_array_form_without_numpy_refuses_before_taking_samples(scripted, monkeypatch, awaitable):
    dev, _ = scripted("TavraA", {})
    dev.AI_open(0)
    stream(dev, *[[i] * 8 for i in range(3)])
    monkeypatch.setitem(sys.modules, "numpy", None)  # as if numpy were not installed
    with pytest.raises(ImportError, match="need numpy"):
        if awaitable:
            asyncio.run(dev.AI_readStreamingArray_async(0, 3))
        else:
            dev.AI_readStreamingArray(0, 3)
    assert len(dev.AI_readStreaming(0, 100, 0)) == 3


def test_overflow_warns_once_per_burst_and_counts_the_dropped_samples(scripted):
    dev, _ = scripted("TavraA", {})
    dev.AI_open(0)
    chunk = bytes([0, 0]) + counts(*[1] * 8 * 2000)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        for _ in range(501):  # 1 002 000 samples into a queue of 1 000 000
            dev._putToDataPool(START_AI_STREAMING, chunk)
        dev._putToDataPool(START_AI_STREAMING, chunk)
    overflow = [w for w in caught if issubclass(w.category, z.AIQueueOverflowWarning)]
    assert len(overflow) == 1
    assert dev.AI_getDroppedSamples(0) == 4000
    with pytest.raises(z.AIPortNotAvaliableError):  # the port is checked as by the reads
        dev.AI_getDroppedSamples(5)
    assert dev.ai_signal_queue_list[0].qsize() == 1000000


def test_the_block_read_gives_each_row_its_index_and_the_time_base(scripted):
    pytest.importorskip("numpy")
    dev, _ = scripted("TavraA", {SET_RATE: b"\x00\x00"})
    assert dev.AI_open(0) == 0 and dev.AI_setSamplingRate(0, 20000) == 0
    before = time.monotonic()
    assert dev.AI_startStreaming(0) == 0
    chunk = bytes([0, 0]) + counts(*[1] * 8 * 2000)
    with pytest.warns(z.AIQueueOverflowWarning):
        for _ in range(501):  # 1 002 000 rows into a queue of 1 000 000: the last 2000 are dropped
            dev._putToDataPool(START_AI_STREAMING, chunk)
        dev._putToDataPool(START_AI_STREAMING, chunk)  # dropped too
    first = dev.AI_readStreamingBlock(0, 600000)
    assert (first.first_index, first.data.shape, first.rate) == (0, (600000, 8), 20000)
    assert before <= first.t0 <= time.monotonic()
    assert dev.AI_readStreamingBlock(0, 10**7).first_index == 600000
    dev._putToDataPool(START_AI_STREAMING, chunk)  # after 4000 dropped rows: the index jumps
    after = dev.AI_readStreamingBlock(0, 10**7)
    assert (after.first_index, len(after.data)) == (1004000, 2000)
    assert after.times()[0] == pytest.approx(after.t0 + 1004000 / 20000)


async def test_the_awaitable_read_does_not_block_the_loop(scripted):
    dev, _ = scripted("TavraA", {})
    dev.AI_open(0)
    ticks = 0

    async def ticker():
        nonlocal ticks
        while True:
            ticks += 1
            await asyncio.sleep(0.01)

    t = asyncio.create_task(ticker())
    loop = asyncio.get_running_loop()
    loop.call_later(0.15, lambda: stream(dev, [3] * 8))
    rows = await dev.AI_readStreaming_async(0, 1, 2.0)
    t.cancel()
    assert rows == [[round(3 * RATIO, 4)] * 8] and ticks >= 5
