#include "zelvo/bus/spi_module.hpp"

#include <algorithm>
#include <array>

#include "zelvo/core/reply.hpp"

namespace zelvo {
namespace {

constexpr int kDataSizes = 2;  // 0: 8-bit data, 1: 16-bit data
constexpr int kFirstBits = 2;  // 0: most significant bit first, 1: least significant first
constexpr std::array kPrescalers = {2, 4, 8, 16, 32, 64, 128, 256};
// Clock modes: (CPOL, CPHA) of modes 0..3.
constexpr std::array<std::pair<int, int>, 4> kClockModes = {{{0, 0}, {0, 1}, {1, 0}, {1, 1}}};
constexpr std::size_t kReadDataIndex = 2;  // reads return the reply from here on

std::vector<int> tail(const Bytes& r, const char* operation) {
  const ByteView data = Reply(r, operation).from(kReadDataIndex);
  return {data.begin(), data.end()};
}

}  // namespace

SPIModule::SPIModule(Device&, const PairMap& spi_dict) : ports_(spi_dict, Err::SPIPortNotAvaliableError) {}

bool SPIModule::checkDataSize(int mode) {
  if (mode < 0 || mode >= kDataSizes) throw Error(Err::SPIDataSizeNotVaildError);
  return true;
}

bool SPIModule::checkFirstBit(int mode) {
  if (mode < 0 || mode >= kFirstBits) throw Error(Err::SPIFirstBitNotVaildError);
  return true;
}

bool SPIModule::checkPrescaler(int prescaler) {
  if (std::find(kPrescalers.begin(), kPrescalers.end(), prescaler) == kPrescalers.end())
    throw Error(Err::SPIPrescalerNotVaildError);
  return true;
}

bool SPIModule::checkMode(int mode) {
  if (mode < 0 || mode >= static_cast<int>(kClockModes.size())) throw Error(Err::SPIModeNotVaildError);
  return true;
}

Op<bool> SPIModule::checkPinState(Call& call, int port, std::vector<std::string> allow_state) {
  co_return co_await ports_.requirePinModes(call, port, std::move(allow_state));
}

Bytes SPIModule::dataPayload(int port, const std::vector<std::int64_t>& data) {
  Bytes payload = payloadOf(port);
  appendCountField(payload, data.size(), "the number of write_data bytes", Err::SPIDataLengthExceedMaxError);
  appendByteFields(payload, data, "write_data");
  return payload;
}

Op<int> SPIModule::open(Call& call, int port) {
  checkPort(port);
  co_await ports_.requirePinModes(call, port, busOpenModes());
  co_return co_await busStatus(call, OPEN_SPI, payloadOf(port), "SPI_open");
}

Op<int> SPIModule::close(Call& call, int port) {
  checkPort(port);
  co_return co_await busStatus(call, CLOSE_SPI, payloadOf(port), "SPI_close");
}

Op<int> SPIModule::reset(Call& call, int port) {
  checkPort(port);
  co_return co_await busStatus(call, RESET_SPI, payloadOf(port), "SPI_reset");
}

Op<int> SPIModule::setDataSize(Call& call, int port, int mode) {
  checkPort(port);
  checkDataSize(mode);
  co_return co_await busStatus(call, SET_SPI_DATA_SIZE, payloadOf(port, mode), "SPI_setDataSize");
}

Op<int> SPIModule::setFirstBit(Call& call, int port, int mode) {
  checkPort(port);
  checkFirstBit(mode);
  co_return co_await busStatus(call, SET_SPI_FIRST_BIT, payloadOf(port, mode), "SPI_setFirstBit");
}

Op<int> SPIModule::setPrescaler(Call& call, int port, int prescaler) {
  checkPort(port);
  checkPrescaler(prescaler);
  Bytes payload = payloadOf(port);
  appendBE(payload, static_cast<std::int16_t>(prescaler));
  co_return co_await busStatus(call, SET_SPI_PRESCALER, std::move(payload), "SPI_setPrescaler");
}

Op<int> SPIModule::setCPOL(Call& call, int port, std::int64_t polarity) {
  Bytes payload = payloadOf(port);
  appendByteField(payload, polarity, "polarity");
  co_return co_await busStatus(call, SET_SPI_CPOL, std::move(payload), "_SPI_setCPOL");
}

Op<int> SPIModule::setCPHA(Call& call, int port, std::int64_t phase) {
  Bytes payload = payloadOf(port);
  appendByteField(payload, phase, "phase");
  co_return co_await busStatus(call, SET_SPI_CPHA, std::move(payload), "_SPI_setCPHA");
}

Op<int> SPIModule::setMode(Call& call, int port, int mode) {
  checkPort(port);
  checkMode(mode);
  const auto [cpol, cpha] = kClockModes[static_cast<std::size_t>(mode)];
  const int polarity_status = co_await setCPOL(call, port, cpol);
  const int phase_status = co_await setCPHA(call, port, cpha);
  co_return polarity_status != 0 ? polarity_status : phase_status;
}

Op<int> SPIModule::write(Call& call, int port, std::vector<std::int64_t> write_data) {
  checkPort(port);
  co_return co_await busStatus(call, WRITE_SPI, dataPayload(port, write_data), "SPI_write");
}

Op<std::vector<int>> SPIModule::read(Call& call, int port, std::int64_t bytes_to_read) {
  checkPort(port);
  Bytes payload = payloadOf(port);
  appendByteField(payload, bytes_to_read, "bytes_to_read");
  const Bytes r = co_await call.echo(READ_SPI, std::move(payload));
  co_return tail(r, "SPI_read");
}

Op<std::vector<int>> SPIModule::readAndWrite(Call& call, int port, std::vector<std::int64_t> write_data) {
  checkPort(port);
  const Bytes r = co_await call.echo(READ_AND_WRITE_SPI, dataPayload(port, write_data));
  co_return tail(r, "SPI_readAndWrite");
}

}  // namespace zelvo
