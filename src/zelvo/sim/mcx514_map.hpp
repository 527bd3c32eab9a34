// The emulator's register map of the motion chip (mcx514_map.def): constants under the library's
// names and, per code, what it is and how its data bytes read.
#pragma once

#include <cstdint>
#include <iterator>

namespace zelvo::sim::mcx {

#define MCX_REGISTER(NAME, CODE, KIND, FORM) inline constexpr int NAME = CODE;
#include "zelvo/sim/mcx514_map.def"
#undef MCX_REGISTER

// The command code every motion request comes under.
inline constexpr int MOTION = 208;

enum class Kind : std::uint8_t { AxisData, ChipData, Read, AxisCommand, ChipCommand, Sync, Bit };
enum class Form : std::uint8_t { U32, I32, U16, I16, Pair16, Bytes2, Flag, None };

struct Register {
  const char* name;
  int code;
  Kind kind;
  Form form;
};

inline constexpr Register kRegisters[] = {
#define MCX_REGISTER(NAME, CODE, KIND, FORM) {#NAME, CODE, Kind::KIND, Form::FORM},
#include "zelvo/sim/mcx514_map.def"
#undef MCX_REGISTER
};

// The row of a code; nullptr for a code the chip does not take.
const Register* findRegister(int code);

// The value the four data bytes carry in a form (signed forms sign-extended).
std::int64_t decodeData(Form form, const std::uint8_t* data);

// SYNC commands: the units (low nibble) and whether they enable, disable or activate.
inline constexpr int kSyncEnable = 0x80, kSyncDisable = 0x90, kSyncActivate = 0xA0;
inline constexpr int kSyncUnits = 0x0F;
// One-bit settings: WR2 bit (code - 0xC0), WR3 bit (code - 0xD0).
inline constexpr int kFirstWR2Bit = 0xC0, kFirstWR3Bit = 0xD0;

}  // namespace zelvo::sim::mcx
