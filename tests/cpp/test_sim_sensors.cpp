// The emulated thermal inputs, attitude sensor and Wi-Fi board: temperatures on the device's time,
// offsets across a reboot, the orientation after a known rotation, the board's pins and settings.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "support/firmware_bench.hpp"
#include "zelvo/sim/ahrs_firmware.hpp"
#include "zelvo/sim/thermal_firmware.hpp"
#include "zelvo/sim/wifi_firmware.hpp"

namespace {

namespace sim = zelvo::sim;
using zelvo::Bytes;
using ztest::cat;
using ztest::f32;

constexpr int kReboot = 250;

using Device = ztest::FirmwareBench;

// --- thermal ----------------------------------------------------------------------------------------

using namespace sim::thermalcmd;

TEST(SimThermal, ReadsTheDriftingTemperaturePlusTheOffset) {
  Device d("PellorK1TD");
  auto& th = d.peripheral<sim::ThermalFirmware>();
  th.setTemperature(1, 0, sim::ThermalSignal{100, 0.5, 0, 0, 0});
  d.fw.time().advance(10);
  EXPECT_EQ(d.floats(d.ask(READ_THERMAL_COUPLE, {1, 0}), 2), (std::vector<float>{105}));
  EXPECT_EQ(d.ask(WRITE_THERMAL_OFFSET, {1, 0, 0x3F, 0x80, 0, 0}), (Bytes{1, 0, 0}));  // +1.0
  EXPECT_EQ(d.floats(d.ask(READ_THERMAL_COUPLE, {1, 0}), 2), (std::vector<float>{106}));
  // Cold-junction compensation off: the firmware takes the written cold junction for the real one.
  th.setColdJunction(1, 25);
  EXPECT_EQ(d.ask(WRITE_THERMAL_JUNCTION, cat(Bytes{1, 0}, f32(20))), (Bytes{1, 0, 0}));
  EXPECT_EQ(d.floats(d.ask(READ_THERMAL_JUNCTION, {1, 0}), 2), (std::vector<float>{25}));
  EXPECT_EQ(d.ask(SET_THERMAL_JUNCTION_ON, {1, 0, 0}), (Bytes{1, 0, 0}));
  EXPECT_EQ(d.floats(d.ask(READ_THERMAL_JUNCTION, {1, 0}), 2), (std::vector<float>{20}));
  EXPECT_EQ(d.floats(d.ask(READ_THERMAL_COUPLE, {1, 0}), 2), (std::vector<float>{101}));
}

TEST(SimThermal, NoiseStaysWithinItsAmplitude) {
  Device d("TavraT");
  auto& th = d.peripheral<sim::ThermalFirmware>();
  th.setTemperature(1, 6, sim::ThermalSignal{50, 0, 0.25, 7, 0});
  bool varied = false;
  for (int i = 0; i < 50; ++i) {
    d.fw.time().advance(0.1);
    const double t = th.temperature(1, 6);
    EXPECT_NEAR(t, 50, 0.25);
    varied = varied || t != 50;
  }
  EXPECT_TRUE(varied);
}

TEST(SimThermal, SavedOffsetSurvivesARebootAndTheSettingsDoNot) {
  Device d("PellorK1RD");
  EXPECT_EQ(d.ask(SAVE_THERMAL_OFFSET, cat(Bytes{2, 1}, f32(1.5))), (Bytes{2, 1, 0}));
  EXPECT_EQ(d.ask(WRITE_THERMAL_OFFSET, cat(Bytes{2, 1}, f32(-3))), (Bytes{2, 1, 0}));
  EXPECT_EQ(d.ask(SET_THERMAL_TYPE, {2, 1, 1}), (Bytes{2, 1, 0}));
  EXPECT_EQ(d.ask(OPEN_THERMAL, {2}), (Bytes{2, 0}));
  EXPECT_EQ(d.floats(d.ask(READ_THERMAL_OFFSET, {2, 1}), 2), (std::vector<float>{-3}));
  d.ask(kReboot, {});
  EXPECT_EQ(d.floats(d.ask(READ_THERMAL_OFFSET, {2, 1}), 2), (std::vector<float>{1.5}));
  const sim::ThermalPort p = d.peripheral<sim::ThermalFirmware>().port(2);
  EXPECT_FALSE(p.open);
  EXPECT_EQ(p.channels[1].settings.type, 0);
  EXPECT_EQ(p.channels[1].saved_offset, 1.5);
}

struct ThermalReply {
  const char* name;
  const char* product;
  int code;
  Bytes request, reply;
};
class SimThermalReply : public ::testing::TestWithParam<ThermalReply> {};

TEST_P(SimThermalReply, Answers) {
  const auto& c = GetParam();
  Device d(c.product);
  d.peripheral<sim::ThermalFirmware>().setOpenCircuit(1, 1, true);
  EXPECT_EQ(d.ask(c.code, c.request), c.reply);
}

INSTANTIATE_TEST_SUITE_P(
    Sim, SimThermalReply,
    ::testing::Values(ThermalReply{"open_circuit_bit", "PellorK1TD", GET_THERMAL_STATUS, {1, 1, 2}, {1, 1, 1}},
                      ThermalReply{"no_fault", "PellorK1TD", GET_THERMAL_STATUS, {1, 0, 1}, {1, 0, 0}},
                      ThermalReply{"channel_two_on_usb", "PellorK1TD", READ_THERMAL_COUPLE, {1, 2}, {1, 2, 56}},
                      ThermalReply{"channel_six_on_tavra_t", "TavraT", SET_THERMAL_TYPE, {1, 6, 7}, {1, 6, 0}},
                      ThermalReply{"thermocouple_type_eight", "TavraT", SET_THERMAL_TYPE, {1, 0, 8}, {1, 0, 56}},
                      ThermalReply{"rtd_type_two", "PellorK1RD", SET_THERMAL_TYPE, {1, 0, 2}, {1, 0, 56}},
                      ThermalReply{"no_oversampling_on_rtd", "PellorK1RD", SET_THERMAL_OVER_SAMPLING, {1, 0, 1}, {1, 0, 10}},
                      ThermalReply{"port_missing", "TavraT", OPEN_THERMAL, {2}, {2, 56}},
                      ThermalReply{"too_short", "TavraT", SET_THERMAL_NOISE_FILTER, {1, 0}, {80}}),
    [](const auto& p) { return std::string(p.param.name); });

// --- attitude sensor ------------------------------------------------------------------------------

using namespace sim::ahrscmd;

struct Rotation {
  const char* name;
  sim::Vec3 rate;  // rad/s, held for 2 s
  std::vector<float> orientation;   // roll, pitch, yaw
  std::vector<float> acceleration;  // gravity in the body frame
};
class SimAhrsRotation : public ::testing::TestWithParam<Rotation> {};

TEST_P(SimAhrsRotation, OrientationIntegratesTheRateWhileStarted) {
  const auto& c = GetParam();
  Device d("AerisR3AH");
  auto& ahrs = d.peripheral<sim::AhrsFirmware>();
  EXPECT_EQ(d.ask(AHRS_GET_ESTIMATES, {0, 1}), (Bytes{0, 10}));  // not open
  EXPECT_EQ(d.ask(AHRS_OPEN, {0}), (Bytes{0, 0}));
  EXPECT_TRUE(d.ask(AHRS_START, {0, 0}).empty());  // a stream code: never answered
  ahrs.setAngularRate(0, c.rate);
  d.fw.time().advance(2);
  const Bytes r = d.ask(AHRS_GET_ESTIMATES, {0, 21});
  ASSERT_EQ(r.size(), 2 + 9 * 4u);
  const auto v = d.floats(r, 2);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_NEAR(v[i], c.orientation[i], 1e-5) << "orientation " << i;
    EXPECT_NEAR(v[3 + i], c.rate[i], 1e-6) << "angular velocity " << i;
    EXPECT_NEAR(v[6 + i], c.acceleration[i], 1e-5) << "acceleration " << i;
  }
  // Stopped, it stays where it is; a reset puts it back to level.
  EXPECT_EQ(d.ask(AHRS_STOP, {0}), (Bytes{0, 0}));
  d.fw.time().advance(5);
  EXPECT_EQ(d.floats(d.ask(AHRS_GET_ESTIMATES, {0, 1}), 2), std::vector<float>(v.begin(), v.begin() + 3));
  EXPECT_EQ(d.ask(AHRS_RESET, {0}), (Bytes{0, 0}));
  EXPECT_EQ(d.floats(d.ask(AHRS_GET_ESTIMATES, {0, 1}), 2), (std::vector<float>{0, 0, 0}));
}

const float kG = 9.81f;
const float kHalfPi = static_cast<float>(std::numbers::pi / 2);

INSTANTIATE_TEST_SUITE_P(
    Sim, SimAhrsRotation,
    ::testing::Values(Rotation{"yaw_one_radian", {0, 0, 0.5}, {0, 0, 1}, {0, 0, kG}},
                      Rotation{"roll_a_right_angle", {std::numbers::pi / 4, 0, 0}, {kHalfPi, 0, 0}, {0, kG, 0}},
                      Rotation{"pitch_down", {0, -0.25, 0}, {0, -0.5, 0}, {kG * std::sin(0.5f), 0, kG * std::cos(0.5f)}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(SimAhrs, KeepsTheFilterSettings) {
  Device d("AerisR3AH");
  EXPECT_EQ(d.ask(AHRS_SET_GNRL, cat(Bytes{0}, f32(9.8f), f32(0.01f), f32(0.002f))), (Bytes{0, 0}));
  EXPECT_EQ(d.ask(AHRS_VQF_SET_TAU, cat(Bytes{0}, f32(4.5f), f32(10))), (Bytes{0, 0}));
  EXPECT_EQ(d.ask(AHRS_VQF_SET_TAU, {0, 1}), (Bytes{80}));
  EXPECT_EQ(d.ask(AHRS_OPEN, {1}), (Bytes{1, 11}));
  const sim::AhrsPort p = d.peripheral<sim::AhrsFirmware>().port(0);
  EXPECT_FLOAT_EQ(p.gravity, 9.8f);
  EXPECT_FLOAT_EQ(p.dt, 0.01f);
  EXPECT_FLOAT_EQ(p.tau_mag, 10.0f);
}

// --- Wi-Fi board ------------------------------------------------------------------------------------

using namespace sim::wificmd;

TEST(SimWifiBoard, ChargePinsAndLedsBesideTheDigitalPorts) {
  Device d("AerisR3AOD");  // has digital I/O ports 2 and 3 besides the board's 0 and 1
  auto& board = d.peripheral<sim::WifiFirmware>();
  board.setPowerGood(true);
  board.setCharging(false);
  EXPECT_EQ(d.ask(READ_AND_GET_DI, {1, 0, 3}), (Bytes{1, 0, 1}));
  EXPECT_EQ(d.ask(SET_AND_WRITE_DO, {0, 0, 5, 0, 5}), (Bytes{0, 0, 5}));  // red and blue on
  EXPECT_EQ(d.ask(SET_AND_WRITE_DO, {0, 0, 1, 0, 0}), (Bytes{0, 0, 4}));  // red off, blue stays
  EXPECT_EQ(board.board().leds, 4);
  EXPECT_EQ(d.ask(SET_AND_WRITE_DO, {1, 0, 1, 0, 1}), (Bytes{1, 50}));   // the charge pins are inputs
  EXPECT_EQ(d.ask(READ_AND_GET_DI, {2, 0, 1}), (Bytes{2, 0, 0}));        // the digital I/O port answers itself
  EXPECT_EQ(d.ask(READ_AND_GET_DI, {5, 0, 1}), (Bytes{5, 11}));
}

TEST(SimWifiBoard, RadioAndSensors) {
  Device d("AerisR3A");
  auto& board = d.peripheral<sim::WifiFirmware>();
  board.setRssi(-70);
  board.setBoardTemperature(-1);
  board.setAcceleration({1, 2, 65535});
  board.setBattery(4100);
  EXPECT_EQ(d.ask(GET_RSSI, {}), (Bytes{186}));
  EXPECT_EQ(d.ask(GET_THERMOMETER, {}), (Bytes{0xFF, 0x80}));
  EXPECT_EQ(d.ask(READ_ACCELERATION, {}), (Bytes{0, 1, 0, 2, 0xFF, 0xFF}));
  EXPECT_EQ(d.ask(GET_BATTERY, {}), (Bytes{0x10, 0x04}));
  EXPECT_EQ(d.ask(SET_WIFI_BANDWIDTH, {2}), (Bytes{0}));
  EXPECT_EQ(d.ask(GET_WIFI_BANDWIDTH, {}), (Bytes{2}));
  EXPECT_EQ(d.ask(SET_WIFI_CONFIGURATION, {0, 5, 0x01, 0x2C}), (Bytes{0}));
  EXPECT_EQ(d.ask(GET_WIFI_CONFIGURATION, {}), (Bytes{0, 5, 0x01, 0x2C}));
  EXPECT_EQ(d.ask(SET_AP, {}), (Bytes{0}));
  EXPECT_EQ(d.ask(AI_RESET_BUFFER, {0}), (Bytes{0, 0}));
  const sim::WifiBoard b = board.board();
  EXPECT_TRUE(b.ap_mode);
  EXPECT_EQ(b.ai_buffer_resets, 1u);
  EXPECT_THROW(board.setRssi(0), std::invalid_argument);
  EXPECT_THROW(board.setBoardTemperature(300), std::invalid_argument);
}

}  // namespace
