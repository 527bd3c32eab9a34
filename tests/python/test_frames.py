"""Frame building, the frame splitter, routing of received frames and stream reads."""

import time

import pytest

import pyzelvo as z
from support.scripted_device import frame


@pytest.fixture
def dev():
    d = z.ETHDevice(verbose=False)
    yield d
    d.close(verbose=False)


@pytest.mark.parametrize("cmd, data, expected", [
    (122, [], [2, 0, 1, 122, 13, 10]),
    (2054, [1], [2, 0, 3, 8, 6, 1, 13, 10]),
    (255, [0, 255], [2, 0, 3, 255, 0, 255, 13, 10]),
    (256, [], [2, 0, 2, 1, 0, 13, 10]),
    (122, list(range(256)) * 2, [2, 2, 1, 122] + list(range(256)) * 2 + [13, 10]),
])
def test_preparePacket(dev, cmd, data, expected):
    assert dev._preparePacket(cmd, data) == expected


@pytest.mark.parametrize("cmd, data, error", [
    (122, [256], z.InputDataNotInRangeError),
    (122, [-1], z.InputDataNotInRangeError),
    (122, [0] * 65535, z.InputDataNotInRangeError),  # length field would overflow
    (65536, [], z.InputDataNotInRangeError),
    (122, [1.0], z.InputTypeNotCorrectError),
    (122, ["a"], z.InputTypeNotCorrectError),
    (122.0, [], z.InputTypeNotCorrectError),
])
def test_preparePacket_rejects_instead_of_truncating(dev, cmd, data, error):
    with pytest.raises(error):
        dev._preparePacket(cmd, data)


A = frame(122, b"ZS000001")
B = frame(2054, b"\x01\x02")


@pytest.mark.parametrize("stream, frames, rest", [
    (A + B + A[:5], [(122, b"ZS000001"), (2054, b"\x01\x02")], A[:5]),
    (b"\x02\x00\x02\x30\x07\r\n", [(0x3007, b"")], b""),  # first code byte 48: a two-byte code
    (b"\xaa\xbb\r\n" + A, [(122, b"ZS000001")], b""),  # garbage terminator skipped, then dropped
    (frame(241, b"\x01\r\n\x02"), [(241, b"\x01\r\n\x02")], b""),  # CR LF inside the payload
    (b"\x02\x00\x09\x7a" + b"\r\n", [], b"\x02\x00\x09\x7a\r\n"),  # length mismatch: no frame yet
])
def test_splitPacket(stream, frames, rest):
    client = z.TCPClient()
    client.stream = stream
    assert client._splitPacket() == frames
    assert client.stream == rest
    if frames and not rest:
        assert client.last_index == 0


def test_splitter_keeps_a_half_frame_until_it_completes():
    client = z.TCPClient()
    client.stream = A[:6]
    assert client._splitPacket() == [] and client.last_index == 0
    client.stream = client.stream + A[6:]
    assert client._splitPacket() == [(122, b"ZS000001")]


@pytest.mark.parametrize("cmd, data, kind", [
    (122, b"", "echo"), (183, b"", "streaming"), (8205, b"\x00", "streaming"), (49, b"", "streaming"),
    (252, b"\x01", "broadcast"), (252, b"\x00", "ignore"), (2582, b"\x01", "broadcast"),
])
def test_checkCommandType(cmd, data, kind):
    assert z.Device._checkCommandType(cmd, data) == kind


@pytest.mark.parametrize("cmd, data, key, stored", [
    (183, b"\x01\x00\x05\x06", (183, 1, 0), b"\x05\x06"),
    (8205, b"\x03\x04\x05", (8205, 0, 0), b"\x05"),
    (190, b"\x03\x04\x05", (190, 0, 0), b"\x05"),
    (49, b"\x03\x04\x05", 49, b"\x05"),
    (9217, b"\x03\x04\x05", 9217, b"\x04\x05"),
    (129, b"\x02\x04\x05", (129, 2), b"\x05"),
    (211, b"\x03\x04", 211, b"\x03\x04"),
])
def test_stream_routing(dev, cmd, data, key, stored):
    dev._putToDataPool(cmd, data)
    assert dev.data_pool_strm[key].get_nowait() == stored


def test_echo_broadcast_and_motion_routing(dev):
    dev._putToDataPool(122, b"old")
    dev._putToDataPool(122, b"new")  # replaces the unclaimed reply
    dev._putToDataPool(252, b"\x00\x07")
    dev._putToDataPool(252, b"\x01\x07\x08")
    dev._putToDataPool(252, b"\x01\x07\x08")
    dev._putToDataPool(z.MOTION, b"\x10\x20\x30\x44")
    motion_key = int.from_bytes(b"\x30\x10\x20\xd0", "big", signed=True)
    assert dev.data_pool_echo == {122: b"new", motion_key: b"\x10\x20\x30\x44"}
    assert dev.data_pool_bcst == {252: {b"\x07\x08"}}
    assert dev._getReplyFromPool(motion_key, 0.1) == b"\x10\x20\x30\x44"


@pytest.mark.parametrize("cmd, data", [(183, b"\x01"), (129, b""), (9217, b""), (z.MOTION, b"\x01\x02"), (252, b"")])
def test_too_short_payloads_are_dropped_and_reported(dev, capsys, cmd, data):
    dev._putToDataPool(cmd, data)
    assert str(cmd) in capsys.readouterr().out
    assert dev.data_pool_echo == {} and dev.data_pool_bcst == {} and len(dev.data_pool_strm) == 0
    dev._putToDataPool(122, b"ok")  # the device keeps working
    assert dev._getReplyFromPool(122, 0.1) == b"ok"


def test_getStreamingFromPool(dev):
    queue = dev.data_pool_strm[211]
    start = time.monotonic()
    assert dev._getStreamingFromPool(queue, -1, 10) == []
    assert time.monotonic() - start < 1
    for i in range(7):
        dev._putToDataPool(211, bytes([i, i]))
    assert dev._getStreamingFromPool(queue, 5, 0.01) == [bytes([i, i]) for i in range(5)]
    assert dev._getStreamingFromPool(queue, 1, 0.01) == [5, 5]  # one item: its elements
    assert dev._getStreamingFromPool(queue, 3, 0.05) == [6, 6]  # waited for 3, took what there was
