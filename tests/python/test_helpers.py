"""Conversion and validation helpers."""

import math

import pytest

import pyzelvo as z
from pyzelvo import InputDataNotInRangeError, InputTypeNotCorrectError

BIG = 1 << 100


@pytest.mark.parametrize("fn, args, expected", [
    (z.clearBit, (0b1111, 1), 0b1101),
    (z.clearBit, (BIG | 1, 100), 1),
    (z.readBit, (0b0100, 2), 1),
    (z.readBit, (BIG, 100), 1),
    (z.readBit, (-1, 200), 1),  # two's complement of any width
    (z.fillBit, (0, 70), 1 << 70),
    (z.writeBit, (0, 3, 1), 8),
    (z.writeBit, (0b1000, 3, 0), 0),
    (z.writeBit, (BIG, 100, 0), 0),
    (z.changeToKORUPort, (4,), 3),
])
def test_bit_helpers(fn, args, expected):
    assert fn(*args) == expected


@pytest.mark.parametrize("fn", [z.clearBit, z.readBit, z.fillBit, lambda n, i: z.writeBit(n, i, 1)])
def test_negative_bit_index_is_rejected(fn):
    with pytest.raises(InputDataNotInRangeError):
        fn(5, -1)


@pytest.mark.parametrize("fn, arg, expected", [
    (z.convert2U8ToU16, [1, 2], 258),
    (z.convert2U8ToI16, [255, 254], -2),
    (z.convert4U8ToU32, [255, 255, 255, 255], 2**32 - 1),
    (z.convert4U8ToI32, [128, 0, 0, 0], -(2**31)),
    (z.convert8U8ToU64, [255] * 8, 2**64 - 1),
    (z.convert8U8ToI64, [255] * 8, -1),
    (z.convert4U8ToF32, [63, 128, 0, 0], 1.0),
    (z.convert8U8ToF64, [64, 9, 33, 251, 84, 68, 45, 24], math.pi),
    (z.convertU16To2U8, 258, [1, 2]),
    (z.convertU16To2U8, 65536 + 3, [0, 3]),  # cast to 16 bits first
    (z.convertI16To2U8, -2, [255, 254]),
    (z.convertU32To4U8, -1, [255] * 4),
    (z.convertI32To4U8, -(2**31), [128, 0, 0, 0]),
    (z.convertU64To8U8, 2**64 + 1, [0] * 7 + [1]),
    (z.convertI64To8U8, -2, [255] * 7 + [254]),
    (z.convertF32To4U8, 1.0, [63, 128, 0, 0]),
    (z.convertF32To4U8, 0.1, [61, 204, 204, 205]),  # rounded to single precision
    (z.convertF64To8U8, math.pi, [64, 9, 33, 251, 84, 68, 45, 24]),
    (z.convertU8ListToStr, [65, 66, 0, 67], "AB"),
    (z.convertU8ListToStr, [0x61, 0xFF, 0x62], "a\ufffdb"),
    (z.convertU8ListToStr, list("µs".encode()), "µs"),
    (z.convertStrToU8List, "Az", [65, 122]),
    (z.convertIPAddrTo4U8, "192.168.1.110", [192, 168, 1, 110]),
    (z.convertMACAddrTo6U8, "00:1a:FF:0b:02:3c", [0, 26, 255, 11, 2, 60]),
])
def test_conversions(fn, arg, expected):
    assert fn(arg) == expected


@pytest.mark.parametrize("fn, arg", [
    (z.convert2U8ToU16, [1, 2, 3]),
    (z.convert4U8ToF32, [1]),
    (z.convert8U8ToI64, []),
    (z.convert2U8ToU16, [1, 256]),
    (z.convertIPAddrTo4U8, "300.1.1"),
    (z.convertMACAddrTo6U8, "00:zz:01"),
])
def test_conversion_input_out_of_range(fn, arg):
    with pytest.raises(InputDataNotInRangeError):
        fn(arg)


@pytest.mark.parametrize("value, width, expected", [
    (5, 4, [1, 0, 1, 0]),
    (0, 3, [0, 0, 0]),
    (255, 4, [1, 1, 1, 1]),
    (BIG, 2, [0, 0]),
    (BIG | 2, 101, [0, 1] + [0] * 98 + [1]),
    (7, 0, []),
])
def test_convertIntToBinaryList_takes_exactly_width_bits(value, width, expected):
    assert z.convertIntToBinaryList(value, width) == expected


def test_index_lists():
    assert z.convertIntToIndexList(0b1010) == [1, 3]
    assert z.convertIntToIndexList(0) == []
    assert z.convertIntToIndexList(BIG | 1) == [0, 100]
    assert z.convertIndexListToInt([1, 3]) == 10
    assert z.convertIndexListToInt([100]) == BIG
    assert z.convertIndexAndBinaryListsToInt([0, 2], [1, 5]) == 5
    assert z.convertIndexAndBinaryListsToInt([0, 1, 2], [1, -3]) == 1  # -3 clamps to 0, index 2 unpaired


@pytest.mark.parametrize("fn, args", [
    (z.convertIntToIndexList, (-1,)),
    (z.convertIntToBinaryList, (5, -1)),
    (z.convertIndexListToInt, ([2, -1],)),
    (z.convertIndexAndBinaryListsToInt, ([-1], [1])),
    (z.adjustDataList, ([1], -1)),
])
def test_negative_values_are_rejected_promptly(fn, args):
    with pytest.raises(InputDataNotInRangeError):
        fn(*args)


def test_list_shaping():
    assert z.coerce([-2, 0.5, 3]) == [0, 0.5, 1]
    assert z.coerce([-2, 5, 11], 0, 10) == [0, 5, 10]
    assert z.adjustDataList([1, 2, 3]) == [1, 2, 3, 0, 0, 0, 0, 0]
    assert z.adjustDataList(list(range(10))) == list(range(8))
    assert z.adjustDataList([1], 3) == [1, 0, 0]


def test_validation():
    z.checkEachItemInRange([0, 128, 255])
    with pytest.raises(InputDataNotInRangeError) as info:
        z.checkEachItemInRange([0, 255, 256], msg="pin values are bytes")
    assert info.value.msg == "pin values are bytes"
    with pytest.raises(InputDataNotInRangeError):
        z.checkEachItemInRange([5, 11], 0, 10)
    z.checkInputType(3, int)
    z.checkInputType(True, int)
    z.checkInputType("a", {int, str})
    with pytest.raises(InputTypeNotCorrectError):
        z.checkInputType(3.0, int)
    z.checkInputTypeConsistent(1, 2)
    with pytest.raises(z.InputTypeNotConsistentError):
        z.checkInputTypeConsistent(1, 1.0)
    pinmap = ["DI", "DO", "PWM"]
    assert z.checkFuncPinMap(pinmap, ["DO", "PWM"], (0, 2))
    assert not z.checkFuncPinMap(pinmap, ["DO"], (0, 0))
    assert z.checkPinMap(pinmap, ["DI", "DO"], [(0, 0), (0, 1)])
    assert not z.checkPinMap(pinmap, ["DI", "DO"], [(0, 0), (0, 2), (0, 1)])


@pytest.mark.parametrize("fn, args", [
    (z.readBit, (1.0, 0)), (z.fillBit, (1, "0")), (z.convertU16To2U8, ("1",)), (z.convertIntToIndexList, (2.0,)),
    (z.convert2U8ToU16, ([1, 2.0],)), (z.adjustDataList, ({1: 2},)), (z.convertIPAddrTo4U8, (3232235886,)),
    (z.checkInputType, (None, int)), (z.readBit, (None, 0)),
])
def test_wrong_types(fn, args):
    with pytest.raises(InputTypeNotCorrectError):
        fn(*args)
