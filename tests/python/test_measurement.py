"""The multimeter reading record: decoding vectors (units and prefixes, overloads, the NCV bar,
ranges without a unit), the flags, the text form and malformed frames."""

from __future__ import annotations

from decimal import Decimal

import pytest

import pyzelvo as z

MODES = ["ACV", "ACmV", "DCV", "DCmV", "Hz", "%", "OHM", "CONT", "DIDOE", "CAP", "deg C", "deg F", "DCuA",
         "ACuA", "DCmA", "ACmA", "DCA", "ACA", "HFE", "Live", "NCV", "LozV", "ACA", "DCA", "LPF", "AC/DC", "LPF",
         "AC+DC", "LPF", "AC+DC2", "INRUSH"]


def frame(mode, range_="0", display="", bar=(0, 0), flags=(0, 0, 0)) -> bytes:
    return bytes([mode]) + range_.encode() + display.center(7).encode() + bytes(bar) + bytes(flags)


@pytest.mark.parametrize("mode, range_, display, display_decimal, display_unit, value, unit", [
    (6, "1", "1.234", Decimal("1.234"), "kΩ", Decimal("1234"), "Ω"),
    (9, "0", "10.00", Decimal("10.00"), "nF", Decimal("10.00E-9"), "F"),
    (4, "6", "2.5", Decimal("2.5"), "MHz", Decimal("2.5E6"), "Hz"),
    (2, "3", "-12.7", Decimal("-12.7"), "V", Decimal("-12.7"), "V"),
    (1, "0", "400.0", Decimal("400.0"), "mV", Decimal("0.4000"), "V"),
    (12, "1", "99", Decimal("99"), "uA", Decimal("99E-6"), "A"),
    (10, "0", "21.5", Decimal("21.5"), "deg C", Decimal("21.5"), "deg C"),
    (5, "0", "50.0", Decimal("50.0"), "%", Decimal("50.0"), "%"),
    (18, "0", "120", Decimal("120"), "B", Decimal("120"), "B"),
    (7, "0", "0.3", Decimal("0.3"), "Ω", Decimal("0.3"), "Ω"),
    # ranges without a unit: the reading is the display value
    (17, "0", "1.5", Decimal("1.5"), None, Decimal("1.5"), None),
    (19, "0", "5", Decimal("5"), None, Decimal("5"), None),         # Live
    (30, "0", "12.5", Decimal("12.5"), None, Decimal("12.5"), None),  # INRUSH
    (6, "9", "1.0", Decimal("1.0"), None, Decimal("1.0"), None),
])
def test_readings(mode, range_, display, display_decimal, display_unit, value, unit):
    m = z.Measurement(frame(mode, range_, display))
    assert (m.mode, m.range, m.display) == (MODES[mode], range_, display)
    assert m.display_decimal == display_decimal and isinstance(m.value, Decimal)
    assert (m.display_unit, m.value, m.unit) == (display_unit, value, unit)
    assert not m.overload


@pytest.mark.parametrize("display, negative", [("O.L", False), ("OL", False), ("-OL.", True), ("-.OL", True)])
def test_overloads_keep_the_prefixed_unit(display, negative):
    m = z.Measurement(frame(6, "5", display))
    assert m.overload and m.value.is_infinite() and m.value.is_signed() == negative
    assert (m.display_unit, m.unit) == ("MΩ", "MΩ")


@pytest.mark.parametrize("display, level", [("EF", 0), ("-", 1), ("---", 3), ("-----", 5)])
def test_the_ncv_bar_level(display, level):
    m = z.Measurement(frame(20, "0", display))
    assert m.display_decimal == level and m.unit == "NCV"


@pytest.mark.parametrize("flags, on", [
    ((0x0A, 0, 0), {"isMax", "isHold"}),
    ((0x05, 0, 0), {"isMin", "isRel"}),
    ((0, 0x07, 0), {"isAuto", "hasBatteryWarning", "hasHVWarning"}),
    ((0, 0, 0x0F), {"isDC", "isMaxPeak", "isMinPeak", "isBarPol"}),
    ((0xF0, 0xF8, 0xF0), set()),  # bits outside the flags mean nothing
])
def test_flags(flags, on):
    m = z.Measurement(frame(2, "0", "1", flags=flags))
    names = ["isMax", "isMin", "isHold", "isRel", "isAuto", "hasBatteryWarning", "hasHVWarning", "isDC",
             "isMaxPeak", "isMinPeak", "isBarPol"]
    assert {n for n in names if getattr(m, n) is True} == on


def test_bar_graph_position_and_binary():
    b = frame(2, "0", "1", bar=(4, 2))
    m = z.Measurement(b)
    assert m.progress == 42 and m.binary == b


def test_text_form():
    m = z.Measurement(frame(6, "1", "1.234", flags=(0x02, 0x01, 0x09)))  # isBarPol is not listed
    assert str(m) == (
        "mode=OHM\nrange=1\ndisplay=1.234\ndisplay_decimal=1.234\ndisplay_unit=kΩ\noverload=False\n"
        "value=1234.000\nunit=Ω\nisMax=False\nismin=False\nisHold=True\nisRel=False\nisAuto=False\n"
        "hasBatteryWarning=False\nhashasHVWarning=True\nisDC=True\nisMaxPeak=False\nisMinPeak=False\n")


@pytest.mark.parametrize("b", [
    frame(2, "0", "1")[:13],      # short
    b"",
    frame(31, "0", "1"),          # beyond the mode table
    frame(2, "0", "1.2.3"),       # not a number
    frame(2, "0", "abc"),
])
def test_malformed_frames_raise_one_library_error(b):
    with pytest.raises(z.InputDataNotInRangeError):
        z.Measurement(b)


def test_only_bytes_are_taken():
    with pytest.raises(z.InputTypeNotCorrectError):
        z.Measurement("not bytes")
    assert z.Measurement(bytearray(frame(2, "0", "1"))).value == 1
