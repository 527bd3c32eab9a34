// The stepper chip's register addresses (tmc5240_registers.def), the module's two register tables
// and the register shortcuts (one register, read or written whole).
#pragma once

#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

namespace zelvo {

#define ZELVO_TMC5240_REGISTER(NAME, ADDR) inline constexpr int NAME = ADDR;
#include "zelvo/motion/tmc5240_registers.def"
#undef ZELVO_TMC5240_REGISTER

namespace tmc5240 {

struct RegisterName {
  const char* name;
  int address;
};
inline constexpr RegisterName kRegisterNames[] = {
#define ZELVO_TMC5240_REGISTER(NAME, ADDR) {#NAME, ADDR},
#include "zelvo/motion/tmc5240_registers.def"
#undef ZELVO_TMC5240_REGISTER
};

// A register table: text key -> (register, value), in a fixed order.
struct TableEntry {
  const char* key;
  int reg;
  std::int64_t value;
};
using RegisterTable = std::vector<TableEntry>;

// The ramp _Motion_setRamp writes: start and stop speeds, and the acceleration and deceleration
// in each of their three registers.
RegisterTable mainTable(std::int64_t acceleration, std::int64_t deceleration);
// The chip's base configuration; Motion_getParameters refreshes the values from the device.
RegisterTable defaultTable();

// Register shortcuts: an operation that writes or reads one register.
struct Shortcut {
  const char* name;   // Python name
  int reg;
  bool write;
  const char* value;  // the written value's Python name
};
inline constexpr Shortcut kShortcuts[] = {
    {"_Motion_setGlobalConfig", TVST_00_GCONF, true, "value"},
    {"_Motion_getGlobalConfig", TVST_00_GCONF, false, ""},
    {"_Motion_setGlobalStatus", TVST_01_GSTAT, true, "value"},
    {"_Motion_getGlobalStatus", TVST_01_GSTAT, false, ""},
    {"_Motion_setRampMode", TVST_20_RAMPMODE, true, "ramp_mode"},
    {"_Motion_resetPosition", TVST_21_XACTUAL, true, "position"},
    {"_Motion_readCurrentPosition", TVST_21_XACTUAL, false, ""},
    {"_Motion_readCurrentVelocity", TVST_22_VACTUAL, false, ""},
    {"_Motion_setLimitSwitch", TVST_34_SWMODE, true, "value"},
    {"_Motion_getLimitSwitch", TVST_34_SWMODE, false, ""},
    {"_Motion_setEncoderPosition", TVST_39_XENC, true, "position"},
    {"_Motion_readEncoderPosition", TVST_39_XENC, false, ""},
    {"_Motion_setEncoderDirection", TVST_3A_ENC_CONST, true, "direction"},
    {"_Motion_readEncoderDirection", TVST_3A_ENC_CONST, false, ""},
};
inline constexpr std::size_t kShortcutCount = std::size(kShortcuts);

}  // namespace tmc5240
}  // namespace zelvo
