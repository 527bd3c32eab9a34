// I2C and SPI operations against a scripted device: the bytes each sends and how it decodes the
// reply, in both families; the checks that stop a request before anything is sent.
#include <gtest/gtest.h>

#include <thread>

#include "support/bus_bench.hpp"
#include "zelvo/bus/i2c_module.hpp"
#include "zelvo/bus/spi_module.hpp"

namespace {

using zelvo::Call;
using zelvo::Err;
using zelvo::I2CModule;
using zelvo::SPIModule;
using ztest::asText;
using ztest::Bytes;
using ztest::kPinModeQuery;
using namespace std::chrono_literals;

const zelvo::PairMap& i2cMap() { return *zelvo::product("PellorK1D").I2C_dict; }  // 1: (2,6),(2,7); 2: (3,0),(3,1)
const zelvo::PairMap& spiMap() { return *zelvo::product("PellorK1D").SPI_dict; }  // 1: (2,1..3); 2: (3,3..5)

// --- I2C -----------------------------------------------------------------------------------------

using I2CRow = ztest::OpRow<I2CModule>;
class I2COp : public ::testing::TestWithParam<std::tuple<I2CRow, bool>> {};

TEST_P(I2COp, SendsItsRequestsAndDecodesTheReply) {
  const auto& [c, blocking] = GetParam();
  std::vector<ztest::Sent> sent;
  EXPECT_EQ(ztest::runRow(c, "PellorK1D", i2cMap(), blocking, sent), c.result);
  EXPECT_EQ(sent, c.sent);
}

#define OP(expr) [](I2CModule & m, Call & c) { return asText(expr); }

const I2CRow kI2CRows[] = {
    {"open_checks_its_pins", {{144, {1, 0}}}, OP(m.open(c, 1)), "0", {{kPinModeQuery, {2}}, {144, {1}}}},
    {"open_port_2", {{144, {2, 0}}}, OP(m.open(c, 2)), "0", {{kPinModeQuery, {3}}, {144, {2}}}},
    {"close", {{148, {1, 0}}}, OP(m.close(c, 1)), "0", {{148, {1}}}},
    {"reset_status_as_code", {{149, {1, 21}}}, OP(m.reset(c, 1)), "-7005", {{149, {1}}}},
    {"clock_rate_sends_hertz", {{150, {1, 0}}}, OP(m.setClockRate(c, 1, 1)), "0", {{150, {1, 0x00, 0x06, 0x1A, 0x80}}}},
    {"high_speed_clock", {{150, {2, 0}}}, OP(m.setClockRate(c, 2, 3)), "0", {{150, {2, 0x00, 0x33, 0xE1, 0x40}}}},
    {"address_size", {{151, {1, 0}}}, OP(m.setAddressSize(c, 1, 1)), "0", {{151, {1, 1}}}},
    {"write", {{146, {1, 0}}}, OP(m.write(c, 1, 0x50, {0, 16, 255})), "0", {{146, {1, 80, 3, 0, 16, 255}}}},
    {"write_nothing", {{146, {1, 0}}}, OP(m.write(c, 1, 0x50, {})), "0", {{146, {1, 80, 0}}}},
    {"read_returns_the_tail_from_element_3", {{145, {1, 0, 2, 7, 9}}}, OP(m.read(c, 1, 0x50, 2)), "7,9",
     {{145, {1, 80, 2}}}},
    {"read_takes_no_status", {{145, {1, 21, 0}}}, OP(m.read(c, 1, 0x51, 2)), "", {{145, {1, 81, 2}}}},
    {"pin_state_check", {}, OP(m.checkPinState(c, 1, {"Idle"})), "true", {{kPinModeQuery, {2}}}},
};

INSTANTIATE_TEST_SUITE_P(Ops, I2COp, ::testing::Combine(::testing::ValuesIn(kI2CRows), ::testing::Bool()),
                         [](const auto& p) {
                           return std::string(std::get<0>(p.param).name) + (std::get<1>(p.param) ? "_blocking" : "_awaitable");
                         });
#undef OP

// --- SPI -----------------------------------------------------------------------------------------

using SPIRow = ztest::OpRow<SPIModule>;
class SPIOp : public ::testing::TestWithParam<std::tuple<SPIRow, bool>> {};

TEST_P(SPIOp, SendsItsRequestsAndDecodesTheReply) {
  const auto& [c, blocking] = GetParam();
  std::vector<ztest::Sent> sent;
  EXPECT_EQ(ztest::runRow(c, "PellorK1D", spiMap(), blocking, sent), c.result);
  EXPECT_EQ(sent, c.sent);
}

#define OP(expr) [](SPIModule & m, Call & c) { return asText(expr); }

const SPIRow kSPIRows[] = {
    {"open_checks_its_pins", {{160, {1, 0}}}, OP(m.open(c, 1)), "0", {{kPinModeQuery, {2}}, {160, {1}}}},
    {"close", {{164, {2, 0}}}, OP(m.close(c, 2)), "0", {{164, {2}}}},
    {"reset", {{165, {2, 22}}}, OP(m.reset(c, 2)), "-7006", {{165, {2}}}},
    {"data_size", {{166, {1, 0}}}, OP(m.setDataSize(c, 1, 1)), "0", {{166, {1, 1}}}},
    {"first_bit", {{167, {1, 0}}}, OP(m.setFirstBit(c, 1, 1)), "0", {{167, {1, 1}}}},
    {"prescaler_as_two_bytes", {{168, {1, 0}}}, OP(m.setPrescaler(c, 1, 256)), "0", {{168, {1, 1, 0}}}},
    {"mode_sends_cpol_then_cpha", {{169, {1, 0}}, {170, {1, 0}}}, OP(m.setMode(c, 1, 2)), "0",
     {{169, {1, 1}}, {170, {1, 0}}}},
    {"mode_returns_the_first_failure", {{169, {1, 22}}, {170, {1, 50}}}, OP(m.setMode(c, 1, 3)), "-7006",
     {{169, {1, 1}}, {170, {1, 1}}}},
    {"mode_returns_the_second_failure", {{169, {1, 0}}, {170, {1, 50}}}, OP(m.setMode(c, 1, 1)), "-7015",
     {{169, {1, 0}}, {170, {1, 1}}}},
    {"write", {{162, {1, 0}}}, OP(m.write(c, 1, {1, 2, 3})), "0", {{162, {1, 3, 1, 2, 3}}}},
    {"read_returns_the_tail_from_element_2", {{161, {1, 0, 5, 6}}}, OP(m.read(c, 1, 2)), "5,6", {{161, {1, 2}}}},
    {"read_and_write", {{163, {1, 0, 1, 2, 3}}}, OP(m.readAndWrite(c, 1, {1, 2, 3})), "1,2,3", {{163, {1, 3, 1, 2, 3}}}},
    {"polarity_without_checks", {{169, {7, 0}}}, OP(m.setCPOL(c, 7, 1)), "0", {{169, {7, 1}}}},
};

INSTANTIATE_TEST_SUITE_P(Ops, SPIOp, ::testing::Combine(::testing::ValuesIn(kSPIRows), ::testing::Bool()),
                         [](const auto& p) {
                           return std::string(std::get<0>(p.param).name) + (std::get<1>(p.param) ? "_blocking" : "_awaitable");
                         });
#undef OP

// --- refusals before anything is sent ------------------------------------------------------------

struct Refusal {
  const char* name;
  std::function<zelvo::Op<std::string>(I2CModule&, SPIModule&, Call&)> run;
  Err error;
  std::vector<int> codes_sent;  // nothing, or only the pin-mode query
};
void PrintTo(const Refusal& c, std::ostream* os) { *os << c.name; }

class BusRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(BusRefusal, RaisesBeforeSending) {
  const auto& c = GetParam();
  // Device port 2 reports pin 7 busy with a UART (nibble 4) and pin 2 with SPI (nibble 6).
  ztest::Bench b(
      [](const ztest::Request& r, int) {
        const Bytes modes = r.payload.at(0) == 2 ? Bytes{2, 8, 0x11, 0x16, 0x11, 0x41} : Bytes{r.payload[0], 8, 0x11, 0x11, 0x11, 0x11};
        return ztest::Answer{ztest::wireFrame(r.code, modes)};
      },
      zelvo::product("PellorK1D").model);
  zelvo::SystemModule sys(b.dev, zelvo::product("PellorK1D").system);
  I2CModule i2c(b.dev, i2cMap());
  SPIModule spi(b.dev, spiMap());
  b.dev.registerModule(&sys);
  try {
    ztest::runIn(true, b.dev, 2.0, [&](Call& call) { return c.run(i2c, spi, call); });
    ADD_FAILURE() << "accepted";
  } catch (const zelvo::Error& e) {
    EXPECT_EQ(e.id(), c.error) << e.what();
  }
  std::this_thread::sleep_for(20ms);
  std::vector<int> codes;
  for (const auto& r : b.peer.requests()) codes.push_back(r.code);
  EXPECT_EQ(codes, c.codes_sent);
}

#define OP(expr) [](I2CModule & i2c, SPIModule & spi, Call & c) { (void)i2c, (void)spi; return asText(expr); }

INSTANTIATE_TEST_SUITE_P(
    Checks, BusRefusal,
    ::testing::Values(
        Refusal{"i2c_port_not_in_map", OP(i2c.open(c, 3)), Err::I2CPortNotAvaliableError, {}},
        Refusal{"i2c_pin_busy", OP(i2c.open(c, 1)), Err::I2CPortNotAvaliableError, {kPinModeQuery}},
        Refusal{"i2c_clock_mode", OP(i2c.setClockRate(c, 1, 4)), Err::I2CClockNotSupportError, {}},
        Refusal{"i2c_address_size", OP(i2c.setAddressSize(c, 1, 2)), Err::I2CAddressSizeNotVaildError, {}},
        Refusal{"i2c_address_beyond_a_byte", OP(i2c.write(c, 1, 256, {1})), Err::InputDataNotInRangeError, {}},
        Refusal{"i2c_data_beyond_a_byte", OP(i2c.write(c, 1, 0x50, {1, 256})), Err::InputDataNotInRangeError, {}},
        Refusal{"i2c_write_count", OP(i2c.write(c, 1, 0x50, std::vector<std::int64_t>(256, 0))),
                Err::InputDataNotInRangeError, {}},
        Refusal{"i2c_read_count", OP(i2c.read(c, 1, 0x50, 256)), Err::InputDataNotInRangeError, {}},
        Refusal{"i2c_negative_address", OP(i2c.read(c, 1, -1, 1)), Err::InputDataNotInRangeError, {}},
        Refusal{"spi_port_not_in_map", OP(spi.close(c, 0)), Err::SPIPortNotAvaliableError, {}},
        Refusal{"spi_pin_busy", OP(spi.open(c, 1)), Err::SPIPortNotAvaliableError, {kPinModeQuery}},
        Refusal{"spi_prescaler", OP(spi.setPrescaler(c, 1, 3)), Err::SPIPrescalerNotVaildError, {}},
        Refusal{"spi_mode", OP(spi.setMode(c, 1, 4)), Err::SPIModeNotVaildError, {}},
        Refusal{"spi_data_size", OP(spi.setDataSize(c, 1, 2)), Err::SPIDataSizeNotVaildError, {}},
        Refusal{"spi_first_bit", OP(spi.setFirstBit(c, 1, -1)), Err::SPIFirstBitNotVaildError, {}},
        Refusal{"spi_write_count", OP(spi.write(c, 1, std::vector<std::int64_t>(256, 0))),
                Err::SPIDataLengthExceedMaxError, {}},
        Refusal{"spi_exchange_count", OP(spi.readAndWrite(c, 1, std::vector<std::int64_t>(300, 0))),
                Err::SPIDataLengthExceedMaxError, {}},
        Refusal{"spi_data_beyond_a_byte", OP(spi.write(c, 1, {-1})), Err::InputDataNotInRangeError, {}},
        Refusal{"spi_read_count", OP(spi.read(c, 1, 256)), Err::InputDataNotInRangeError, {}},
        Refusal{"spi_polarity_beyond_a_byte", OP(spi.setCPOL(c, 1, 256)), Err::InputDataNotInRangeError, {}}),
    [](const auto& p) { return std::string(p.param.name); });

#undef OP

}  // namespace
