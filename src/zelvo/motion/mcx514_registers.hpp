// The motion chip's register and command codes, and the table of register operations
// (mcx514_registers.def) from which both the service operations and the module's steps are made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "zelvo/core/command.hpp"

namespace zelvo {

#define ZELVO_MCX514_REGISTER(NAME, CODE) inline constexpr int NAME = CODE;
#define ZELVO_MCX514_OP(OP, REG, AXIS, DATA, RESULT, SENDS, FIRST, SECOND)
#include "zelvo/motion/mcx514_registers.def"
#undef ZELVO_MCX514_OP
#undef ZELVO_MCX514_REGISTER

namespace mcx514 {

// What the axis byte of a request holds.
enum class AxisByte : std::uint8_t { Mask, Raw, Chip };
// What the four data bytes carry.
enum class Data : std::uint8_t { U32, I32, U16, I16, Pair16, Flag, TwoBytes, FixedPIO, Page, None };
// A write's status, or the form of a read's value.
enum class Result : std::uint8_t { Status, U32, I32, U16 };

struct RegisterOp {
  const char* name;      // the operation's Python name
  int reg;               // register or command code
  const char* reg_name;  // its constant, "MOTION_05_DV"
  AxisByte axis;
  Data data;
  Result result;
  Sends sends;
  const char* first;   // Python names of the values it takes; "" for none
  const char* second;

  // How many values the operation takes after port and axis.
  constexpr int values() const { return (first[0] != '\0') + (second[0] != '\0'); }
  constexpr bool takesAxis() const { return axis != AxisByte::Chip; }
  constexpr bool reads() const { return result != Result::Status; }
};

inline constexpr RegisterOp kRegisterOps[] = {
#define ZELVO_MCX514_REGISTER(NAME, CODE)
#define ZELVO_MCX514_OP(OP, REG, AXIS, DATA, RESULT, SENDS, FIRST, SECOND) \
  {#OP, REG, #REG, AxisByte::AXIS, Data::DATA, Result::RESULT, Sends::SENDS, FIRST, SECOND},
#include "zelvo/motion/mcx514_registers.def"
#undef ZELVO_MCX514_OP
#undef ZELVO_MCX514_REGISTER
};
inline constexpr std::size_t kRegisterOpCount = std::size(kRegisterOps);

// Every register constant: (name, code).
struct RegisterName {
  const char* name;
  int code;
};
inline constexpr RegisterName kRegisterNames[] = {
#define ZELVO_MCX514_REGISTER(NAME, CODE) {#NAME, CODE},
#define ZELVO_MCX514_OP(OP, REG, AXIS, DATA, RESULT, SENDS, FIRST, SECOND)
#include "zelvo/motion/mcx514_registers.def"
#undef ZELVO_MCX514_OP
#undef ZELVO_MCX514_REGISTER
};

// The position reads the module makes with packets of its own (read form, signed).
inline constexpr RegisterOp kLogicalPositionRead = {"Motion_getLogicalPosi", MOTION_30_LP, "MOTION_30_LP", AxisByte::Mask,
                                                    Data::None, Result::I32, Sends::Resend, "", ""};
inline constexpr RegisterOp kRealPositionRead = {"Motion_getEncoderPosi", MOTION_31_RP, "MOTION_31_RP", AxisByte::Mask,
                                                 Data::None, Result::I32, Sends::Resend, "", ""};

// The first operation of the table on a register code, or one of the position reads (the
// module's steps name registers).
const RegisterOp& registerOp(int reg);

}  // namespace mcx514
}  // namespace zelvo
