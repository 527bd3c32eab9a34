"""Analog output: which products carry which operations, what only the binding decides (types,
names, the awaitable-only service twins' blocking forms), the modular controller's inert service
operations, a waveform written and read back through the analog inputs, and the queue of the
start code nobody reads. (The bytes of every request are checked in tests/cpp/test_ao_module.cpp,
the generator itself in tests/cpp/test_sim_ao.cpp.)"""

import warnings

import numpy as np
import pytest

import pyzelvo as z

START_AO_STREAMING = 8265
BASIC = ["AO_open", "AO_close", "AO_writeOneChannel", "AO_writeAllChannels", "_AO_getMode", "_AO_getState",
         "_AO_getCounters", "_AO_initialBuffer", "_AO_pushToBuffer", "_AO_setSpan", "_AO_stopStreaming",
         "_checkAOPinState"]
STREAMING = ["AO_openStreaming", "AO_startStreaming", "AO_closeStreaming", "AO_setMode", "AO_setSamplingRate",
             "AO_setNumSamples", "AO_setEnableChannels", "AO_setForm", "AO_setFormParam", "AO_getValues"]


@pytest.mark.parametrize("class_name, streaming", [("AerisR3AOD", False), ("Koru", False), ("TavraO", True),
                                                   ("PellorK1AOD", True)])
def test_every_product_has_its_operations_in_both_forms(class_name, streaming):
    cls = getattr(z, class_name)
    for name in BASIC + STREAMING:
        expected = streaming or name in BASIC
        assert hasattr(cls, name) == expected and hasattr(cls, name + "_async") == expected, name
    assert issubclass(cls, z.AOStreamingModule if streaming else z.AOModule)


def test_start_streaming_takes_no_timeout():
    with pytest.raises(TypeError):
        z.TavraO(verbose=False).AO_startStreaming(0, timeout=1)


@pytest.mark.parametrize("name, args", [
    ("AO_writeAllChannels", (0, [1.0, "2"])),
    ("AO_writeAllChannels", (0, 1.0)),
    ("_AO_pushToBuffer", (0, 1, ["1"])),
    ("AO_setNumSamples", (0, 1.5)),
    ("AO_setSamplingRate", (0, "1000")),
    ("AO_setEnableChannels", (0, [0, 1.0])),
])
def test_wrong_types_refused_before_sending(name, args):
    with pytest.raises(z.InputTypeNotCorrectError):
        getattr(z.TavraO(verbose=False), name)(*args)


def test_values_may_be_ints_or_floats_and_keywords_work(attach):
    dev, target = attach("TavraO")
    assert dev._AO_pushToBuffer(port=0, num_of_val=3, value_list=[1, 2.5, -3]) == 0
    assert target.ao.buffer() == [1.0, 2.5, -3.0]
    assert dev.AO_setFormParam(0, 2, amplitude=1, offset=0, frequency=5) == 0
    assert target.ao.channel(2)["duty_cycle"] == 0.5 and target.ao.channel(2)["phase"] == 0


def test_the_span_reaches_the_device(attach):
    dev, target = attach("TavraO")
    assert dev._AO_setSpan(0, 2) == 0
    assert target.ao.state()["span"] == 2 and target.ao.setters()[-1] == (8272, b"\x00\x02")


def test_koru_service_operations_answer_none_and_pushes_take_a_slot(attach, call):
    dev, target = attach("Koru")
    for name in ("_AO_getMode", "_AO_getState", "_AO_getCounters", "_AO_initialBuffer", "_AO_stopStreaming"):
        assert call(dev, name, 1) is None
    assert call(dev, "_AO_setSpan", 2, 0) is None
    assert call(dev, "_AO_pushToBuffer", 4, 2, [1.0, 2.0]) == 0
    assert target.ao.buffer(3) == [1.0, 2.0] and target.ao.setters(0) == []
    assert call(dev, "AO_open", 2) == 0 and call(dev, "AO_writeOneChannel", 2, 5, -7.5) == 0
    assert target.ao.outputs(1)[5] == -7.5


def test_generator_service_in_both_forms(attach, call):
    dev, target = attach("AerisR3AOD")  # a basic model: the service operations have both forms here too
    assert call(dev, "_AO_getState", 0) == 0
    assert call(dev, "_AO_initialBuffer", 0) == [65536, 0]
    assert call(dev, "_AO_getCounters", 0) == [0, 0]


def test_waveforms_written_are_read_back_through_the_analog_inputs(usb_attach):
    dev, target = usb_attach("PellorK1AOD")
    target.ao.wired_to_ai = True
    dev.AO_openStreaming(0)
    assert dev.AO_setMode(0, 2) == 0 and dev.AO_setSamplingRate(0, 16000) == 0
    assert dev.AO_setEnableChannels(0, [0, 1]) == 0
    assert dev.AO_setForm(0, 0, 3) == 0 and dev.AO_setFormParam(0, 0, 2.0, 2.5, 50) == 0  # sine
    assert dev.AO_setForm(0, 1, 2) == 0 and dev.AO_setFormParam(0, 1, 1.0, 2.0, 20) == 0  # triangle
    dev.AO_startStreaming(0)
    rate, wanted = 2000, 800
    assert dev.AI_open(0) == 0 and dev.AI_setMode(0, 2) == 0 and dev.AI_setSamplingRate(0, rate) == 0
    dev.AI_startStreaming(0)
    rows = []
    while len(rows) < wanted:
        batch = dev.AI_readStreaming(0, wanted - len(rows), 2.0)
        assert batch, "the stream stopped"
        rows += batch
    dev.AI_closeStreaming(0)
    assert dev._AO_getState(0) == 2
    data = np.array(rows)
    for channel, (frequency, amplitude, offset) in enumerate([(50, 2.0, 2.5), (20, 1.0, 2.0)]):
        x = data[:, channel]
        spectrum = np.abs(np.fft.rfft(x - x.mean()))
        peak = np.fft.rfftfreq(len(x), 1 / rate)[spectrum.argmax()]
        assert peak == pytest.approx(frequency, abs=2.5)
        assert (x.max() - x.min()) / 2 == pytest.approx(amplitude, abs=0.02)
        assert x.mean() == pytest.approx(offset, abs=0.02)


@pytest.mark.parametrize("class_name, code, warning, dropped", [
    ("TavraO", START_AO_STREAMING, z.AOQueueOverflowWarning, "AO_getDroppedStreamPackets"),
    ("AerisR3AH", 9217, z.AHRSQueueOverflowWarning, "AHRS_getDroppedStreamPackets"),
])
def test_streams_nobody_reads_stay_bounded_and_warn_once_per_burst(class_name, code, warning, dropped):
    dev = getattr(z, class_name)(verbose=False)
    packet = bytes(1 << 20)
    try:
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            for _ in range(40):  # 40 MiB into a bound of 32
                dev._putToDataPool(code, packet)
            assert len([w for w in caught if issubclass(w.category, warning)]) == 1
            queue = dev.data_pool_strm[code]
            queue.get_nowait()  # room again: the burst is over
            for _ in range(3):
                dev._putToDataPool(code, packet)
        assert len([w for w in caught if issubclass(w.category, warning)]) == 2
        assert getattr(dev, dropped)() == 10 and dev._exchange_stats["raw_stream_bytes"] <= 32 << 20
    finally:
        dev.close()
