// The emulated firmware's DIO commands, exercised over raw TCP: reply layouts, the port words,
// pin modes, refusals and the start-up configuration.
#include <gtest/gtest.h>

#include <functional>

#include "test_sim_client.hpp"
#include "zelvo/sim/dio_firmware.hpp"
#include "zelvo/sim/emulator.hpp"

namespace {

using simtest::Bytes;
namespace sim = zelvo::sim;
using sim::DioWords;
using sim::PinMode;

constexpr std::uint8_t kFF = 0xFF;

struct Step {
  int code;
  Bytes request;
  Bytes reply;
};

struct Scenario {
  const char* name;
  const char* product;
  std::function<void(sim::Firmware&, sim::DioFirmware&)> setup;
  std::vector<Step> steps;
  std::function<void(sim::Firmware&, sim::DioFirmware&)> check;
};
void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }

class SimDio : public ::testing::TestWithParam<Scenario> {};

TEST_P(SimDio, Answers) {
  const auto& s = GetParam();
  sim::Emulator emu;
  auto dev = emu.add(s.product);
  auto& dio = *dev->firmware().findModule<sim::DioFirmware>();
  if (s.setup) s.setup(dev->firmware(), dio);
  simtest::RawClient client(dev->host(), dev->port());
  for (const auto& step : s.steps) EXPECT_EQ(client.exchange(step.code, step.request), step.reply) << step.code;
  if (s.check) s.check(dev->firmware(), dio);
}

auto modesOf(sim::Firmware& fw, int port, std::size_t count) {
  auto modes = fw.pinModes(port);
  modes.resize(count);
  return modes;
}

const PinMode I = PinMode::Idle, DI = PinMode::DI, DO = PinMode::DO, UART = PinMode::UART;

INSTANTIATE_TEST_SUITE_P(
    Sim, SimDio,
    ::testing::Values(
        // TavraEXD: inputs on ports 2 and 3, outputs on ports 0 and 1, eight pins each.
        Scenario{"open_inputs_and_read",
                 "TavraEXD",
                 [](auto&, auto& dio) { dio.setInputs(2, 0x00E1); },
                 {{227, {2, 0, 0x23, kFF, kFF, 0, 0, 0, 0}, {2, 0}}, {233, {2, kFF, kFF}, {2, 0, 0x21}}},
                 [](auto& fw, auto& dio) {
                   EXPECT_EQ(modesOf(fw, 2, 6), (std::vector<PinMode>{DI, DI, I, I, I, DI}));
                   EXPECT_EQ(dio.words(2), (DioWords{0x23, 0, 0x21}));
                 }},
        Scenario{"refusals",
                 "TavraEXD",
                 nullptr,
                 {{227, {9, 0, 1, 0, 1, 0, 0, 0, 0}, {9, 11}},    // no such port
                  {233, {9, 0, 1}, {9, 11}},                       // the same for a word reply
                  {227, {3, 1, 0, 0, 1, 0, 0, 0, 0}, {3, 11}},    // pin 8 does not exist
                  {227, {2, 0, 1, 0, 1, 0, 1, 0, 0}, {2, 50}},    // an input-only pin as output
                  {227, {2, 0}, {2, 80}},                          // too short
                  {234, {}, {0, 80}}},
                 [](auto& fw, auto&) { EXPECT_EQ(modesOf(fw, 2, 1), (std::vector<PinMode>{I})); }},
        Scenario{"busy_pins",
                 "TavraEXD",
                 [](auto& fw, auto&) { fw.setPinMode(0, 1, UART); },
                 {{227, {0, 0, 3, kFF, kFF, kFF, kFF, 0, 0}, {0, 50}},  // named: refused
                  {236, {0, 0}, {0, 0}}},                               // whole port: left alone
                 [](auto& fw, auto& dio) {
                   EXPECT_EQ(modesOf(fw, 0, 3), (std::vector<PinMode>{DO, UART, DO}));
                   EXPECT_EQ(dio.words(0), (DioWords{0xFD, 0xFD, 0}));
                 }},
        Scenario{"write_toggle_and_latch",
                 "TavraEXD",
                 nullptr,
                 {{236, {0, 0}, {0, 0}},
                  {234, {0, 0, 0x23, 0, 0x03}, {0, 0, 0x03}},
                  {238, {0, 0, 0x06}, {0, 0, 0x05}},
                  {230, {0, 0, 0x80, 0, 0x80}, {0, 0}},  // set, not yet driven
                  {229, {0, kFF, kFF}, {0, 0, 0x85}},
                  {232, {0, 0}, {0, 0}},
                  {237, {1, 0}, {1, 0}}},
                 [](auto& fw, auto& dio) {
                   EXPECT_EQ(dio.outputs(0), 0x85);
                   EXPECT_EQ(modesOf(fw, 1, 1), (std::vector<PinMode>{I}));
                 }},
        Scenario{"startup_configuration",
                 "TavraEXD",
                 nullptr,
                 {{225, {0, 0, 3, 0, 3, 0, 1}, {0, 0}},
                  {224, {0, 1, 1, 1, 1, 1, 1}, {0, 0, 3, 0, 3, 0, 1}},
                  {225, {0, 0, 3, 0, 1, 0, 1}, {0, 50}},  // an output-only pin cannot start as an input
                  {225, {2, 0, 1, 0, 1, 0, 0}, {2, 50}},  // an input port cannot start as outputs
                  {226, {0, kFF, kFF, 1, 1, 1, 1, 1, 1}, {0, 0, 0, 0, 0, 0, 0}}},  // saving changes nothing now
                 nullptr},
        // PellorK1D: every pin can be either; pins 3 and 4 of port 0 belong to a UART.
        Scenario{"direction_toggle_and_sampling",
                 "PellorK1D",
                 [](auto& fw, auto& dio) {
                   fw.setPinMode(0, 3, UART);
                   dio.setInputs(0, 0x06);
                 },
                 {{235, {0, 0}, {0, 0}},
                  {228, {0, 0, 1, 0, 1}, {0, 0}},
                  {231, {0, 0}, {0, 0}},
                  {226, {0, 0, 0x0F, 1, 1, 1, 1, 1, 1}, {0, 0, 0x07, 0, 0x01, 0, 0x07}}},
                 [](auto& fw, auto& dio) {
                   EXPECT_EQ(modesOf(fw, 0, 4), (std::vector<PinMode>{DO, DI, DI, UART}));
                   EXPECT_EQ(dio.outputs(0), 0x01);
                 }},
        // Fixed directions: enabled from the start, outputs where only the output map names a pin.
        Scenario{"fixed_direction_start",
                 "TavraD",
                 [](auto&, auto& dio) { dio.setInputs(1, 0x81); },
                 {{226, {0, kFF, kFF, 1, 1, 1, 1, 1, 1}, {0, 0, 0x3F, 0, 0x3F, 0, 0}},
                  {224, {1, 1, 1, 1, 1, 1, 1}, {1, 0, 0xFF, 0, 0, 0, 0}},
                  {234, {0, 0, 0x05, 0, 0x05}, {0, 0, 0x05}},  // no opening needed
                  {233, {1, kFF, kFF}, {1, 0, 0x81}}},
                 [](auto& fw, auto&) { EXPECT_EQ(modesOf(fw, 0, 1), (std::vector<PinMode>{I})); }}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(SimDioControls, RejectPortsAndPinsTheDeviceLacks) {
  sim::Emulator emu;
  auto& dio = *emu.add("TavraD")->firmware().findModule<sim::DioFirmware>();
  EXPECT_THROW(dio.setInput(2, 0, true), std::invalid_argument);
  EXPECT_THROW(dio.setInput(0, 6, true), std::invalid_argument);  // port 0 has pins 0..5
  EXPECT_THROW(dio.setInputs(1, 0x100), std::invalid_argument);
  dio.setInput(1, 7, true);
  EXPECT_EQ(dio.inputs(1), 0x80);
  EXPECT_EQ(dio.ports(), (std::vector<int>{0, 1}));
}

}  // namespace
