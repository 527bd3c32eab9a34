// Thermal, AHRS, Wi-Fi and system analog operations against a scripted device: the bytes each
// sends and how it decodes the reply, in both families; the refusals before anything is sent.
#include <gtest/gtest.h>

#include <numbers>
#include <string>

#include "support/product_bench.hpp"
#include "zelvo/analog/ahrs_module.hpp"
#include "zelvo/analog/thermal_module.hpp"
#include "zelvo/system/system_analog_module.hpp"
#include "zelvo/system/wifi_module.hpp"

namespace {

using zelvo::AHRSModule;
using zelvo::Call;
using zelvo::Device;
using zelvo::Err;
using zelvo::SystemAnalogModule;
using zelvo::ThermalModule;
using zelvo::WifiModule;
using ztest::asText;
using ztest::Bytes;
using ztest::cat;
using ztest::f32;

constexpr int kPinModes = ztest::kPinModeQuery;
const float kRightAngle = static_cast<float>(std::numbers::pi / 2);

class SensorOp : public ::testing::TestWithParam<std::tuple<ztest::OpCase, bool>> {};

TEST_P(SensorOp, SendsItsRequestAndDecodesTheReply) { ztest::checkOp(std::get<0>(GetParam()), std::get<1>(GetParam())); }

#define TH(expr) [](Device & d, Call & c) { auto& m = *d.module<ThermalModule>(); return asText(expr); }
#define AH(expr) [](Device & d, Call & c) { auto& m = *d.module<AHRSModule>(); return asText(expr); }
#define WF(expr) [](Device & d, Call & c) { auto& m = *d.module<WifiModule>(); return asText(expr); }
#define SA(expr) [](Device & d, Call & c) { auto& m = *d.module<SystemAnalogModule>(); return asText(expr); }

const Bytes kFilterDefaults = cat(Bytes{0}, f32(9.81f), f32(0.003f), f32(0.001f));

const ztest::OpCase kCases[] = {
    // Thermal.
    {"sensor_rounded_to_3_decimals", "PellorK1TD", {{66, cat(Bytes{1, 0}, f32(23.45678f))}}, TH(m.readSensor(c, 1, 0)),
     "23.457", {{66, {1, 0}}}},
    {"junction_not_rounded", "TavraT", {{65, cat(Bytes{1, 6}, f32(25.125f))}}, TH(m.readJunction(c, 1, 6)), "25.125",
     {{65, {1, 6}}}},
    {"status_open_circuit_bit_only", "PellorK1TD", {{71, {1, 1, 3}}}, TH(m.getStatus(c, 1, 1)), "1", {{71, {1, 1, 2}}}},
    {"status_whole_byte", "PellorK1RD", {{71, {1, 1, 3}}}, TH(m.getStatus(c, 1, 1)), "3", {{71, {1, 1, 1}}}},
    {"status_channel_five_on_tavra_t", "TavraT", {{71, {1, 5, 0}}}, TH(m.getStatus(c, 1, 5)), "0", {{71, {1, 5, 1}}}},
    {"setting_status_returned_raw", "PellorK1TD", {{68, {2, 0, 7}}}, TH(m.setNoiseFilter(c, 2, 0, 1)), "7", {{68, {2, 0, 1}}}},
    {"oversampling", "PellorK1TD", {{69, {1, 0, 0}}}, TH(m.setOverSampling(c, 1, 0, 4)), "0", {{69, {1, 0, 4}}}},
    {"thermocouple_type", "TavraT", {{70, {1, 3, 0}}}, TH(m.setTCType(c, 1, 3, 7)), "0", {{70, {1, 3, 7}}}},
    {"rtd_type", "PellorK1RD", {{70, {2, 1, 0}}}, TH(m.setRTDType(c, 2, 1, 1)), "0", {{70, {2, 1, 1}}}},
    {"junction_off", "PellorK1TD", {{72, {1, 0, 0}}}, TH(m.setJunctionOn(c, 1, 0, false)), "0", {{72, {1, 0, 0}}}},
    {"write_junction", "PellorK1TD", {{75, {1, 0, 0}}}, TH(m.writeJunction(c, 1, 0, 21)), "0", {{75, cat(Bytes{1, 0}, f32(21))}}},
    {"write_offset", "PellorK1RD", {{74, {1, 1, 0}}}, TH(m.writeOffset(c, 1, 1, -0.5)), "0", {{74, cat(Bytes{1, 1}, f32(-0.5))}}},
    {"save_offset", "PellorK1RD", {{77, {1, 1, 0}}}, TH(m.saveOffset(c, 1, 1, 1.25)), "0", {{77, cat(Bytes{1, 1}, f32(1.25))}}},
    {"load_offset", "PellorK1RD", {{76, cat(Bytes{1, 1}, f32(1.25))}}, TH(m.loadOffset(c, 1, 1)), "1.25", {{76, {1, 1}}}},
    {"read_offset", "TavraT", {{73, cat(Bytes{1, 0}, f32(-0.75))}}, TH(m.readOffset(c, 1, 0)), "-0.75", {{73, {1, 0}}}},
    {"open_checks_every_thermal_pin", "PellorK1TD", {{64, {1, 0}}}, TH(m.open(c, 1)), "0",
     {{kPinModes, {1}}, {kPinModes, {2}}, {kPinModes, {3}}, {64, {1}}}},
    {"open_status_raw", "PellorK1RD", {{64, {2, 13}}}, TH(m.open(c, 2)), "13",
     {{kPinModes, {1}}, {kPinModes, {2}}, {kPinModes, {3}}, {64, {2}}}},
    {"close", "PellorK1TD", {}, TH(m.close(c, 2)), "0", {{67, {2}}}},
    {"open_sends_nothing_on_tavra_t", "TavraT", {}, TH(m.open(c, 1)), "0", {}},
    {"close_on_tavra_t_any_port", "TavraT", {}, TH(m.close(c, 9)), "0", {}},
    // AHRS.
    {"open_then_filter_defaults", "AerisR3AH", {}, AH(m.open(c, 0)), "0", {{9216, {0}}, {9233, kFilterDefaults}}},
    {"failed_open_sets_nothing", "AerisR3AH", {{9216, {0, 13}}}, AH(m.open(c, 0)), "-7003", {{9216, {0}}}},
    {"start_awaits_nothing", "AerisR3AH", {}, AH(m.start(c, 0)), "0", {{9217, {0, 0}}}},
    {"stop", "AerisR3AH", {}, AH(m.stop(c, 0)), "0", {{9218, {0}}}},
    {"close_ahrs", "AerisR3AH", {}, AH(m.close(c, 0)), "0", {{9219, {0}}}},
    {"reset", "AerisR3AH", {{9232, {0, 40}}}, AH(m.reset(c, 0)), "-7012", {{9232, {0}}}},
    {"orientation_in_degrees", "AerisR3AH", {{9250, cat(Bytes{0, 0}, f32(kRightAngle), f32(0), f32(-kRightAngle / 2))}},
     AH(m.getOrientation(c, 0)), "90,0,-45", {{9250, {0, 1}}}},
    {"acceleration_rounded", "AerisR3AH", {{9250, cat(Bytes{0, 0}, f32(9.80665f), f32(0.00004f), f32(-1))}},
     AH(m.getAcceleration(c, 0)), "9.8067,0,-1", {{9250, {0, 16}}}},
    {"angular_velocity", "AerisR3AH", {{9250, cat(Bytes{0, 0}, f32(0.5f), f32(-0.25f), f32(0))}},
     AH(m.getAngularVelocity(c, 0)), "0.5,-0.25,0", {{9250, {0, 4}}}},
    {"estimate_angles_then_rates", "AerisR3AH",
     {{9250, cat(Bytes{0, 0}, f32(kRightAngle), f32(0), f32(0), f32(0.1f), f32(0.2f), f32(0.3f), Bytes{7})}},
     AH(m.getEstimate(c, 0, 4)), "90,0,0,0.1,0.2,0.3", {{9250, {0, 5}}}},
    {"general_settings", "AerisR3AH", {}, AH(m.setGeneral(c, 0, 9.8, 0.01, 0)), "0",
     {{9233, cat(Bytes{0}, f32(9.8f), f32(0.01f), f32(0))}}},
    {"time_constants", "AerisR3AH", {}, AH(m.setTau(c, 0, 3, 9)), "0", {{9234, cat(Bytes{0}, f32(3), f32(9))}}},
    // Wi-Fi board and radio.
    {"power_good", "AerisR3A", {{233, {1, 0, 1}}}, WF(m.getPowerGoodStatus(c)), "1", {{233, {1, 0, 1}}}},
    {"charging", "AerisR3AH", {{233, {1, 0, 2}}}, WF(m.getChargeStatus(c)), "1", {{233, {1, 0, 2}}}},
    {"not_charging", "AerisR4A", {{233, {1, 0, 0}}}, WF(m.getChargeStatus(c)), "0", {{233, {1, 0, 2}}}},
    {"red_on_for_any_positive", "AerisR3A", {}, WF(m.setRedLED(c, 5)), "0", {{234, {0, 0, 1, 0, 1}}}},
    {"red_off_for_negative", "AerisR3A", {}, WF(m.setRedLED(c, -1)), "0", {{234, {0, 0, 1, 0, 0}}}},
    {"green_on", "AerisR3A", {}, WF(m.setGreenLED(c, 1)), "0", {{234, {0, 0, 2, 0, 2}}}},
    {"blue_on", "AerisR3AOD", {}, WF(m.setBlueLED(c, 0.5)), "0", {{234, {0, 0, 4, 0, 4}}}},
    {"leds_off", "AerisR3A", {}, WF(m.resetLED(c)), "0", {{234, {0, 0, 7, 0, 0}}}},
    {"bandwidth", "AerisR3A", {{119, {2}}}, WF(m.getWifiBandWidth(c)), "2", {{119, {}}}},
    {"rssi", "AerisR3A", {{113, {200}}}, WF(m.readRSSI(c)), "-56", {{113, {}}}},
    {"configuration", "AerisR3A", {{117, {0, 3, 0, 60}}}, WF(m.getConfiguration(c)), "3,60", {{117, {}}}},
    {"access_point", "AerisR3A", {{112, {0}}}, WF(m.setAP(c)), "0", {{112, {}}}},
    {"access_point_refused", "AerisR3A", {{112, {13}}}, WF(m.setAP(c)), "-7003", {{112, {}}}},
    {"ht40_sent_as_ht20", "AerisR3A", {{118, {0}}}, WF(m.setBandwidth(c, 2)), "0", {{118, {1}}}},
    {"reconnection_settings", "AerisR3A", {{116, {0}}}, WF(m.setConfiguration(c, 3, 65535)), "0",
     {{116, {0, 3, 0xFF, 0xFF}}}},
    {"battery", "AerisR3A", {{114, {0x0F, 0x3C}}}, SA(m.readBattery(c)), "3900", {{114, {}}}},
    {"board_temperature", "AerisR3A", {{115, {0xFF, 0x80}}}, SA(m.readThermo(c)), "-1", {{115, {}}}},
    {"acceleration_words", "AerisR3A", {{111, {0, 1, 0, 2, 0x40, 0}}}, SA(m.readAcceleration(c)), "1,2,16384", {{111, {}}}},
    {"ai_buffer_reset", "AerisR4A", {{8213, {0, 0}}}, SA(m.resetAIBuffer(c)), "0", {{8213, {0}}}},
};

INSTANTIATE_TEST_SUITE_P(Ops, SensorOp, ::testing::Combine(::testing::ValuesIn(kCases), ::testing::Bool()),
                         [](const auto& p) { return ztest::caseName(p); });

// --- refusals before sending, and replies too short -----------------------------------------------

class SensorRefused : public ::testing::TestWithParam<ztest::RefusalCase> {};

TEST_P(SensorRefused, Raises) { ztest::checkRefused(GetParam()); }

using R = ztest::RefusalCase;
const Bytes kPort1Pin5Uart = {1, 8, 0x11, 0x11, 0x41, 0x11};

INSTANTIATE_TEST_SUITE_P(
    Checks, SensorRefused,
    ::testing::Values(
        R{"thermal_channel_two_on_usb", "PellorK1TD", {}, TH(m.readSensor(c, 1, 2)),
                      Err::ThermalChipSelectNotAvaliableError, {}},
        R{"thermal_channel_seven", "TavraT", {}, TH(m.readSensor(c, 1, 7)), Err::ThermalChipSelectNotAvaliableError, {}},
        R{"thermal_port", "PellorK1RD", {}, TH(m.getStatus(c, 3, 0)), Err::ThermalPortNotAvaliableError, {}},
        R{"filter_two", "PellorK1TD", {}, TH(m.setNoiseFilter(c, 1, 0, 2)), Err::ThermalModeNotVaildError, {}},
        R{"oversampling_five", "TavraT", {}, TH(m.setOverSampling(c, 1, 0, 5)), Err::ThermalModeNotVaildError, {}},
        R{"thermocouple_type_eight", "TavraT", {}, TH(m.setTCType(c, 1, 0, 8)), Err::ThermalTypeNotVaildError, {}},
        R{"rtd_type_two", "PellorK1RD", {}, TH(m.setRTDType(c, 1, 0, 2)), Err::ThermalTypeNotVaildError, {}},
        R{"offset_beyond_f32", "PellorK1RD", {}, TH(m.writeOffset(c, 1, 0, 1e39)), Err::InputDataNotInRangeError, {}},
        R{"open_with_a_busy_pin", "PellorK1TD", {{kPinModes, kPort1Pin5Uart}}, TH(m.open(c, 1)),
                      Err::ThermalPortNotAvaliableError, {kPinModes}},
        R{"ahrs_port", "AerisR3AH", {}, AH(m.getOrientation(c, 1)), Err::AHRSPortNotAvaliableError, {}},
        R{"ahrs_mode_seven", "AerisR3AH", {}, AH(m.getEstimate(c, 0, 7)), Err::AHRSModeNotAvaliableError, {}},
        R{"gravity_beyond_f32", "AerisR3AH", {}, AH(m.setGeneral(c, 0, 1e39, 0.003, 0)),
                      Err::InputDataNotInRangeError, {}},
        R{"estimate_one_value_short", "AerisR3AH",
                      {{9250, cat(Bytes{0, 0}, f32(0), f32(0), f32(0), f32(0), f32(0))}}, AH(m.getEstimate(c, 0, 4)),
                      Err::FirmwareOtherError, {9250}},
        R{"bandwidth_zero", "AerisR3A", {}, WF(m.setBandwidth(c, 0)), Err::InputDataNotInRangeError, {}},
        R{"bandwidth_three", "AerisR3A", {}, WF(m.setBandwidth(c, 3)), Err::InputDataNotInRangeError, {}},
        R{"retries_beyond_16_bits", "AerisR3A", {}, WF(m.setConfiguration(c, 65536, 0)),
                      Err::InputDataNotInRangeError, {}},
        R{"negative_ap_time", "AerisR3A", {}, WF(m.setConfiguration(c, 0, -1)), Err::InputDataNotInRangeError, {}},
        R{"thermometer_one_byte", "AerisR3A", {{115, {0xFF}}}, SA(m.readThermo(c)), Err::FirmwareOtherError, {115}},
        R{"power_good_word_cut", "AerisR3A", {{233, {1, 0}}}, WF(m.getPowerGoodStatus(c)), Err::FirmwareOtherError,
                      {233}}),
    [](const auto& p) { return ztest::caseName(p); });

TEST(AHRSMask, ModesSelectTheirVectors) {
  const int expected[] = {1, 16, 4, 17, 5, 20, 21};
  for (int mode = 0; mode < 7; ++mode) EXPECT_EQ(AHRSModule::modeToMask(mode), expected[mode]) << mode;
  EXPECT_EQ(AHRSModule::modeToMask(7), 21);
  EXPECT_EQ(AHRSModule::modeToMask(-1), 21);
}

#undef TH
#undef AH
#undef WF
#undef SA

}  // namespace
