#include "zelvo/motion/tmc5240_registers.hpp"

namespace zelvo::tmc5240 {
namespace {

constexpr std::int64_t kStopSpeed = 500;

}  // namespace

RegisterTable mainTable(std::int64_t acceleration, std::int64_t deceleration) {
  return {
      {"vstart_23", TVST_23_VSTART, 0},          {"vstop_2B", TVST_2B_VSTOP, kStopSpeed},
      {"A1_x24", TVST_24_A1, acceleration},      {"A2_x2F", TVST_2F_A2, acceleration},
      {"AMAX_x26", TVST_26_AMAX, acceleration},  {"D1_x2A", TVST_2A_D1, deceleration},
      {"D2_x30", TVST_30_D2, deceleration},      {"DMAX_x28", TVST_28_DMAX, deceleration},
  };
}

RegisterTable defaultTable() {
  return {
      {"x00_GCONF", TVST_00_GCONF, 8},
      {"x0A_DRV_CONF", TVST_0A_DRV_CONF, 32},
      {"x10_IHOLD_IRUN", TVST_10_IHOLD_IRUN, 461315},
      {"x11_TPOWERDOWN", TVST_11_TPOWERDOWN, 10},
      {"x2A_D1", TVST_2A_D1, 10},
      {"x2B_VSTOP", TVST_2B_VSTOP, 10},
      {"x30_D2", TVST_30_D2, 10},
      {"x3A_ENC_CONST", TVST_3A_ENC_CONST, 65536},
      {"x52_OTW_OV_VTH", TVST_52_OTW_OV_VTH, 194121509},
      {"x60_MSLUT0", TVST_60_MSLUT0, 2863314260},
      {"x61_MSLUT1", TVST_61_MSLUT1, 1251300522},
      {"x62_MSLUT2", TVST_62_MSLUT2, 608774441},
      {"x63_MSLUT3", TVST_63_MSLUT3, 269500962},
      {"x64_MSLUT4", TVST_64_MSLUT4, 4227858431},
      {"x65_MSLUT5", TVST_65_MSLUT5, 3048961917},
      {"x66_MSLUT6", TVST_66_MSLUT6, 1227445590},
      {"x67_MSLUT7", TVST_67_MSLUT7, 4211234},
      {"x68_MSLUT8", TVST_68_MSLUTSEL, 4294934614},
      {"x69_MSLUT9", TVST_69_MSLUTSTART, 16187392},
      {"x6C_CHOPCONF", TVST_6C_CHOPCONF, 4260179},
      {"x70_PWMCONF", TVST_70_PWMCONF, 3293315102},
      {"x74_SG4_THRS", TVST_74_SG4_THRS, 0},
  };
}

}  // namespace zelvo::tmc5240
