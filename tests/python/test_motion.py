"""Four-axis motion end to end against the emulated chip, in both families: moves reach their
targets, limits stop, the home search ends at its offset, interpolations reach their end points,
the helix climbs its turns, capture latches, break points count, the velocity override reverses.
Also what only the binding decides (records, argument types). The bytes of every request are
checked in tests/cpp/test_mcx514_module.cpp and test_mcx514_registers.cpp."""

import asyncio
import threading

import pytest

import pyzelvo as z
from support.helpers import eventually

MOTION = 208
LP, RP, RR0, WR2 = 0x30, 0x31, 0xE8, 0xE2
FAST = dict(velo=200_000, accel=4_000_000, decel=4_000_000)


def wait_stopped(call, dev, axis, port=0, within=5.0):
    assert eventually(lambda: call(dev, "Motion_getMoveStatus", port, axis) == 1, within)


def move(call, dev, axis, mode, target, port=0, velo=FAST["velo"]):
    assert call(dev, "Motion_cfgAxisMove", port, axis, mode, target, velo, FAST["accel"], FAST["decel"]) == 0
    assert call(dev, "Motion_startSingleAxisMove", port, axis) == 0


@pytest.fixture
def kinora(attach):
    dev, target = attach("Kinora")
    assert dev.Motion_open(0) == 0
    return dev, target


def test_position_moves_reach_their_targets_and_the_encoder_follows(kinora, call):
    dev, target = kinora
    target.motion.set_encoder_ratio(0, 2.0)
    move(call, dev, 0, 1, 5000)  # relative
    wait_stopped(call, dev, 0)
    assert call(dev, "Motion_getLogicalPosi", 0, 0) == 5000
    assert call(dev, "Motion_getEncoderPosi", 0, 0) == 10000
    move(call, dev, 0, 0, -1234)  # absolute
    wait_stopped(call, dev, 0)
    assert target.motion.position(0) == (-1234, 2 * -1234)
    assert call(dev, "Motion_rstEncoderPosi", 0, 0, 7) == 0 and target.motion.position(0) == (7, 7)
    assert dev.axis_1.encoder_position == 7


def test_continuous_move_is_reversed_by_a_velocity_override(kinora, call):
    dev, target = kinora
    move(call, dev, 1, 2, 0, velo=20_000)
    assert eventually(lambda: target.motion.position(1)[0] > 2000)
    assert dev.axis_2.velocity_move_direction == 0
    assert call(dev, "Motion_overrideAxisVelocity", 0, 1, -30_000) == 0
    assert eventually(lambda: target.motion.sync_counts(1)["reversals"] == 1)
    turned = target.motion.position(1)[0]
    assert eventually(lambda: target.motion.position(1)[0] < turned - 1000)
    assert dev.axis_2.velocity_move_direction == 1 and target.motion.register(0x45, 1) == 30_000
    assert call(dev, "Motion_stop", 0, 1, 0) == 0
    wait_stopped(call, dev, 1)
    assert dev.axis_2.stop_decl == 0


def test_hardware_limit_stops_the_drive(kinora, call):
    dev, target = kinora
    target.motion.place_switch(2, "limit_forward", 800)
    assert call(dev, "Motion_cfgLimit", 0, 2, 1, 1, 1) == 0
    move(call, dev, 2, 2, 0)  # a velocity move stops at once at the limit (cfgAxisMove sets it)
    wait_stopped(call, dev, 2)
    assert call(dev, "Motion_getLogicalPosi", 0, 2) == 800
    assert call(dev, "Motion_getLimitStatus", 0, 2) == [1, 0]
    assert dev._Motion_writeRR2(0, 2) == 1 << 2 and (dev._Motion_writeRR0(0) >> 6) & 1 == 1


@pytest.mark.parametrize("reset", [0, 1])
def test_home_search_ends_at_the_offset(kinora, call, reset):
    dev, target = kinora
    target.motion.place_switch(3, "home", -3000, -2800)
    target.motion.place_switch(3, "z", 0, period=400)
    assert call(dev, "Motion_cfgHome", 0, 3, 1, 1) == 0
    assert call(dev, "Motion_cfgEncoder", 0, 3, 0) == 0  # Z counts as active high
    # Search backward at 20000/s, approach at 10 % (2000/s), then Z backward, then 500 forward.
    assert call(dev, "Motion_cfgFindRef", 0, 3, 0, 1, 20_000, 200_000, 10.0, reset, 500) == 0
    assert target.motion.register(0x14, 3) == 2000
    assert call(dev, "Motion_findRef", 0, 3) == 0
    assert eventually(lambda: call(dev, "Motion_checkRef", 0, 3) == 1, 10)
    # Home's edge found forward at -3000, the next Z backward at -3200, then the offset.
    assert target.motion.position(3) == ((0, 0) if reset else (-2700, -2700))
    assert dev._Motion_writeRR2(0, 3) == 0
    assert dev.axis_4.motion_dict["Enable Reset Position"] == reset
    assert dev.axis_4.motion_dict["Offset Position"] == 500


def test_linear_interpolations_reach_their_end_points(kinora, call):
    dev, target = kinora
    assert call(dev, "Motion_cfg2AxisLinearInterpo", 0, 1, 3000, 0, -4000, 100_000, 1_000_000, 1_000_000) == 0
    assert (dev.linear_interpo.main_axis, dev.linear_interpo.main_dest, dev.linear_interpo.mode) == (0, -4000, 2)
    assert call(dev, "Motion_startLinearInterpo", 0) == 0
    assert eventually(lambda: dev._Motion_writeRR0(0) == 0)
    assert [target.motion.position(a)[0] for a in range(4)] == [-4000, 3000, 0, 0]
    assert call(dev, "Motion_cfg4AxisLinearInterpo", 0, 3, 10, 2, 20, 1, 30, 0, 40, 50_000, 500_000, 500_000) == 0
    assert call(dev, "Motion_startLinearInterpo", 0) == 0
    assert eventually(lambda: dev._Motion_writeRR0(0) == 0)
    assert [target.motion.position(a)[0] for a in range(4)] == [-3960, 3030, 20, 10]


def test_circle_and_helix_end_where_they_should(kinora, call):
    dev, target = kinora
    # A half circle counter-clockwise around (+500, 0): axis 0 ends at +1000.
    assert call(dev, "Motion_cfgCircularInterpo", 0, 0, 1, 500, 0, 1000, 0, 1, 100_000, 1_000_000, 1_000_000) == 0
    assert call(dev, "Motion_startCircularInterpo", 0) == 0
    assert eventually(lambda: dev._Motion_writeRR0(0) == 0)
    assert [target.motion.position(a)[0] for a in range(2)] == [1000, 0]
    # Two full turns around (+300, 0), axis 2 climbing 150 per turn.
    target.motion.helical_calc_seconds = 0.01
    args = (0, 300, 0, 0, 0, 1, 150, 0, 0, 2, 200_000, 0, 2000.0)
    assert call(dev, "Motion_cfgHelicalInterpo", *args) == 0
    assert dev.helical_interpo.calculation_result == round(2 * 2 * 3.141592653589793 * 300)
    assert call(dev, "Motion_startHelicalInterpo", 0) == 0
    assert eventually(lambda: dev._Motion_writeRR0(0) == 0)
    assert [target.motion.position(a)[0] for a in range(3)] == [1000, 0, 300]


def test_helical_calculation_that_never_ends_times_out(kinora, call):
    dev, target = kinora
    target.motion.helical_calc_seconds = None
    dev.helical_interpo.calculation_result = 42
    assert call(dev, "Motion_cfgHelicalInterpo", 0, 300, 0, 0, 0, 0, 0, 0, 0, 1, 1000, 1, 30.0) == -8004
    assert dev.helical_interpo.calculation_result == 42


def test_capture_latches_on_z_and_break_points_count(kinora, call):
    dev, target = kinora
    target.motion.place_switch(0, "z", 777, period=10_000)
    assert call(dev, "Motion_cfgEncoder", 0, 0, 0) == 0
    assert call(dev, "Motion_cfgCapture", 0, 0, 0, 0) == 0
    assert call(dev, "Motion_enableCapture", 0, 0, 1) == 0
    assert call(dev, "Motion_cfgBreakPoint", 0, 0, 0, 1, 300, 5, 10, 4) == 0
    assert call(dev, "Motion_enableBreakPoint", 0, 0, 1) == 0
    move(call, dev, 0, 1, 2000)
    wait_stopped(call, dev, 0)
    assert call(dev, "Motion_readCapturePoint", 0, 0) == 777
    assert target.motion.sync_counts(0) == {"break_points": 1, "split_pulses": 4, "captures": 1, "reversals": 0}
    assert target.motion.register(0x10, 0) == 300  # the comparison position


def test_servo_line_follows_the_polarity(kinora, call):
    dev, target = kinora
    assert call(dev, "Motion_enableServoOn", 0, 1) == 0 and target.motion.gpio(1) & 1 == 1
    assert call(dev, "Motion_enableServoOff", 0, 1) == 0 and target.motion.gpio(1) & 1 == 0
    assert call(dev, "Motion_cfgAxis", 0, 1, 0, 0, 0, 0) == 0  # servo on is active low now
    assert call(dev, "Motion_enableServoOn", 0, 1) == 0 and target.motion.gpio(1) & 1 == 0


def test_multi_axis_start_releases_every_held_axis(kinora, call):
    dev, target = kinora
    for axis, position in ((0, 4000), (3, -2500)):
        assert call(dev, "Motion_cfgAxisMove", 0, axis, 0, position, 150_000, 2_000_000, 2_000_000) == 0
    assert call(dev, "Motion_startMultiAxisMove", 0, [3, 0]) == 0
    assert eventually(lambda: dev._Motion_writeRR0(0) == 0)
    assert (target.motion.position(0)[0], target.motion.position(3)[0]) == (4000, -2500)
    assert target.motion.held() == 0 and target.motion.pending_holds() == 0


def test_a_failing_step_is_reported_and_the_rest_still_run(kinora, call):
    dev, target = kinora
    target.reset_request_counts()
    # The second WR2 write of cfgHome (the polarity) fails; both bits were still sent.
    target.force_status(MOTION, 54, 6, nth=2, prefix=bytes([0, WR2]))
    assert call(dev, "Motion_cfgHome", 0, 0, 1, 1) == -7019
    assert target.motion.register(WR2, 0) & 0b1100 == 0b1100
    assert target.request_count(MOTION) == 4


@pytest.mark.parametrize("slot", [1, 2, 4])
def test_koru_slots_move_their_own_chip(attach, call, slot):
    dev, target = attach("Koru")
    move(call, dev, 1, 1, 321, port=slot)
    wait_stopped(call, dev, 1, port=slot)
    for port in target.motion.ports:
        assert target.motion.position(1, port=port)[0] == (321 if port == slot - 1 else 0)
    with pytest.warns(z.MotionPortNotAvaliable), pytest.raises(z.MotionPortNotAvaliable):
        dev.Motion_getLogicalPosi(3, 1)  # slot 3 has no motion chip


def test_two_threads_configuring_one_axis_keep_both_settings(kinora):
    dev, target = kinora
    errors = []

    def run(op, *args):
        try:
            for _ in range(25):
                assert op(0, 0, *args) == 0
        except Exception as e:  # noqa: BLE001 - reported below
            errors.append(e)

    threads = [threading.Thread(target=run, args=(dev.Motion_cfgHome, 1, 1)),
               threading.Thread(target=run, args=(dev.Motion_cfgAlarm, 1, 1))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    assert target.motion.register(WR2, 0) & 0b11_0000_1100 == 0b11_0000_1100


def test_two_tasks_configuring_one_axis_keep_both_settings(kinora):
    dev, target = kinora

    async def many(op, *args):
        for _ in range(25):
            assert await op(0, 1, *args) == 0

    async def both():
        await asyncio.gather(many(dev.Motion_cfgInposi_async, 1, 1), many(dev.Motion_cfgLimit_async, 1, 1, 1))

    asyncio.run(both())
    assert target.motion.register(WR2, 1) & 0b1100_1100_0000 == 0b1100_1100_0000


# --- what the binding decides ------------------------------------------------------------------------


def test_records_are_live_and_shared_by_both_forms(kinora):
    dev, _ = kinora
    assert dev._getAxisHandle(7).acceleration == dev.axis_4.acceleration == 100_000
    dev._getAxisHandle(9).velocity = -5
    assert dev.axis_4.velocity == -5
    settings = dev.axis_2.motion_dict
    assert isinstance(settings, __import__("collections").abc.MutableMapping)
    assert settings["Approach Velocity Percent"] == 20.0 and settings["Offset Position"] == 2000
    settings["Home Enable"] = True
    assert dev.axis_2.motion_dict["Home Enable"] == 1 and len(settings) == 22
    with pytest.raises(KeyError):
        settings["Home enable"] = 1
    with pytest.raises(z.InputTypeNotCorrectError):
        settings["Offset Position"] = 1.5
    asyncio.run(dev.Motion_cfgJerkAndAccelMode_async(0, 1, 7, 1))
    assert (dev.axis_2.jerk, dev.axis_2.acceleration_mode) == (7, 1)
    assert "operation_mode=0" in repr(dev.axis_1)


def test_checks_raise_their_warning_classes_before_sending(kinora):
    dev, target = kinora
    target.reset_request_counts()
    with pytest.warns(z.MotionAxisError), pytest.raises(z.MotionAxisError):
        dev.Motion_cfgAxis(0, 4, 0, 0, 0, 0)
    with pytest.warns(z.MotionPortNotAvaliable), pytest.raises(z.MotionPortNotAvaliable):
        dev.Motion_stop(1, 0, 0)
    with pytest.raises(z.InputTypeNotCorrectError):
        dev._checkMCX514Axis(1.5)
    with pytest.raises(z.InputDataNotInRangeError):
        dev.Motion_cfgAxisMove(0, 0, 0, 0, 100, 0, 100)  # acceleration 0
    assert dev._checkMCX514Axis(9, mode=False) is True
    assert target.request_count(MOTION) == 0


def test_register_service_operations_wrap_and_constants_are_exported(kinora):
    dev, target = kinora
    assert z.MOTION_05_DV == 5 and z.MOTION_FE_HDRST == 0xFE and z.MOTION_AF_SYNC0123ACT == 0xAF
    assert dev._Motion_setDriveSpeed(0, 2, 2**32 + 9) == 0 and target.motion.register(0x05, 2) == 9
    assert dev._Motion_getDrivePulseNumberPoint(0, 2) == 0
    assert dev._Motion_setDrivePositionFinishPoint(0, 2, -3) == 0 and dev._Motion_getDrivePulseNumberPoint(0, 2) == -3
    # RR3 page 0: every input open, so each shows the level that counts as inactive (WR2 says low).
    assert asyncio.run(dev._Motion_writeRR3_async(0, 2, 0)) == 0b1_1011_0110
    assert dev.Motion_setLogicalPosi(0, 2, -8) == 0 and dev.Motion_getLogicalPosi(0, 2) == -8
