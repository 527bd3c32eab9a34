#include "zelvo/motion/mcx514_driver.hpp"

#include <limits>
#include <string>

#include "zelvo/core/reply.hpp"
#include "zelvo/core/routing.hpp"
#include "zelvo/core/status_exchange.hpp"

namespace zelvo::mcx514 {
namespace {

// The data bytes _Motion_setPIOSignal1 always sends.
constexpr Byte kFixedPIO[] = {0, 0, 85, 5};
constexpr int kMaxMaskAxis = 7;  // the highest axis whose mask fits the axis byte
constexpr int kByteMax = 0xFF;

[[noreturn]] void outOfRange(const RegisterOp& op, const char* what, std::int64_t v, const char* range) {
  throw Error(Err::InputDataNotInRangeError, std::string(op.name) + ": " + what + " = " + std::to_string(v) +
                                                 " does not fit " + range + ".");
}

// The value as a field of type T: cut to its width (Wrap) or refused when it does not fit (Check).
template <std::integral T>
T field(const RegisterOp& op, const char* what, std::int64_t v, Fit fit, const char* range) {
  if (fit == Fit::Check && (v < std::numeric_limits<T>::min() || v > std::numeric_limits<T>::max()))
    outOfRange(op, what, v, range);
  return static_cast<T>(v);
}

Byte byteField(const RegisterOp& op, const char* what, std::int64_t v, Fit fit) {
  return field<std::uint8_t>(op, what, v, fit, "a byte");
}

Byte sentByte(const RegisterOp& op, const char* what, std::int64_t v) {
  if (v < 0 || v > kByteMax) outOfRange(op, what, v, "a byte");
  return static_cast<Byte>(v);
}

Byte axisByte(const RegisterOp& op, int axis) {
  switch (op.axis) {
    case AxisByte::Mask:
      if (axis < 0 || axis > kMaxMaskAxis) outOfRange(op, "axis", axis, "the axis byte (axis 0..7)");
      return static_cast<Byte>(1U << axis);
    case AxisByte::Raw:
      return sentByte(op, "axis", axis);
    case AxisByte::Chip:
      break;
  }
  return 0;
}

void appendData(Bytes& out, const RegisterOp& op, std::int64_t a, std::int64_t b, Fit fit) {
  switch (op.data) {
    case Data::U32:
      appendBE(out, field<std::uint32_t>(op, op.first, a, fit, "32 unsigned bits"));
      return;
    case Data::I32:
      appendBE(out, field<std::int32_t>(op, op.first, a, fit, "32 signed bits"));
      return;
    case Data::U16:
      appendBE(out, std::uint16_t{0});
      appendBE(out, field<std::uint16_t>(op, op.first, a, fit, "16 unsigned bits"));
      return;
    case Data::I16:
      appendBE(out, std::uint16_t{0});
      appendBE(out, field<std::int16_t>(op, op.first, a, fit, "16 signed bits"));
      return;
    case Data::Pair16:
      appendBE(out, field<std::uint16_t>(op, op.first, a, fit, "16 unsigned bits"));
      appendBE(out, field<std::uint16_t>(op, op.second, b, fit, "16 unsigned bits"));
      return;
    case Data::Flag:
    case Data::Page:
      out.insert(out.end(), 3, Byte{0});
      out.push_back(byteField(op, op.first, a, fit));
      return;
    case Data::TwoBytes:
      out.insert(out.end(), 2, Byte{0});
      out.push_back(byteField(op, op.first, a, fit));
      out.push_back(byteField(op, op.second, b, fit));
      return;
    case Data::FixedPIO:
      out.insert(out.end(), std::begin(kFixedPIO), std::end(kFixedPIO));
      return;
    case Data::None:
      break;
  }
  out.insert(out.end(), 4, Byte{0});
}

}  // namespace

const RegisterOp& registerOp(int reg) {
  if (reg == MOTION_30_LP) return kLogicalPositionRead;
  if (reg == MOTION_31_RP) return kRealPositionRead;
  for (const RegisterOp& op : kRegisterOps)
    if (op.reg == reg) return op;
  throw Error(Err::InputDataNotInRangeError, "No motion register operation has code " + std::to_string(reg) + ".");
}

CommandRule exchangeRule(const RegisterOp& op) { return CommandRule{MOTION, Echo::at(0, 1, 2), op.sends}; }

Bytes registerPayload(const RegisterOp& op, int port, int axis, std::int64_t first, std::int64_t second, Fit fit) {
  Bytes p;
  p.reserve(kPayloadBytes);
  p.push_back(sentByte(op, "port", port));
  p.push_back(static_cast<Byte>(op.reg));
  p.push_back(axisByte(op, axis));
  appendData(p, op, first, second, fit);
  return p;
}

Op<int> writeRegister(Call& call, const RegisterOp& op, int port, int axis, std::int64_t first, std::int64_t second,
                      Fit fit) {
  Bytes payload = registerPayload(op, port, axis, first, second, fit);
  call.start();  // every step of an operation has the whole time-out
  try {
    co_return co_await echoStatus(call, exchangeRule(op), std::move(payload), kStatusIndex, op.name);
  } catch (const Error& e) {
    co_return e.code();  // the library's failures become their codes; anything else propagates
  }
}

std::int64_t decodeRead(const RegisterOp& op, const Bytes& r) {
  const Reply reply(r, op.name);
  switch (op.result) {
    case Result::I32:
      return reply.be<std::int32_t>(kValue32Index);
    case Result::U16:
      return reply.be<std::uint16_t>(kValue16Index);
    case Result::U32:
    case Result::Status:
      break;
  }
  return reply.be<std::uint32_t>(kValue32Index);
}

Op<std::int64_t> readRegister(Call& call, const RegisterOp& op, int port, int axis, std::int64_t page) {
  Bytes payload = registerPayload(op, port, axis, page, 0, Fit::Wrap);
  call.start();
  const Bytes r = co_await call.echo(exchangeRule(op), std::move(payload));
  co_return decodeRead(op, r);
}

}  // namespace zelvo::mcx514
