"""The stepper drive end to end against the emulated drive, in both families: moves reach their
targets, the encoder follows its factor, switches stop the motor, searches end at their offset with
counters reset, configuration survives a file round trip and two configuring threads or tasks.
The bytes of every request are checked in tests/cpp/test_tmc5240_module.cpp."""

import asyncio
import threading

import pytest

import pyzelvo as z
from support.helpers import eventually

WRITE_REG = 7173
GCONF, GSTAT, RAMPMODE, XACTUAL, ENC_CONST, SWMODE = 0x00, 0x01, 0x20, 0x21, 0x3A, 0x34
SHAFT = 1 << 4
FAILED_55 = -7020  # the code of firmware status 55
FAST = dict(speed=200_000, acceleration=4_000_000)


@pytest.fixture
def torvane(attach):
    dev, target = attach("TorvaneST")
    assert dev.Motion_open(0) == 0
    return dev, target


def finished(call, dev, within=5.0):
    assert eventually(lambda: call(dev, "Motion_getProcessState", 0) == 2, within)


def go_to(call, dev, position, mode=0):
    a = FAST["acceleration"]
    assert call(dev, "Motion_startPositionMove", 0, position, FAST["speed"], a, a, mode) == 0


def search_args(kind, reset, search_direction=0, offset=100):
    a, s = FAST["acceleration"], FAST["speed"]
    if kind == "limit":
        return (0, 0, s, s // 10, a, offset, reset)
    return (0, s, s // 10, a, search_direction, 1 - search_direction, offset, reset)


def test_position_moves_reach_their_targets_and_the_encoder_follows(torvane, call):
    dev, target = torvane
    go_to(call, dev, 5000)
    finished(call, dev)
    assert call(dev, "Motion_readEncoderPosition", 0) == [5000, 5000]
    go_to(call, dev, -1500, mode=1)  # relative
    finished(call, dev)
    assert target.stepper.position() == (3500, 3500)
    assert call(dev, "Motion_cfgEncoder", 0, 1, -20) == 0  # reversed encoder, both counters set
    go_to(call, dev, -1020)
    finished(call, dev)
    assert call(dev, "Motion_readEncoderPosition", 0) == [980, -1020]
    assert target.stepper.register(ENC_CONST) == -65536


def test_velocity_move_backward_reads_a_negative_velocity_until_stopped(torvane, call):
    dev, target = torvane
    a = FAST["acceleration"]
    assert call(dev, "Motion_startVelocticyMove", 0, 30_000, 1, a, a) == 0
    assert eventually(lambda: call(dev, "Motion_readCurrentVelocity", 0) == -30_000)
    assert call(dev, "Motion_getProcessState", 0) == 1
    assert call(dev, "Motion_stopProcess", 0) == 0
    assert eventually(lambda: not target.stepper.moving())
    assert target.stepper.position()[0] < 0 and call(dev, "Motion_readCurrentVelocity", 0) == 0


def test_scan_move_goes_back_and_forth(torvane, call):
    dev, target = torvane
    a = FAST["acceleration"]
    assert call(dev, "Motion_startScanMove", 0, -300, 300, 20_000, a) == 0
    seen = set()

    def both_ends():
        x = target.stepper.position()[0]
        seen.add("low" if x <= -250 else "high" if x >= 250 else "between")
        return {"low", "high"} <= seen

    assert eventually(both_ends)
    assert call(dev, "Motion_stopProcess", 0) == 0
    assert eventually(lambda: not target.stepper.moving())


@pytest.mark.parametrize("reset, resets", [("true", True), (True, True), (1, True), ("True", False), (0, False)])
def test_home_search_ends_at_the_offset(torvane, call, reset, resets):
    dev, target = torvane
    target.stepper.place_switch("home", 3000, 3200)
    assert call(dev, "Motion_startFindHome", *search_args("home", reset)) == 0
    finished(call, dev)
    position, encoder = target.stepper.position()
    assert (position, encoder) == ((0, 0) if resets else (3300, 3300))  # met backward at 3200


@pytest.mark.parametrize("kind, place", [
    ("limit", lambda s: s.place_switch("left", -2000)),
    ("z", lambda s: s.place_switch("z", 350, period=700)),
])
def test_limit_and_z_searches_end_at_their_offset(torvane, call, kind, place):
    dev, target = torvane
    place(target.stepper)
    name = {"limit": "Motion_startFindLimit", "z": "Motion_startFindZPolarity"}[kind]
    assert call(dev, name, *search_args(kind, "false", search_direction=1)) == 0
    finished(call, dev)
    edge = -2000 if kind == "limit" else -350  # the first index pulse backward
    assert abs(target.stepper.position()[0] - (edge + 100)) <= 1


def test_an_enabled_stop_switch_stops_a_move_and_shows_in_the_limit_status(torvane, call):
    dev, target = torvane
    target.stepper.place_switch("right", 1500)
    assert call(dev, "Motion_cfgLimit", 0, 1, 1, 1) == 0
    go_to(call, dev, 5000)
    assert eventually(lambda: call(dev, "Motion_getProcessState", 0) == 3)
    assert target.stepper.position()[0] == 1500
    assert call(dev, "Motion_getLimitStatus", 0) == [0, 1, 0]
    dev._Motion_getLimitSwitch(0)
    assert dev.status_bit7_stopr == 1 and dev.status_bit6_stopl == 0


def test_reversed_motor_swaps_the_switches_and_turns_the_encoder(torvane, call):
    dev, target = torvane
    assert call(dev, "Motion_cfgAxisDirection", 0, 1) == 0
    assert target.stepper.register(GCONF) & SHAFT and target.stepper.register(SWMODE) & SHAFT
    target.stepper.place_switch("left", -800)  # physical: XACTUAL +800 reaches it
    assert call(dev, "Motion_cfgLimit", 0, 1, 1, 1) == 0
    go_to(call, dev, 3000)
    assert eventually(lambda: call(dev, "Motion_getProcessState", 0) == 3)
    assert target.stepper.position() == (800, -800)


@pytest.mark.parametrize("op, args", [("Motion_cfgEncoder", (0, 123)), ("Motion_rstEncoderPosi", (123,))])
def test_setting_the_counters_holds_the_motor(torvane, call, op, args):
    dev, target = torvane
    go_to(call, dev, 2000)
    finished(call, dev)
    assert call(dev, op, 0, *args) == 0
    assert target.stepper.register(RAMPMODE) == 3
    assert not target.stepper.moving() and target.stepper.position() == (123, 123)


def test_servo_line_alarms_and_status_bits(torvane, call):
    dev, target = torvane
    assert [getattr(dev, n) for n in ("status_bit0_resetflag", "status_bit5_positionreach")] == [0, 0]
    assert call(dev, "Motion_enableServoOn", 0) == 0 and target.stepper.outputs() & 1 == 0
    assert call(dev, "Motion_enableServoOff", 0) == 0 and target.stepper.outputs() & 1 == 1
    target.stepper.raise_fault(0b10110)
    assert call(dev, "Motion_getAlarmStatus", 0) == [1, 1, 1]
    assert dev.status_bit1_driver_err == 1 and dev.status_bit0_resetflag == 1
    assert call(dev, "_Motion_clearFault", 0) == 0
    assert call(dev, "Motion_getAlarmStatus", 0) == [0, 0, 0]
    assert dev._TMC5240_getSPIStatus(0x21) == 0
    assert (dev.status_bit0_resetflag, dev.status_bit5_positionreach, dev.status_bit1_driver_err) == (1, 1, 0)


def test_parameters_and_ramp_tables(torvane):
    dev, target = torvane
    assert dev.Motion_getParameters(0) == 0
    table = dev.TMC5240_default_dict
    assert list(table)[17:19] == ["x68_MSLUT8", "x69_MSLUT9"] and table["x3A_ENC_CONST"] == [0x3A, 65536]
    assert asyncio.run(dev.Motion_getParameters_async(0)) == 0
    assert dev._Motion_setRamp(0) == 0
    assert target.stepper.register(0x26) == dev.axis.acceleration == 100_000
    assert dev.TMC5240_main_dict["vstop_2B"] == [0x2B, 500]


def test_a_failing_step_is_reported_after_every_step_ran(torvane):
    dev, target = torvane
    target.reset_request_counts()
    target.edit_replies(WRITE_REG, nth=2, set_byte=(6, 55))
    assert dev.Motion_cfgEncoder(0, 0, 5) == FAILED_55
    assert target.request_count(WRITE_REG) == 4  # the steps after the failing one ran
    assert dev._Motion_write(0, ENC_CONST, 65536) == 0  # the raw result byte, uninterpreted
    target.edit_replies(WRITE_REG, set_byte=(6, 55))
    assert dev._Motion_write(0, ENC_CONST, 65536) == 55


def test_checks_refuse_before_sending(torvane):
    dev, target = torvane
    target.reset_request_counts()
    with pytest.raises(z.TVSTPortNotAvaliable):
        dev.Motion_stopProcess(1)
    with pytest.raises(z.InputDataNotInRangeError):
        dev.Motion_startVelocticyMove(0, 0, 0, 100, 100)
    with pytest.raises(z.InputTypeNotCorrectError):
        dev.Motion_startPositionMove(0, 1.5, 100, 100, 100, 0)
    assert sum(target.request_counts.values()) == 0


# --- configuration from two places at once ----------------------------------------------------------


def test_two_threads_configuring_the_drive_keep_both_settings(torvane):
    dev, target = torvane
    errors = []

    def run(op, *args):
        try:
            for _ in range(20):
                assert op(0, *args) == 0
        except Exception as e:  # noqa: BLE001 - reported below
            errors.append(e)

    threads = [threading.Thread(target=run, args=(dev.Motion_cfgAxisDirection, 1)),
               threading.Thread(target=run, args=(dev.Motion_cfgLimit, 1, 1, 1))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    assert target.stepper.register(SWMODE) & 0b1_1111 == 0b1_1111


def test_two_tasks_configuring_the_drive_keep_both_settings(torvane):
    dev, target = torvane

    async def many(op, *args):
        for _ in range(20):
            assert await op(0, *args) == 0

    async def both():
        await asyncio.gather(many(dev.Motion_cfgAxisDirection_async, 1), many(dev.Motion_cfgLimit_async, 1, 0, 0))

    asyncio.run(both())
    assert target.stepper.register(SWMODE) & 0b1_1111 == 0b1_0010


# --- the configuration file --------------------------------------------------------------------------


@pytest.mark.parametrize("awaitable", [False, True])
def test_file_round_trip_reprograms_the_drive(torvane, tmp_path, awaitable):
    dev, target = torvane
    ini = tmp_path / "stepper.ini"
    ini.write_text("")
    assert dev.Motion_cfgAxisDirection(0, 1) == 0 and dev.Motion_cfgEncoder(0, 1, 0) == 0
    assert dev.Motion_cfgLimit(0, 1, 0, 1) == 0
    assert dev.Motion_openCfgFile(str(ini)) == 0 and dev.Motion_saveCfgFile() == 0
    text = ini.read_text()
    assert text.startswith("[Axis_1]\n") and "inverse motion direction = TRUE" in text
    assert "inverse encoder direction = TRUE" in text
    assert dev.Motion_cfgAxisDirection(0, 0) == 0 and dev.Motion_cfgEncoder(0, 0, 0) == 0
    assert dev.Motion_cfgLimit(0, 0, 0, 0) == 0
    load = asyncio.run(dev.Motion_loadCfgFile_async()) if awaitable else dev.Motion_loadCfgFile()
    assert load == 0
    assert target.stepper.register(ENC_CONST) == -65536
    assert target.stepper.register(GCONF) & SHAFT
    assert target.stepper.register(SWMODE) & 0b1_1111 == 0b1_1110
    with pytest.raises(z.TVSTPortNotAvaliable):
        dev.Motion_loadCfgFile(port=1)


def test_hand_written_file_with_quotes_and_odd_case(torvane, tmp_path):
    dev, target = torvane
    ini = tmp_path / "stepper.ini"
    ini.write_text("")
    dev.Motion_openCfgFile(str(ini))
    dev.Motion_saveCfgFile()
    text = ini.read_text().replace("inverse encoder direction = FALSE", 'Inverse ENCODER Direction: "TRUE"')
    ini.write_text("; written by hand\n" + text)
    assert dev.Motion_loadCfgFile() == 0
    assert dev.axis.motion_dict["Inverse Encoder Direction"] == 1
    assert target.stepper.register(ENC_CONST) == -65536
