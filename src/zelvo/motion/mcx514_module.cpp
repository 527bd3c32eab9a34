// The module's frame: construction, checks, the register steps every operation is made of, and
// the status and position reads.
#include "zelvo/motion/mcx514_module.hpp"

#include <cstdint>

#include "zelvo/motion/mcx514_checks.hpp"

namespace zelvo {
namespace {

using mcx514::Fit;
using mcx514::registerOp;

// RR3 page 0: the input levels of an axis.
constexpr int kPageZero = 0;
constexpr int kHomeBit = 1;
constexpr int kForwardLimitBit = 7;
constexpr int kReverseLimitBit = 8;

}  // namespace

MCX514Module::MCX514Module(Device& dev, const MotionData& data) : dev_(dev), data_(data) {}

std::size_t MCX514Module::axisHandle(std::int64_t axis) {
  return axis >= 0 && axis < mcx514::kAxes - 1 ? static_cast<std::size_t>(axis) : mcx514::kAxes - 1;
}

// --- checks --------------------------------------------------------------------------------------

bool MCX514Module::checkAxis(std::int64_t axis, bool mode) { return !mode || mcx514::checkAxis(axis); }

bool MCX514Module::checkMotionPort(std::int64_t port) const {
  if (port < INT32_MIN || port > INT32_MAX || !data_.motion_dict.contains(static_cast<int>(port)))
    throw Error(Err::MotionPortNotAvaliable);
  return true;
}

int MCX514Module::wirePort(int port) const {
  const std::int64_t wire = data_.slot_ports ? std::int64_t{port} - 1 : port;
  checkMotionPort(wire);
  return static_cast<int>(wire);
}

void MCX514Module::checkPortAndAxis(int port, int axis) const {
  checkMotionPort(port);
  mcx514::checkAxis(axis);
}

// --- records -------------------------------------------------------------------------------------

MotionAxis MCX514Module::axisRecord(int axis) const {
  return records_.with([&](const MCX514Records& r) { return r.axes[axisHandle(axis)]; });
}

void MCX514Module::note(int axis, Setting s, double value) {
  withAxis(axis, [&](MotionAxis& a) { a.motion_dict.set(s, value); });
}

// --- register steps ------------------------------------------------------------------------------

Op<int> MCX514Module::put(Call& call, int port, int reg, int axis, std::int64_t value, std::int64_t second) {
  co_return co_await mcx514::writeRegister(call, registerOp(reg), port, axis, value, second, Fit::Check);
}

Op<int> MCX514Module::command(Call& call, int port, int reg, int axis) {
  co_return co_await mcx514::writeRegister(call, registerOp(reg), port, axis, 0, 0, Fit::Check);
}

Op<std::int64_t> MCX514Module::get(Call& call, int port, int reg, int axis, std::int64_t page) {
  co_return co_await mcx514::readRegister(call, registerOp(reg), port, axis, page);
}

Op<int> MCX514Module::editWord(Call& call, int port, int axis, int read_reg, int write_reg, BitEdit edit) {
  const PortLocks::Held held = co_await locks_.acquire(call, port);
  const auto word = static_cast<std::uint16_t>(co_await get(call, port, read_reg, axis));
  co_return co_await put(call, port, write_reg, axis, edit.applyTo(word));
}

Op<int> MCX514Module::editWR2(Call& call, int port, int axis, BitEdit edit) {
  return editWord(call, port, axis, MOTION_3E_WR2, MOTION_E2_WR2, edit);
}

Op<int> MCX514Module::editWR3(Call& call, int port, int axis, BitEdit edit) {
  return editWord(call, port, axis, MOTION_3F_WR3, MOTION_E3_WR3, edit);
}

Op<int> MCX514Module::driveBit(Call& call, int port, int axis) {
  const std::int64_t rr0 = co_await get(call, port, MOTION_E8_RR0, 0);
  co_return static_cast<int>((rr0 >> axis) & 1);
}

Op<std::uint16_t> MCX514Module::inputLevels(Call& call, int port, int axis) {
  co_return static_cast<std::uint16_t>(co_await get(call, port, MOTION_EB_RR3, axis, kPageZero));
}

Op<std::int64_t> MCX514Module::readLogicalPosition(Call& call, int port, int axis) {
  co_return co_await get(call, port, MOTION_30_LP, axis);
}

// --- status and positions ------------------------------------------------------------------------

Op<std::int64_t> MCX514Module::getLogicalPosi(Call& call, int port, int axis) {
  const int p = wirePort(port);
  mcx514::checkAxis(axis);
  co_return co_await readLogicalPosition(call, p, axis);
}

Op<std::int64_t> MCX514Module::getEncoderPosi(Call& call, int port, int axis) {
  const int p = wirePort(port);
  mcx514::checkAxis(axis);
  co_return co_await get(call, p, MOTION_31_RP, axis);
}

Op<int> MCX514Module::getMoveStatus(Call& call, int port, int axis) {
  const int p = wirePort(port);
  mcx514::checkAxis(axis);
  co_return (co_await driveBit(call, p, axis)) ^ 1;  // 1: stopped
}

Op<int> MCX514Module::checkRef(Call& call, int port, int axis) { return getMoveStatus(call, port, axis); }

Op<int> MCX514Module::getHomeStatus(Call& call, int port, int axis) {
  const int p = wirePort(port);
  mcx514::checkAxis(axis);
  const int level = (co_await inputLevels(call, p, axis) >> kHomeBit) & 1;
  const bool active_low = axisRecord(axis).motion_dict.integer(Setting::HomePolarity) == 0;
  co_return active_low ? level ^ 1 : level;
}

Op<std::vector<int>> MCX514Module::getLimitStatus(Call& call, int port, int axis) {
  const int p = wirePort(port);
  mcx514::checkAxis(axis);
  const std::uint16_t levels = co_await inputLevels(call, p, axis);
  const int invert = axisRecord(axis).motion_dict.integer(Setting::ForwardPolarity) == 0 ? 1 : 0;
  std::vector<int> out;
  out.push_back(((levels >> kForwardLimitBit) & 1) ^ invert);
  out.push_back(((levels >> kReverseLimitBit) & 1) ^ invert);
  co_return out;
}

Op<std::int64_t> MCX514Module::readCapturePoint(Call& call, int port, int axis) {
  const int p = wirePort(port);
  mcx514::checkAxis(axis);
  co_return co_await get(call, p, MOTION_37_MR3, axis);
}

}  // namespace zelvo
