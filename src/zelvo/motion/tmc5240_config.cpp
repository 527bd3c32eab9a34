// The stepper's configuration: limit switches, motion and encoder direction, the encoder counter,
// the digital I/O lines of the switches and the servo, and the re-send after a file is loaded.
#include "zelvo/core/reply.hpp"
#include "zelvo/motion/mcx514_checks.hpp"
#include "zelvo/motion/step_status.hpp"
#include "zelvo/motion/tmc5240_module.hpp"

namespace zelvo {
namespace {

using mcx514::checkDirection;
using mcx514::checkEnable;
using mcx514::checkI32;
using mcx514::checkPolarity;

// Digital I/O the drive's signals are wired to.
constexpr int kSwitchPort = 1;    // DI: bit 0, 1, 2 the switches
constexpr int kServoPort = 2;     // DO: pin 0 the servo enable, low for on
constexpr int kServoPin = 0;
constexpr int kSwitchMask = 0b111;
constexpr int kHighestPin = 15;
// RAMPMODE hold: the ramp keeps its speed (at rest it stays), so a position write moves nothing.
constexpr int kHoldMode = 3;
// ENC_CONST: the encoder's factor, a signed 16.16 value.
constexpr std::int64_t kEncoderUnit = 65536;
// The bit both GCONF (motor direction) and SWMODE (switches swapped) take for the direction.
constexpr int kDirectionBit = 4;
// SWMODE: the stop switches' enables (bit 0 reverse, bit 1 forward) and levels (bits 2, 3); bits
// 4..7 of its low byte and the byte above stay.
constexpr std::uint32_t kSwitchKeptBits = 0xFFF0;

int flag(std::int64_t v) { return v == 1 ? 1 : 0; }

}  // namespace

// --- digital I/O ---------------------------------------------------------------------------------

Op<int> TMC5240Module::writeDO(Call& call, int port, int pin, int value) {
  if (pin < 0 || pin > kHighestPin) throw Error(Err::InputDataNotInRangeError, "pin must be 0..15.");
  if (value != 0 && value != 1) throw Error(Err::InputDataNotInRangeError, "value must be 0 or 1.");
  Bytes payload = payloadOf(port);
  appendBE(payload, static_cast<std::uint16_t>(1U << pin));
  appendBE(payload, static_cast<std::uint16_t>(static_cast<unsigned>(value) << pin));
  const Bytes r = co_await call.echo(SET_AND_WRITE_DO, std::move(payload));
  const Reply reply(r, "_Motion_writeDO");
  constexpr std::size_t kLevelsEnd = 3;  // port, level word: the write went through
  co_return reply.size() >= kLevelsEnd ? 0 : reply.status(1);
}

Op<int> TMC5240Module::readDI(Call& call, int port) {
  Bytes payload = payloadOf(port);
  appendBE(payload, static_cast<std::uint16_t>(kSwitchMask));
  const Bytes r = co_await call.echo(READ_AND_GET_DI, std::move(payload));
  co_return Reply(r, "_Motion_readDI").be<std::uint16_t>(1);
}

Op<std::vector<int>> TMC5240Module::getLimitStatus(Call& call, int port) {
  checkPort(port);
  const int word = co_await readDI(call, kSwitchPort);
  std::vector<int> out;
  for (int bit = 0; bit < 3; ++bit) out.push_back((word >> bit) & 1);
  co_return out;
}

Op<int> TMC5240Module::enableServoOn(Call& call, int port) {
  checkPort(port);
  co_return co_await writeDO(call, kServoPort, kServoPin, 0);
}

Op<int> TMC5240Module::enableServoOff(Call& call, int port) {
  checkPort(port);
  co_return co_await writeDO(call, kServoPort, kServoPin, 1);
}

// --- limits --------------------------------------------------------------------------------------

Op<int> TMC5240Module::setLimitEnable(Call&, int port, int forward_enable, int reverse_enable) {
  checkPort(port);
  note(Setting::ForwardEnable, forward_enable);
  note(Setting::ReverseEnable, reverse_enable);
  co_return 0;
}

Op<int> TMC5240Module::setLimitPolarity(Call&, int port, int limit_polarity) {
  checkPort(port);
  note(Setting::ForwardPolarity, limit_polarity);
  note(Setting::ReversePolarity, limit_polarity);
  co_return 0;
}

Op<int> TMC5240Module::limitSwitches(Call& call, int port, int en_forward, int en_reverse, int limit_polarity) {
  note(Setting::ForwardEnable, en_forward);
  note(Setting::ReverseEnable, en_reverse);
  note(Setting::ForwardPolarity, limit_polarity);
  note(Setting::ReversePolarity, limit_polarity);
  const PortLocks::Held held = co_await locks_.acquire(call, port);
  const std::uint32_t swmode = co_await readWord(call, port, TVST_34_SWMODE);
  const std::uint32_t level = flag(limit_polarity) ? 0b1100U : 0U;
  const std::uint32_t value = (swmode & kSwitchKeptBits) | level |
                              static_cast<std::uint32_t>(flag(en_forward) << 1) |
                              static_cast<std::uint32_t>(flag(en_reverse));
  co_return co_await step(call, port, TVST_34_SWMODE, value);
}

Op<int> TMC5240Module::cfgLimit(Call& call, int port, int en_forward, int en_reverse, int limit_polarity) {
  checkPort(port);
  checkEnable(en_forward);
  checkEnable(en_reverse);
  checkPolarity(limit_polarity);
  co_return co_await limitSwitches(call, port, en_forward, en_reverse, limit_polarity);
}

// --- directions and the encoder ------------------------------------------------------------------

Op<int> TMC5240Module::axisDirection(Call& call, int port, int axis_dir) {
  note(Setting::InverseMotionDirection, axis_dir);
  const BitEdit edit = BitEdit().bit(kDirectionBit, flag(axis_dir));
  StepStatus st;
  const PortLocks::Held held = co_await locks_.acquire(call, port);
  const std::uint32_t gconf = co_await readWord(call, port, TVST_00_GCONF);
  st.add(co_await step(call, port, TVST_00_GCONF, (gconf & ~0xFFFFU) | edit.applyTo(static_cast<std::uint16_t>(gconf))));
  const std::uint32_t swmode = co_await readWord(call, port, TVST_34_SWMODE);
  st.add(co_await step(call, port, TVST_34_SWMODE,
                       (swmode & ~0xFFFFU) | edit.applyTo(static_cast<std::uint16_t>(swmode))));
  co_return st.value();
}

Op<int> TMC5240Module::cfgAxisDirection(Call& call, int port, int axis_dir) {
  checkPort(port);
  checkDirection(axis_dir);
  co_return co_await axisDirection(call, port, axis_dir);
}

Op<int> TMC5240Module::encoderFactor(Call& call, int port, int encoder_dir) {
  note(Setting::InverseEncoderDirection, encoder_dir);
  co_return co_await step(call, port, TVST_3A_ENC_CONST, encoder_dir == 0 ? kEncoderUnit : -kEncoderUnit);
}

Op<int> TMC5240Module::cfgEncoder(Call& call, int port, int encoder_dir, std::int64_t encoder_posi) {
  checkPort(port);
  checkDirection(encoder_dir);
  checkI32(encoder_posi, "encoder_posi");
  StepStatus st;
  st.add(co_await step(call, port, TVST_20_RAMPMODE, kHoldMode));  // a position write must not start a move
  st.add(co_await step(call, port, TVST_21_XACTUAL, encoder_posi));
  st.add(co_await step(call, port, TVST_39_XENC, encoder_posi));
  st.add(co_await encoderFactor(call, port, encoder_dir));
  co_return st.value();
}

Op<int> TMC5240Module::rstEncoderPosi(Call& call, int port, std::int64_t encoder_posi) {
  checkPort(port);
  checkI32(encoder_posi, "encoder_posi");
  axis_.with([&](MotionAxis& a) { a.encoder_position = encoder_posi; });
  StepStatus st;
  st.add(co_await step(call, port, TVST_20_RAMPMODE, kHoldMode));
  st.add(co_await step(call, port, TVST_21_XACTUAL, encoder_posi));
  st.add(co_await step(call, port, TVST_39_XENC, encoder_posi));
  co_return st.value();
}

Op<int> TMC5240Module::sendAllConfiguration(Call& call, int port) {
  checkPort(port);
  const MotionSettings s = axis_.snapshot().motion_dict;
  auto v = [&](Setting k) { return static_cast<int>(s.integer(k)); };
  StepStatus st;
  st.add(co_await encoderFactor(call, port, v(Setting::InverseEncoderDirection)));
  st.add(co_await axisDirection(call, port, v(Setting::InverseMotionDirection)));
  st.add(co_await limitSwitches(call, port, v(Setting::ForwardEnable), v(Setting::ReverseEnable),
                                v(Setting::ForwardPolarity)));
  co_return st.value();
}

}  // namespace zelvo
