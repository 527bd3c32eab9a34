// The emulator's register map of the stepper chip (tmc5240_map.def): constants under the
// library's names, and each register's width, sign and access.
#pragma once

#include <cstdint>

namespace zelvo::sim::tmc {

#define TMC_REGISTER(NAME, ADDR, BITS, SIGNED, ACCESS) inline constexpr int NAME = ADDR;
#include "zelvo/sim/tmc5240_map.def"
#undef TMC_REGISTER

// Command codes, under the library's names.
inline constexpr int MOTION_READ_REG = 7172;
inline constexpr int MOTION_WRITE_REG = 7173;
inline constexpr int MOTION_GET_PARAM = 7184;
inline constexpr int MOTION_SET_PARAM = 7185;
inline constexpr int MOTION_LOAD_PARAM = 7186;
inline constexpr int MOTION_SAVE_PARAM = 7187;
inline constexpr int MOTION_RESET_FACTORY = 7188;
inline constexpr int MOTION_GET_PROC_STATE = 7296;
inline constexpr int MOTION_STOP_PROC = 7297;
inline constexpr int MOTION_START_V_MOVE = 7312;
inline constexpr int MOTION_START_P_MOVE = 7313;
inline constexpr int MOTION_START_SCAN_MOVE = 7314;
inline constexpr int MOTION_START_FIND_END = 7328;
inline constexpr int MOTION_START_FIND_HOME = 7329;
inline constexpr int MOTION_START_FIND_Z = 7330;
inline constexpr int READ_AND_GET_DI = 233;
inline constexpr int SET_AND_WRITE_DO = 234;

enum class Access : std::uint8_t { RW, R, W, C };

struct Register {
  const char* name;
  int address;
  int bits;
  bool is_signed;
  Access access;
};

inline constexpr Register kRegisters[] = {
#define TMC_REGISTER(NAME, ADDR, BITS, SIGNED, ACCESS) {#NAME, ADDR, BITS, SIGNED, Access::ACCESS},
#include "zelvo/sim/tmc5240_map.def"
#undef TMC_REGISTER
};

// The row of an address; nullptr for an address the chip does not have.
const Register* findRegister(int address);
// A stored value as the register reads: cut to its width, sign-extended when signed.
std::int64_t fitRegister(const Register& r, std::int64_t value);

}  // namespace zelvo::sim::tmc
