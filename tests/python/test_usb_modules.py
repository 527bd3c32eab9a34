"""The Pellor modules over USB: digital I/O and analog input (on demand and streamed) through
the emulator's USB shim."""

from __future__ import annotations

import pytest

RATIO = 10 / 32768
N_SAMPLES = 1


def volts(counts):
    return [round(c * RATIO, 4) for c in counts]


@pytest.mark.parametrize("class_name", ["PellorK1AD", "PellorK1AOD"])
def test_digital_io_over_usb(usb_attach, call, class_name):
    dev, target = usb_attach(class_name)
    assert call(dev, "DO_openPins", 0, [0, 1, 5]) == 0
    assert call(dev, "DO_writePins", 0, [0, 1, 5], [1, 0, 1]) == 0
    assert target.outputs(0) & 0b100011 == 0b100001
    assert call(dev, "DI_openPins", 3, [0, 1]) == 0
    target.set_input(3, 1, 1)
    assert call(dev, "DI_readPins", 3, [1, 0]) == [1, 0]


@pytest.mark.parametrize("class_name", ["PellorK1AD", "PellorK1AOD"])
def test_analog_input_on_demand_over_usb(usb_attach, call, class_name):
    dev, target = usb_attach(class_name)
    target.ai_set_waveform(2, "constant", offset=1.25)
    expected = volts(target.ai_next_read(0))
    assert call(dev, "AI_open", 0) == 0
    assert call(dev, "AI_readOnDemand", 0) == expected
    assert expected[2] == 1.25


def test_analog_input_streams_over_usb(usb_attach):
    dev, target = usb_attach("PellorK1AD")
    assert dev.AI_open(0) == 0
    assert dev.AI_enableChannel(0, 2) == 0
    assert dev.AI_setMode(0, N_SAMPLES) == 0
    assert dev.AI_setNumSamples(0, 800) == 0
    assert dev.AI_setSamplingRate(0, 8000) == 0  # the limit with two channels
    assert dev.AI_openStreaming(0) == 0
    assert dev.AI_startStreaming(0) == 0
    rows = []
    while len(rows) < 800:
        batch = dev.AI_readStreaming(0, 800 - len(rows), 1.0)
        assert batch, "the stream stopped early"
        rows += batch
    assert dev.AI_readStreaming(0, 1, 0.2) == []  # exactly N samples
    assert rows == [volts(sample) for sample in target.ai_stream_samples(800, port=0)]
    assert dev.AI_getDroppedSamples(0) == 0
    assert dev.AI_closeStreaming(0) == 0 and dev.AI_close(0) == 0
