// The emulated I2C and SPI peripherals over raw TCP: reply layouts, slaves and loopback, pin modes
// taken and given back, refusals.
#include <gtest/gtest.h>

#include <functional>

#include "test_sim_client.hpp"
#include "zelvo/sim/emulator.hpp"
#include "zelvo/sim/i2c_firmware.hpp"
#include "zelvo/sim/spi_firmware.hpp"

namespace {

using simtest::Bytes;
namespace sim = zelvo::sim;
using sim::PinMode;

struct Step {
  int code;
  Bytes request;
  Bytes reply;
};

struct Scenario {
  const char* name;
  std::function<void(sim::Firmware&)> setup;
  std::vector<Step> steps;
  std::function<void(sim::Firmware&)> check;
};
void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }

class SimBus : public ::testing::TestWithParam<Scenario> {};

TEST_P(SimBus, Answers) {
  const auto& s = GetParam();
  sim::Emulator emu;
  auto dev = emu.add("PellorK1D");
  if (s.setup) s.setup(dev->firmware());
  simtest::RawClient client(dev->host(), dev->port());
  for (const auto& step : s.steps) EXPECT_EQ(client.exchange(step.code, step.request), step.reply) << step.code;
  if (s.check) s.check(dev->firmware());
}

sim::I2CFirmware& i2c(sim::Firmware& fw) { return *fw.findModule<sim::I2CFirmware>(); }
sim::SPIFirmware& spi(sim::Firmware& fw) { return *fw.findModule<sim::SPIFirmware>(); }
PinMode mode(sim::Firmware& fw, int port, int pin) { return fw.pinModes(port).at(static_cast<std::size_t>(pin)); }

INSTANTIATE_TEST_SUITE_P(
    Sim, SimBus,
    ::testing::Values(
        // PellorK1D: I2C 1 on device pins (2, 6) and (2, 7); SPI 1 on (2, 1), (2, 2), (2, 3).
        Scenario{"memory_write_then_read_back",
                 nullptr,
                 {{144, {1}, {1, 0}},
                  {146, {1, 0x50, 4, 0x10, 'a', 'b', 'c'}, {1, 0}},  // pointer 0x10, then three bytes
                  {146, {1, 0x50, 1, 0x11}, {1, 0}},                // pointer only
                  {145, {1, 0x50, 3}, {1, 0, 3, 'b', 'c', 0}}},      // the read continues from it
                 [](sim::Firmware& fw) {
                   EXPECT_EQ(mode(fw, 2, 6), PinMode::I2C);
                   EXPECT_EQ(i2c(fw).contents(1, 0x50)[0x10], 'a');
                 }},
        Scenario{"absent_address_closed_port_and_release",
                 nullptr,
                 {{146, {1, 0x50, 1, 0}, {1, 21}},                   // not open
                  {144, {1}, {1, 0}},
                  {145, {1, 0x51, 2}, {1, 21, 0}},                   // nobody at 0x51
                  {146, {1, 0x50, 5, 0}, {1, 80}},                   // count beyond the payload
                  {148, {1}, {1, 0}},
                  {144, {3}, {3, 21}}},                              // no such port
                 [](sim::Firmware& fw) { EXPECT_EQ(mode(fw, 2, 7), PinMode::Idle); }},
        Scenario{"register_device_and_settings",
                 [](sim::Firmware& fw) { i2c(fw).attachRegisters(2, 0x68, {0x71, 0, 0}, {0}); },
                 {{144, {2}, {2, 0}},
                  {146, {2, 0x68, 3, 0, 9, 8}, {2, 0}},              // register 0 is read-only
                  {146, {2, 0x68, 1, 0}, {2, 0}},
                  {145, {2, 0x68, 3}, {2, 0, 3, 0x71, 8, 0}},
                  {150, {2, 0x00, 0x06, 0x1A, 0x80}, {2, 0}},
                  {150, {2, 0, 0, 0, 0}, {2, 21}},                   // 0 Hz refused
                  {151, {2, 1}, {2, 0}},
                  {151, {2, 2}, {2, 21}}},
                 [](sim::Firmware& fw) {
                   const auto s = i2c(fw).state(2);
                   EXPECT_EQ(s.frequency, 400000u);
                   EXPECT_EQ(s.address_size, 1);
                 }},
        Scenario{"pins_busy_with_another_function",
                 [](sim::Firmware& fw) { fw.setPinMode(2, 7, PinMode::UART); },
                 {{144, {1}, {1, 21}}, {160, {1}, {1, 0}}},
                 [](sim::Firmware& fw) {
                   EXPECT_EQ(mode(fw, 2, 6), PinMode::Idle);
                   EXPECT_EQ(mode(fw, 2, 2), PinMode::SPI);
                 }},
        Scenario{"spi_loopback_and_settings",
                 nullptr,
                 {{163, {1, 2, 1, 2}, {1, 22}},                      // not open
                  {160, {1}, {1, 0}},
                  {163, {1, 3, 7, 8, 9}, {1, 0, 7, 8, 9}},
                  {162, {1, 2, 1, 2}, {1, 0}},
                  {161, {1, 2}, {1, 0, 0xFF, 0xFF}},
                  {168, {1, 0, 16}, {1, 0}},
                  {168, {1, 0, 3}, {1, 22}},
                  {169, {1, 1}, {1, 0}},
                  {170, {1, 1}, {1, 0}},
                  {166, {1, 1}, {1, 0}},
                  {167, {1, 2}, {1, 22}},
                  {164, {1}, {1, 0}}},
                 [](sim::Firmware& fw) {
                   const auto s = spi(fw).state(1);
                   EXPECT_EQ(s.prescaler, 16);
                   EXPECT_EQ(s.cpol + s.cpha + s.data_size, 3);
                   EXPECT_FALSE(s.open);
                   EXPECT_EQ(mode(fw, 2, 1), PinMode::Idle);
                 }},
        Scenario{"spi_register_device",
                 [](sim::Firmware& fw) { spi(fw).attachRegisters(2, {0xA5, 0, 0, 0}, {0}); },
                 {{160, {2}, {2, 0}},
                  {162, {2, 3, 0x01, 4, 5}, {2, 0}},                 // write registers 1 and 2
                  {163, {2, 4, 0x80, 0, 0, 0}, {2, 0, 0, 0xA5, 4, 5}},  // read registers 0..2
                  {161, {2, 1}, {2, 0, 0}}},                         // register 3 follows
                 [](sim::Firmware& fw) { EXPECT_EQ(spi(fw).registers(2), (Bytes{0xA5, 4, 5, 0})); }}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
