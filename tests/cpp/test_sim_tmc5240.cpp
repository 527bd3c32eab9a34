// The emulated stepper drive on its own, at device times the test chooses: register widths,
// signs and access, the write-1-to-clear status, the ramp generator's modes (a position write in
// positioning mode moves the motor), the encoder factor and the motor reversal, stop switches.
// Also: the emulator's register map agrees with the library's constants by name and address.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

#include "zelvo/motion/tmc5240_registers.hpp"
#include "zelvo/sim/tmc5240_drive.hpp"
#include "zelvo/sim/tmc5240_map.hpp"

namespace {

using zelvo::sim::PlacedSwitch;
using zelvo::sim::TmcDrive;
using zelvo::sim::TmcInput;
namespace reg = zelvo::sim::tmc;

TEST(SimTmc5240Map, AgreesWithTheLibrarysRegisterNames) {
  std::map<std::string, int> library;
  for (const auto& r : zelvo::tmc5240::kRegisterNames) library[r.name] = r.address;
  std::map<std::string, int> emulator;
  for (const auto& r : reg::kRegisters) emulator[r.name] = r.address;
  EXPECT_EQ(library, emulator);
}

struct RegisterRow {
  const char* name;
  int address;
  std::int64_t written;
  bool accepted;
  std::optional<std::int64_t> read;
};
void PrintTo(const RegisterRow& r, std::ostream* os) { *os << r.name; }

class SimTmcRegister : public ::testing::TestWithParam<RegisterRow> {};

TEST_P(SimTmcRegister, KeepsItsWidthSignAndAccess) {
  const RegisterRow& r = GetParam();
  TmcDrive d;  // starts in hold mode: a position write moves nothing
  EXPECT_EQ(d.write(0, r.address, r.written), r.accepted);
  EXPECT_EQ(d.read(0, r.address), r.read);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SimTmcRegister,
    ::testing::Values(RegisterRow{"xactual_signed", reg::TVST_21_XACTUAL, 0xFFFFFFFB, true, -5},
                      RegisterRow{"xtarget_signed", reg::TVST_2D_XTARGET, -1, true, -1},
                      RegisterRow{"xenc_signed", reg::TVST_39_XENC, -70000, true, -70000},
                      RegisterRow{"enc_const_16_16", reg::TVST_3A_ENC_CONST, 0xFFFF0000, true, -65536},
                      RegisterRow{"gconf_18_bits", reg::TVST_00_GCONF, 0xFFFFFFFF, true, 0x3FFFF},
                      RegisterRow{"swmode_12_bits", reg::TVST_34_SWMODE, 0x1234, true, 0x234},
                      RegisterRow{"rampmode_2_bits", reg::TVST_20_RAMPMODE, 7, true, 3},
                      RegisterRow{"vmax_23_bits_unsigned", reg::TVST_27_VMAX, 0xFFFFFFFF, true, 0x7FFFFF},
                      RegisterRow{"vactual_read_only", reg::TVST_22_VACTUAL, 5, false, 0},
                      RegisterRow{"missing_address", 0x07, 5, false, std::nullopt},
                      RegisterRow{"beyond_the_map", 0x77, 5, false, std::nullopt}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(SimTmc5240Drive, GlobalStatusClearsTheBitsWrittenAsOneAndWritesAreCounted) {
  TmcDrive d;
  EXPECT_EQ(d.read(0, reg::TVST_01_GSTAT), 1);  // the reset flag
  EXPECT_EQ(d.spiStatus(0) & 1, 1);
  d.raiseFault(0b110);
  EXPECT_EQ(d.read(0, reg::TVST_01_GSTAT), 0b111);
  EXPECT_EQ(d.spiStatus(0) & 0b11, 0b11);  // reset flag and driver error
  ASSERT_TRUE(d.write(0, reg::TVST_01_GSTAT, 0b010));
  EXPECT_EQ(d.read(0, reg::TVST_01_GSTAT), 0b101);
  ASSERT_TRUE(d.write(0, reg::TVST_01_GSTAT, 31));
  EXPECT_EQ(d.read(0, reg::TVST_01_GSTAT), 0);
  EXPECT_EQ(d.read(0, reg::TVST_02_IFCNT), 2);
}

// A drive with a quick ramp: 10000 steps/s, reached in 0.1 s.
struct Quick {
  TmcDrive d;
  Quick() {
    for (auto [address, value] : {std::pair{reg::TVST_26_AMAX, 100000}, std::pair{reg::TVST_28_DMAX, 100000},
                                  std::pair{reg::TVST_27_VMAX, 10000}})
      d.write(0, address, value);
  }
  std::int64_t at(double t) {
    d.settle(t);
    return d.position(t);
  }
};

TEST(SimTmc5240Drive, PositionWriteInPositioningModeMovesBackToTheTarget) {
  Quick q;
  ASSERT_TRUE(q.d.write(0, reg::TVST_20_RAMPMODE, 0));  // positioning, at the target 0
  ASSERT_TRUE(q.d.write(0, reg::TVST_21_XACTUAL, 1000));
  EXPECT_TRUE(q.d.moving());
  EXPECT_EQ(q.at(5), 0);
  ASSERT_TRUE(q.d.write(5, reg::TVST_20_RAMPMODE, 3));  // hold: the write only sets the counter
  ASSERT_TRUE(q.d.write(5, reg::TVST_21_XACTUAL, 1000));
  EXPECT_FALSE(q.d.moving());
  EXPECT_EQ(q.at(10), 1000);
}

TEST(SimTmc5240Drive, VelocityModesRunBothWaysAndHoldKeepsTheSpeed) {
  Quick q;
  ASSERT_TRUE(q.d.write(0, reg::TVST_20_RAMPMODE, 2));  // backward
  q.d.settle(1);
  EXPECT_DOUBLE_EQ(q.d.velocity(1), -10000);
  EXPECT_EQ(q.d.read(1, reg::TVST_22_VACTUAL), -10000);
  EXPECT_NEAR(static_cast<double>(q.at(1)), -10000 + 500, 2);  // 0.1 s ramp covers 500 steps
  ASSERT_TRUE(q.d.write(1, reg::TVST_20_RAMPMODE, 3));
  EXPECT_NEAR(static_cast<double>(q.at(2)), -20000 + 500, 2);
  ASSERT_TRUE(q.d.write(2, reg::TVST_20_RAMPMODE, 1));  // forward: turns round
  q.d.settle(4);
  EXPECT_DOUBLE_EQ(q.d.velocity(4), 10000);
}

struct EncoderRow {
  const char* name;
  std::int64_t enc_const;
  bool shaft;
  std::int64_t target;
  std::int64_t xenc;
};
void PrintTo(const EncoderRow& r, std::ostream* os) { *os << r.name; }

class SimTmcEncoder : public ::testing::TestWithParam<EncoderRow> {};

TEST_P(SimTmcEncoder, FollowsThePhysicalMotionTimesItsFactor) {
  const EncoderRow& r = GetParam();
  Quick q;
  q.d.write(0, reg::TVST_3A_ENC_CONST, r.enc_const);
  q.d.write(0, reg::TVST_00_GCONF, r.shaft ? 8 | 16 : 8);
  q.d.write(0, reg::TVST_2D_XTARGET, r.target);
  q.d.write(0, reg::TVST_20_RAMPMODE, 0);
  EXPECT_EQ(q.at(5), r.target);
  EXPECT_EQ(q.d.encoder(5), r.xenc);
}

INSTANTIATE_TEST_SUITE_P(Rows, SimTmcEncoder,
                         ::testing::Values(EncoderRow{"unit", 65536, false, 1000, 1000},
                                           EncoderRow{"reversed", -65536, false, 1000, -1000},
                                           EncoderRow{"double", 131072, false, -300, -600},
                                           EncoderRow{"half", 32768, false, 1000, 500},
                                           EncoderRow{"motor_reversed", 65536, true, 1000, -1000}),
                         [](const auto& p) { return std::string(p.param.name); });

struct SwitchRow {
  const char* name;
  TmcInput input;
  PlacedSwitch::Shape shape;
  std::int64_t edge;
  std::int64_t swmode;
  std::int64_t target;
  std::int64_t stop;
  int spi_bit;
};
void PrintTo(const SwitchRow& r, std::ostream* os) { *os << r.name; }

class SimTmcSwitch : public ::testing::TestWithParam<SwitchRow> {};

TEST_P(SimTmcSwitch, EnabledStopSwitchStopsTheMotor) {
  const SwitchRow& r = GetParam();
  Quick q;
  q.d.input(r.input).placed = PlacedSwitch{r.shape, r.edge, 0};
  q.d.inputChanged(0);
  q.d.write(0, reg::TVST_34_SWMODE, r.swmode);
  q.d.write(0, reg::TVST_2D_XTARGET, r.target);
  q.d.write(0, reg::TVST_20_RAMPMODE, 0);
  EXPECT_EQ(q.at(5), r.stop);
  EXPECT_FALSE(q.d.moving());
  EXPECT_EQ((q.d.spiStatus(5) >> r.spi_bit) & 1, 1);
}

constexpr auto kAbove = PlacedSwitch::Shape::AtOrAbove;
constexpr auto kBelow = PlacedSwitch::Shape::AtOrBelow;
INSTANTIATE_TEST_SUITE_P(
    Rows, SimTmcSwitch,
    ::testing::Values(SwitchRow{"right_enabled_active_high", TmcInput::Right, kAbove, 500, 0b1010, 2000, 500, 7},
                      SwitchRow{"left_enabled_active_high", TmcInput::Left, kBelow, -700, 0b0101, -2000, -700, 6},
                      SwitchRow{"right_disabled_reaches_the_target", TmcInput::Right, kAbove, 500, 0b1000, 2000, 2000,
                                5},
                      SwitchRow{"swapped_left_stops_forward", TmcInput::Left, kAbove, 500, 0b11010, 2000, 500, 7}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
