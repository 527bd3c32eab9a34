"""PWM, counters, encoder, relays and potentiometers end to end against the emulator in both
families (positions and frequencies against the simulated signals, on a device time the tests move
themselves), the argument types the binding refuses, firmware statuses and short replies.
(The bytes of every request are checked in tests/cpp/test_timer_modules.cpp.)"""

import pytest

import pyzelvo as z

FROZEN = 1e-9  # device seconds per host second: device time moves by clock.advance() only
PULSE_READ, PULSE_SET_VALUE, START_PWM = 4130, 4145, 81


def frozen(target):
    target.clock.scale = FROZEN
    return target.clock


def test_pwm_end_to_end(attach, call):
    dev, target = attach("TavraD")
    assert call(dev, "PWM_open", 1) == 0
    assert call(dev, "PWM_setFrequency", 1, 2500) == 0
    assert call(dev, "PWM_setDutyCycle", 1, 12.5) == 0
    assert call(dev, "PWM_start", 1) == 0
    assert target.pwm.state(1) == {"open": True, "started": True, "frequency": 2500.0, "duty_cycle": 12.5,
                                   "output_frequency": 2500.0}
    assert call(dev, "PWM_setDutyCycle", 1, 101) == -7009  # FirmwarePWMError: the device refuses
    assert call(dev, "PWM_stop", 1) == 0 and target.pwm.state(1)["output_frequency"] == 0
    assert call(dev, "PWM_close", 1) == 0 and not target.pwm.state(1)["open"]
    assert target.pwm.state(0)["open"] is False


def test_counter_counts_the_simulated_input(usb_attach, call):
    dev, target = usb_attach("PellorK1D")
    clock = frozen(target)
    target.counter.set_input(1, 1000)
    assert call(dev, "Counter_open", 1) == 0
    assert call(dev, "Counter_setFreqWindow", 1, 50) == 0
    assert call(dev, "Counter_start", 1) == 0
    clock.advance(2)
    position, frequency = call(dev, "_Counter_read", 1)
    assert abs(position - 2000) <= 1 and frequency == pytest.approx(1000, rel=1e-3)
    assert call(dev, "Counter_setPosition", 1, 2**48 - 1) == 0
    clock.advance(0.01)
    assert call(dev, "Counter_readPosition", 1) in range(8, 11)  # wrapped past 2**48
    assert call(dev, "Counter_setEdge", 1, 0) == 0 and target.counter.state(1)["rising"] is False
    assert call(dev, "Counter_stop", 1) == 0 and call(dev, "Counter_close", 1) == 0


def test_counter_wired_to_the_pwm_output(usb_attach, call):
    dev, target = usb_attach("PellorK1AD")
    clock = frozen(target)
    target.counter.wire_pwm(0)
    for op in ("Counter_open", "Counter_start", "PWM_open"):
        assert call(dev, op, 0) == 0
    assert call(dev, "PWM_setFrequency", 0, 400) == 0 and call(dev, "PWM_start", 0) == 0
    clock.advance(0.5)
    assert abs(call(dev, "Counter_readPosition", 0) - 200) <= 1
    assert call(dev, "Counter_readFrequency", 0) == pytest.approx(400, rel=1e-3)


def test_encoder_follows_the_shaft(usb_attach, call):
    dev, target = usb_attach("PellorK1D")
    clock = frozen(target)
    target.encoder.set_velocity(-250)
    assert call(dev, "Encoder_open", 0) == 0 and call(dev, "Encoder_start", 0) == 0
    clock.advance(2)
    position, frequency = call(dev, "_Encoder_read", 0)
    assert abs(position + 500) <= 1 and frequency == pytest.approx(250, rel=1e-3)
    assert call(dev, "Encoder_setDirection", 0, -1) == 0 and call(dev, "Encoder_getDirection", 0) == 255
    assert call(dev, "Encoder_setPosition", 0, -2**47) == 0
    clock.advance(1)
    assert abs(call(dev, "Encoder_readPosition", 0) - (-2**47 + 250)) <= 1  # counted against the shaft
    assert call(dev, "Encoder_setFreqWindow", 0, 10) == -7011  # below the device's 20 ms


def test_relay_counters_follow_the_outputs(attach, call):
    dev, target = attach("TavraL")
    target.relay.set_count(4, 41)
    assert call(dev, "Relay_open", 0) == 0  # sends nothing
    assert call(dev, "DO_writePort", 0, 0b010001) == 0
    for _ in range(3):
        call(dev, "DO_togglePins", 0, [0, 3])
    assert call(dev, "Relay_read", 0, -1) == [2, 0, 0, 2, 42, 0]
    assert call(dev, "Relay_read", 0, 3) == [2]
    assert target.relay.closed(3) and not target.relay.closed(0)
    assert call(dev, "Relay_close", 0) == 0
    assert target.request_counts.get(6912) == 2


def test_potentiometers_end_to_end(attach, call):
    dev, target = attach("TavraP")
    assert call(dev, "DPOT_open", 0) == 0
    assert call(dev, "DPOT_writeByChannel", 0, 2, 1.0) == 0
    assert call(dev, "DPOT_readByChannel", 0, 2) == 255
    assert call(dev, "DPOT_writeAllChannel", 0, [0, 0.25, 1]) == 0
    assert target.dpot.ratios() == [0, 0.25, 1, 0.5]
    assert call(dev, "DPOT_readByChannel", 0, 1) == target.dpot.wiper(1) == 64
    assert call(dev, "DPOT_writeByChannel", 0, 4, 0.5) == -7001  # passes the check; the device has 0..3
    assert call(dev, "DPOT_writeAllChannel", 0, []) == 0
    assert call(dev, "DPOT_close", 0) == 0


@pytest.mark.parametrize(
    "product, op, args, error",
    [
        ("TavraD", "PWM_setFrequency", (0, "1000"), z.InputTypeNotCorrectError),
        ("TavraD", "PWM_setDutyCycle", (0, None), z.InputTypeNotCorrectError),
        ("TavraD", "PWM_open", (0.0,), z.InputTypeNotCorrectError),
        ("TavraD", "PWM_open", (2,), z.PWMChannelNotAvaliableError),
        ("TavraD", "PWM_setFrequency", (0, 1e39), z.InputDataNotInRangeError),
        ("PellorK1D", "Counter_setFreqWindow", (0, [100]), z.InputTypeNotCorrectError),
        ("PellorK1D", "Counter_setPosition", (0, 1.0), z.InputTypeNotCorrectError),
        ("PellorK1D", "Counter_setPosition", (0, 2**48), z.InputDataNotInRangeError),
        ("PellorK1D", "Counter_setPosition", (0, 2**70), z.InputDataNotInRangeError),
        ("PellorK1D", "Encoder_setPosition", (0, 2**47), z.InputDataNotInRangeError),
        ("PellorK1D", "Encoder_setFreqWindow", (0, float("nan")), z.InputDataNotInRangeError),
        ("PellorK1D", "Encoder_open", (1,), z.EncoderChannelNotAvaliableError),
        ("TavraP", "DPOT_writeAllChannel", (0, [0.5, "0.5"]), z.InputTypeNotCorrectError),
        ("TavraP", "DPOT_writeAllChannel", (0, 0.5), z.InputTypeNotCorrectError),
        ("TavraP", "DPOT_writeByChannel", (0, 1, "half"), z.InputTypeNotCorrectError),
        ("TavraP", "DPOT_open", ("0",), z.InputTypeNotCorrectError),
        ("TavraL", "Relay_read", (0, 6), z.RelayCounterIndexError),
        ("TavraL", "Relay_open", (None,), z.InputTypeNotCorrectError),
    ],
)
def test_arguments_are_refused_before_anything_is_sent(call, product, op, args, error):
    dev = getattr(z, product)()  # never connected: any exchange would fail differently
    try:
        with pytest.raises(error):
            call(dev, op, *args)
    finally:
        dev.close()


@pytest.mark.parametrize(
    "product, check, good, bad, error",
    [
        ("TavraD", "_checkPWMChannel", 1, -1, z.PWMChannelNotAvaliableError),
        ("PellorK1D", "_checkCounterChannel", 1, 2, z.CounterChannelNotAvaliableError),
        ("PellorK1D", "_checkEncoderIndex", 0, 1, z.EncoderChannelNotAvaliableError),
        ("TavraL", "_checkRelayPort", 0, 1, z.RelayPortNotAvaliableError),
        ("TavraL", "_checkRelayindex", -1, -2, z.RelayCounterIndexError),
        ("TavraP", "_checkDPOTPort", 0, 1, z.DPOTPortNotAvaliableError),
        ("TavraP", "_checkDPOTChannelAmount", 4, 5, z.DPOTChannelNotAvaliableError),
    ],
)
def test_checks(product, check, good, bad, error):
    dev = getattr(z, product)(verbose=False)
    try:
        assert getattr(dev, check)(good) is True
        with pytest.raises(error):
            getattr(dev, check)(bad)
    finally:
        dev.close(verbose=False)


def test_keywords_and_statuses(attach):
    dev, target = attach("TavraD")
    assert dev.PWM_open(channel=0) == 0
    target.force_status(START_PWM, 25, at=1)
    assert dev.PWM_start(channel=0, timeout=1) == -7009
    assert dev.PWM_setFrequency(channel=0, frequency=50) == 0


def test_short_replies_raise_and_one_extra_byte_does_not(usb_attach):
    dev, target = usb_attach("PellorK1D")
    target.edit_replies(PULSE_READ, append=b"\x07")
    assert dev.Counter_readPosition(0) == 0
    target.edit_replies(PULSE_READ, truncate_to=9)
    with pytest.raises(z.FirmwareOtherError, match="_Counter_read"):
        dev.Counter_readFrequency(0)


def test_a_preset_is_sent_once(usb_attach):
    dev, target = usb_attach("PellorK1D")
    target.ignore_first(PULSE_SET_VALUE, 1)
    with pytest.raises(z.ReceivePacketTimeoutError):
        dev.Counter_setPosition(0, 5, timeout=0.3)
    assert target.request_count(PULSE_SET_VALUE) == 1
