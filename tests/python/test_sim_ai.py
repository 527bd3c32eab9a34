"""The emulator's analog-input controls, checked against raw socket traffic."""

import math
import struct

import pytest

from test_sim import connect, exchange, read_exactly

OPEN_AI = 176
SET_AI_SAMPLING_RATE = 177
SET_AI_MODE = 178
SET_AI_NUM_SAMPLES = 179
SET_AI_ENABLED_CS = 180
READ_AI_ON_DEMAND = 181
START_AI_STREAMING = 183
READ_AI_ON_DEMAND_VARIABLE = 189
START_AI_STREAMING_VARIABLE = 190
AI_SET_TRIG_MODE = 8214
READAI24BIT = 8196


def read_frame(sock):
    """(code, payload) of the next frame, reply or stream packet."""
    head = read_exactly(sock, 3)
    assert head[0] == 2
    rest = read_exactly(sock, int.from_bytes(head[1:3], "big") + 2)
    width = 1 if rest[0] > 48 else 2
    return int.from_bytes(rest[:width], "big"), rest[width:-2]


def values(data: bytes, width: int, signed: bool = True) -> list[int]:
    return [int.from_bytes(data[i : i + width], "big", signed=signed) for i in range(0, len(data), width)]


def test_waveforms_default_and_round_trip(emu):
    dev = emu.add("Koru")
    assert dev.ai_ports == [0, 1, 3]
    assert dev.ai_waveform(3, port=1, cs=2) == {
        "kind": "sine",
        "amplitude": 4.0,
        "frequency": 40.0,
        "offset": 1.0,
        "seed": 0,
    }
    dev.ai_set_waveform(7, "triangle", 2.5, 3.0, -1.0, port=3, cs=1)
    assert dev.ai_waveform(7, port=3, cs=1) == {
        "kind": "triangle",
        "amplitude": 2.5,
        "frequency": 3.0,
        "offset": -1.0,
        "seed": 0,
    }
    assert dev.ai_waveform(7, port=3, cs=0)["kind"] == "sine"  # other chip selects keep theirs


@pytest.mark.parametrize(
    "product, kwargs",
    [
        ("TavraA", {"channel": 8}),
        ("TavraA", {"channel": 0, "kind": "sawtooth"}),
        ("TavraA", {"channel": 0, "port": 1}),
        ("TavraA", {"channel": 0, "cs": 1}),
        ("Koru", {"channel": 0, "port": 2}),
        ("Koru", {"channel": 0, "cs": 3}),
        ("TavraA", {"channel": 0, "amplitude": math.nan}),
        ("TavraA", {"channel": 0, "offset": math.inf}),
        ("TavraA", {"channel": 0, "frequency": -1.0}),
        ("TavraD", {"channel": 0}),
    ],
)
def test_set_waveform_rejects(emu, product, kwargs):
    dev = emu.add(product)
    with pytest.raises(ValueError):
        dev.ai_set_waveform(**kwargs)


def test_streaming_controls_need_a_streaming_model(emu):
    dev = emu.add("TavraI")
    with pytest.raises(ValueError):
        dev.ai_unthrottled = True
    with pytest.raises(ValueError):
        dev.ai_stream_samples(1)
    with pytest.raises(ValueError):
        emu.add("TavraD").ai_state()


def test_state_follows_the_host(emu):
    koru = emu.add("Koru")
    pellor = emu.add("PellorK1AD")
    with connect(koru.address) as k, connect(pellor.address) as p:
        assert exchange(k, SET_AI_SAMPLING_RATE, bytes([3]) + struct.pack(">f", 1234.5)) == b"\x03\x00"
        assert exchange(k, SET_AI_MODE, bytes([3, 1])) == b"\x03\x00"
        assert exchange(k, SET_AI_NUM_SAMPLES, bytes([3]) + (77).to_bytes(4, "big")) == b"\x03\x00"
        assert exchange(k, SET_AI_ENABLED_CS, bytes([3, 0b110])) == b"\x03\x00"
        assert exchange(p, OPEN_AI, b"\x00") == b"\x00\x00"
        assert exchange(p, SET_AI_ENABLED_CS, bytes([0, 3])) == b"\x00\x00"
        assert exchange(p, AI_SET_TRIG_MODE, bytes([0, 5])) == b"\x00\x00"
    state = koru.ai_state(3)
    assert {k: state[k] for k in ("rate", "mode", "num_samples", "chip_selects", "streaming")} == {
        "rate": 1234.5,
        "mode": 1,
        "num_samples": 77,
        "chip_selects": [1, 2],
        "streaming": False,
    }
    assert koru.ai_state(0)["chip_selects"] == [0]  # ports are separate
    state = pellor.ai_state()
    assert (state["open"], state["channels"], state["trigger_mask"], state["chip_selects"]) == (True, 3, 5, [0])


@pytest.mark.parametrize(
    "product, port, cs, code, request_payload, width, signed",
    [
        ("TavraA", 0, 0, READ_AI_ON_DEMAND, b"\x00\x00", 2, True),
        ("Koru", 1, 2, READ_AI_ON_DEMAND, b"\x01\x02", 2, True),
        ("PellorK1AOD", 0, 0, READ_AI_ON_DEMAND_VARIABLE, b"\x00", 2, True),
        ("TavraA2", 0, 0, READAI24BIT, b"\x00\x00", 3, True),
        ("TavraIA", 1, 0, READAI24BIT, b"\x01\xff", 3, False),
    ],
)
def test_next_read_is_what_the_wire_returns(emu, product, port, cs, code, request_payload, width, signed):
    dev = emu.add(product)
    dev.ai_set_waveform(0, "noise", 4.0, seed=99, port=port, cs=cs)
    dev.ai_set_waveform(1, "square", 3.0, 100.0, port=port, cs=cs)
    with connect(dev.address) as s:
        seen = []
        for _ in range(3):
            expected = dev.ai_next_read(port, cs=cs)
            reply = exchange(s, code, request_payload)
            assert reply[0] == port
            assert values(reply[2:], width, signed) == expected
            seen.append(expected[0])
    assert len(set(seen)) == 3  # the noise channel moved on with every read


def test_stream_samples_are_what_the_data_channel_carries(emu):
    dev = emu.add("AerisR3A")
    dev.ai_set_waveform(1, "noise", 2.0, seed=5)
    dev.ai_set_waveform(2, "constant", offset=-3.25)
    with connect(dev.address) as cmd, connect((dev.host, dev.data_port)) as data:
        exchange(cmd, OPEN_AI, b"\x00")
        exchange(cmd, SET_AI_ENABLED_CS, bytes([0, 3]))
        exchange(cmd, SET_AI_MODE, bytes([0, 1]))
        exchange(cmd, SET_AI_NUM_SAMPLES, bytes([0]) + (40).to_bytes(4, "big"))
        cmd.sendall(b"\x02\x00\x02" + bytes([START_AI_STREAMING_VARIABLE, 0]) + b"\r\n")
        got = []
        while len(got) < 40:
            code, payload = read_frame(data)
            assert (code, payload[:2]) == (START_AI_STREAMING_VARIABLE, b"\x00\x00")
            flat = values(payload[2:], 2)
            got += [flat[i : i + 3] for i in range(0, len(flat), 3)]
    assert got == dev.ai_stream_samples(40)
    assert got[0][2] == round(-3.25 / (10 / 32768))
    assert dev.ai_state()["samples_streamed"] == 40


def test_unthrottled_stream_does_not_wait_for_its_rate(emu):
    dev = emu.add("TavraA")
    dev.ai_unthrottled = True
    assert dev.ai_unthrottled
    total = 3000  # 300 s of samples at 10 Hz
    with connect(dev.address, timeout=20) as s:
        exchange(s, SET_AI_SAMPLING_RATE, bytes([0]) + struct.pack(">f", 10.0))
        exchange(s, SET_AI_MODE, bytes([0, 1]))
        exchange(s, SET_AI_NUM_SAMPLES, bytes([0]) + total.to_bytes(4, "big"))
        s.sendall(b"\x02\x00\x02" + bytes([START_AI_STREAMING, 0]) + b"\r\n")
        received = 0
        while received < total:
            code, payload = read_frame(s)
            assert code == START_AI_STREAMING
            received += (len(payload) - 2) // 16
    assert received == total
    state = dev.ai_state()
    assert (state["samples_streamed"], state["packets_sent"], state["streaming"]) == (total, total, False)
    dev.ai_unthrottled = False
    assert not dev.ai_unthrottled
