#include "zelvo/bus/i2c_module.hpp"

#include <array>

#include "zelvo/core/reply.hpp"

namespace zelvo {
namespace {

// Clock-rate modes and the frequency each stands for: standard, fast, fast plus, high speed.
constexpr std::array<std::int64_t, 4> kClockRatesHz = {100000, 400000, 1000000, 3400000};
constexpr int kAddressSizes = 2;          // 0: 7-bit addresses, 1: 10-bit addresses
constexpr std::size_t kReadDataIndex = 3;  // I2C_read returns the reply from here on

}  // namespace

I2CModule::I2CModule(Device&, const PairMap& i2c_dict) : ports_(i2c_dict, Err::I2CPortNotAvaliableError) {}

bool I2CModule::checkClockRate(int mode) {
  if (mode < 0 || mode >= static_cast<int>(kClockRatesHz.size())) throw Error(Err::I2CClockNotSupportError);
  return true;
}

bool I2CModule::checkAddressSize(int mode) {
  if (mode < 0 || mode >= kAddressSizes) throw Error(Err::I2CAddressSizeNotVaildError);
  return true;
}

std::int64_t I2CModule::clockRateHz(int mode) {
  // Every accepted mode beyond the table's first three is high speed.
  return mode >= 0 && mode < static_cast<int>(kClockRatesHz.size()) ? kClockRatesHz[static_cast<std::size_t>(mode)]
                                                                      : kClockRatesHz.back();
}

Op<bool> I2CModule::checkPinState(Call& call, int port, std::vector<std::string> modes) {
  co_return co_await ports_.requirePinModes(call, port, std::move(modes));
}

Op<int> I2CModule::open(Call& call, int port) {
  checkPort(port);
  co_await ports_.requirePinModes(call, port, busOpenModes());
  co_return co_await busStatus(call, OPEN_I2C, payloadOf(port), "I2C_open");
}

Op<int> I2CModule::close(Call& call, int port) {
  checkPort(port);
  co_return co_await busStatus(call, CLOSE_I2C, payloadOf(port), "I2C_close");
}

Op<int> I2CModule::reset(Call& call, int port) {
  checkPort(port);
  co_return co_await busStatus(call, RESET_I2C, payloadOf(port), "I2C_reset");
}

Op<int> I2CModule::setClockRate(Call& call, int port, int mode) {
  checkPort(port);
  checkClockRate(mode);
  Bytes payload = payloadOf(port);
  appendU32Field(payload, clockRateHz(mode), "frequency");
  co_return co_await busStatus(call, SET_I2C_FREQUENCY, std::move(payload), "I2C_setClockRate");
}

Op<int> I2CModule::setAddressSize(Call& call, int port, int mode) {
  checkPort(port);
  checkAddressSize(mode);
  co_return co_await busStatus(call, SET_I2C_ADDR_SIZE, payloadOf(port, mode), "I2C_setAddressSize");
}

Op<int> I2CModule::write(Call& call, int port, std::int64_t write_address, std::vector<std::int64_t> write_data) {
  checkPort(port);
  Bytes payload = payloadOf(port);
  appendByteField(payload, write_address, "write_address");
  appendCountField(payload, write_data.size(), "the number of write_data bytes");
  appendByteFields(payload, write_data, "write_data");
  co_return co_await busStatus(call, WRITE_I2C, std::move(payload), "I2C_write");
}

Op<std::vector<int>> I2CModule::read(Call& call, int port, std::int64_t read_address, std::int64_t bytes_to_read) {
  checkPort(port);
  Bytes payload = payloadOf(port);
  appendByteField(payload, read_address, "read_address");
  appendByteField(payload, bytes_to_read, "bytes_to_read");
  const Bytes r = co_await call.echo(READ_I2C, std::move(payload));
  const ByteView data = Reply(r, "I2C_read").from(kReadDataIndex);
  co_return std::vector<int>(data.begin(), data.end());
}

}  // namespace zelvo
