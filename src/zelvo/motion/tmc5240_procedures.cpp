// The stepper's firmware procedures: one command each, with the status convention at reply byte 1.
#include "zelvo/core/status_exchange.hpp"
#include "zelvo/motion/mcx514_checks.hpp"
#include "zelvo/motion/tmc5240_module.hpp"

namespace zelvo {
namespace {

using mcx514::checkI32;
using mcx514::checkRate;

constexpr std::size_t kStatusIndex = 1;
constexpr int kByteMask = 0xFF;  // the documented masks of direction and mode bytes

void appendU32(Bytes& p, std::int64_t v, const char* what) {
  checkRate(v, what);
  appendBE(p, static_cast<std::uint32_t>(v));
}

void appendI32(Bytes& p, std::int64_t v, const char* what) { appendBE(p, static_cast<std::int32_t>(checkI32(v, what))); }

}  // namespace

Op<int> TMC5240Module::procedure(Call& call, int cmd, Bytes payload, const char* operation) {
  call.start();
  try {
    co_return co_await echoStatus(call, cmd, std::move(payload), kStatusIndex, operation);
  } catch (const Error& e) {
    co_return e.code();  // the library's failures become their codes; anything else propagates
  }
}

Op<int> TMC5240Module::startVelocityMove(Call& call, int port, std::int64_t speed, int dir, std::int64_t acceleration,
                                         std::int64_t deceleration) {
  checkPort(port);
  Bytes p = payloadOf(port);
  appendU32(p, speed, "speed");
  appendU32(p, acceleration, "acceleration");
  appendU32(p, deceleration, "deceleration");
  p.push_back(static_cast<Byte>(dir & kByteMask));
  co_return co_await procedure(call, MOTION_START_V_MOVE, std::move(p), "Motion_startVelocticyMove");
}

Op<int> TMC5240Module::startPositionMove(Call& call, int port, std::int64_t position, std::int64_t speed,
                                         std::int64_t acceleration, std::int64_t deceleration, int mode) {
  checkPort(port);
  Bytes p = payloadOf(port);
  appendI32(p, position, "position");
  appendU32(p, speed, "speed");
  appendU32(p, acceleration, "acceleration");
  appendU32(p, deceleration, "deceleration");
  p.push_back(payloadOf(mode).front());  // a byte: refused when it is not one
  co_return co_await procedure(call, MOTION_START_P_MOVE, std::move(p), "Motion_startPositionMove");
}

Op<int> TMC5240Module::startScanMove(Call& call, int port, std::int64_t position_0, std::int64_t position_1,
                                     std::int64_t speed, std::int64_t acceleration) {
  checkPort(port);
  Bytes p = payloadOf(port);
  appendI32(p, position_0, "position_0");
  appendI32(p, position_1, "position_1");
  appendU32(p, speed, "speed");
  appendU32(p, acceleration, "acceleration");
  co_return co_await procedure(call, MOTION_START_SCAN_MOVE, std::move(p), "Motion_startScanMove");
}

Op<int> TMC5240Module::startFindLimit(Call& call, int port, int mode, std::int64_t searching_speed,
                                      std::int64_t approaching_speed, std::int64_t acceleration, std::int64_t offset,
                                      ResetFlag reset_position) {
  checkPort(port);
  Bytes p = payloadOf(port, mode & kByteMask);
  appendU32(p, searching_speed, "searching_speed");
  appendU32(p, approaching_speed, "approaching_speed");
  appendU32(p, acceleration, "acceleration");
  appendI32(p, offset, "offset");
  p.push_back(reset_position.on ? 1 : 0);
  co_return co_await procedure(call, MOTION_START_FIND_END, std::move(p), "Motion_startFindLimit");
}

Op<int> TMC5240Module::findProcedure(Call& call, int cmd, int port, std::int64_t searching_speed,
                                     std::int64_t approaching_speed, std::int64_t acceleration, int search_direction,
                                     int approach_direction, std::int64_t offset, ResetFlag reset_position,
                                     const char* operation) {
  checkPort(port);
  Bytes p = payloadOf(port);
  appendU32(p, searching_speed, "searching_speed");
  appendU32(p, approaching_speed, "approaching_speed");
  appendU32(p, acceleration, "acceleration");
  p.push_back(static_cast<Byte>(search_direction & kByteMask));
  p.push_back(static_cast<Byte>(approach_direction & kByteMask));
  appendI32(p, offset, "offset");
  p.push_back(reset_position.on ? 1 : 0);
  co_return co_await procedure(call, cmd, std::move(p), operation);
}

Op<int> TMC5240Module::startFindHome(Call& call, int port, std::int64_t searching_speed,
                                     std::int64_t approaching_speed, std::int64_t acceleration, int search_direction,
                                     int approach_direction, std::int64_t offset, ResetFlag reset_position) {
  return findProcedure(call, MOTION_START_FIND_HOME, port, searching_speed, approaching_speed, acceleration,
                       search_direction, approach_direction, offset, reset_position, "Motion_startFindHome");
}

Op<int> TMC5240Module::startFindZPolarity(Call& call, int port, std::int64_t searching_speed,
                                          std::int64_t approaching_speed, std::int64_t acceleration,
                                          int search_direction, int approach_direction, std::int64_t offset,
                                          ResetFlag reset_position) {
  return findProcedure(call, MOTION_START_FIND_Z, port, searching_speed, approaching_speed, acceleration,
                       search_direction, approach_direction, offset, reset_position, "Motion_startFindZPolarity");
}

Op<int> TMC5240Module::stopProcess(Call& call, int port) {
  checkPort(port);
  co_return co_await procedure(call, MOTION_STOP_PROC, payloadOf(port), "Motion_stopProcess");
}

Op<int> TMC5240Module::resetFactory(Call& call, int port) {
  checkPort(port);
  co_return co_await procedure(call, MOTION_RESET_FACTORY, payloadOf(port), "Motion_resetFactory");
}

}  // namespace zelvo
