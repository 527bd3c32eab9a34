#include "zelvo/sim/spi_firmware.hpp"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>

namespace zelvo::sim {
namespace {

constexpr std::size_t kPortOnly = 1;      // [port]
constexpr std::size_t kPortAndByte = 2;   // [port, value]
constexpr std::size_t kPortAndWord = 3;   // [port, 2-byte value]
constexpr std::size_t kDataHeader = 2;    // [port, count]
constexpr Byte kReadFlag = 0x80;          // register device: bit 7 of the command byte
constexpr Byte kRegisterBits = 0x7F;
constexpr std::array kPrescalers = {2, 4, 8, 16, 32, 64, 128, 256};

// A setting that takes 0 or 1.
Byte setBit(int& field, Byte value) {
  if (value > 1) return status::kSpi;
  field = value;
  return status::kOk;
}

}  // namespace

void SPIFirmware::install(Firmware& fw) {
  attach(fw, *fw.product().SPI_dict);
  for (int port : BusFirmware::ports()) ports_[port];

  using namespace spicmd;
  using R = const Request&;
  route(OPEN_SPI, kPortOnly, [this](R, int port) -> Outcome {
    const Byte s = takePins(port);
    if (s == status::kOk) ports_[port].state.open = true;
    return s;
  });
  route(CLOSE_SPI, kPortOnly, [this](R, int port) -> Outcome {
    if (ports_[port].state.open) releasePins(port);
    ports_[port].state.open = false;
    return status::kOk;
  });
  route(RESET_SPI, kPortOnly, [this](R, int port) -> Outcome {
    SpiPortState& s = ports_[port].state;
    s = SpiPortState{.open = s.open, .registers = s.registers};
    return status::kOk;
  });
  route(SET_SPI_DATA_SIZE, kPortAndByte, [this](R r, int port) -> Outcome { return setBit(ports_[port].state.data_size, r.payload[1]); });
  route(SET_SPI_FIRST_BIT, kPortAndByte, [this](R r, int port) -> Outcome { return setBit(ports_[port].state.first_bit, r.payload[1]); });
  route(SET_SPI_CPOL, kPortAndByte, [this](R r, int port) -> Outcome { return setBit(ports_[port].state.cpol, r.payload[1]); });
  route(SET_SPI_CPHA, kPortAndByte, [this](R r, int port) -> Outcome { return setBit(ports_[port].state.cpha, r.payload[1]); });
  route(SET_SPI_PRESCALER, kPortAndWord, [this](R r, int port) -> Outcome {
    const int prescaler = readBE<std::int16_t>(ByteView(r.payload).subspan(1));
    if (std::find(kPrescalers.begin(), kPrescalers.end(), prescaler) == kPrescalers.end()) return status::kSpi;
    ports_[port].state.prescaler = prescaler;
    return status::kOk;
  });
  // The transfers: [port, count, bytes...] out; the bytes read back after [port, status].
  auto data = [](R r) -> std::optional<ByteView> {
    const std::size_t count = r.payload[1];
    if (r.payload.size() < kDataHeader + count) return std::nullopt;
    return ByteView(r.payload).subspan(kDataHeader, count);
  };
  route(WRITE_SPI, kDataHeader, [this, data](R r, int port) -> Outcome {
    const auto out = data(r);
    if (!out) return status::kParser;
    if (!ports_[port].state.open) return status::kSpi;
    transfer(ports_[port], *out);
    return status::kOk;
  });
  route(READ_AND_WRITE_SPI, kDataHeader, [this, data](R r, int port) -> Outcome {
    const auto out = data(r);
    if (!out) return status::kParser;
    if (!ports_[port].state.open) return status::kSpi;
    Bytes reply{static_cast<Byte>(port), status::kOk};
    const Bytes in = transfer(ports_[port], *out);
    reply.insert(reply.end(), in.begin(), in.end());
    return answer(r, std::move(reply));
  });
  route(READ_SPI, kPortAndByte, [this](R r, int port) -> Outcome {
    if (!ports_[port].state.open) return status::kSpi;
    Bytes reply{static_cast<Byte>(port), status::kOk};
    const Bytes in = readOn(ports_[port], r.payload[1]);
    reply.insert(reply.end(), in.begin(), in.end());
    return answer(r, std::move(reply));
  });
}

Bytes SPIFirmware::transfer(Port& p, ByteView out) {
  if (!p.device) return Bytes(out.begin(), out.end());  // loopback
  Bytes in;
  if (out.empty()) return in;
  Registers& d = *p.device;
  const bool reading = (out[0] & kReadFlag) != 0;
  d.pointer = (out[0] & kRegisterBits) % d.cells.size();
  in.push_back(0);  // the command byte
  for (Byte b : out.subspan(1)) {
    if (reading) {
      in.push_back(d.cells[d.pointer]);
    } else {
      if (!d.read_only.contains(static_cast<int>(d.pointer))) d.cells[d.pointer] = b;
      in.push_back(0);
    }
    d.pointer = (d.pointer + 1) % d.cells.size();
  }
  return in;
}

Bytes SPIFirmware::readOn(Port& p, std::size_t count) {
  if (!p.device) return Bytes(count, kSpiFiller);  // the loopback returns what the master sends
  Registers& d = *p.device;
  Bytes in;
  for (std::size_t i = 0; i < count; ++i) {
    in.push_back(d.cells[d.pointer]);
    d.pointer = (d.pointer + 1) % d.cells.size();
  }
  return in;
}

// --- controls ------------------------------------------------------------------------------------

SPIFirmware::Port& SPIFirmware::known(int port) {
  requirePort(port, "SPI");
  return ports_.at(port);
}

const SPIFirmware::Port& SPIFirmware::known(int port) const {
  requirePort(port, "SPI");
  return ports_.at(port);
}

SpiPortState SPIFirmware::state(int port) const {
  std::lock_guard lock(mutex_);
  return known(port).state;
}

void SPIFirmware::attachRegisters(int port, Bytes values, std::set<int> read_only) {
  if (values.empty() || values.size() > kRegisterBits + 1u)
    throw std::invalid_argument("an SPI register device has 1..128 registers");
  for (int r : read_only)
    if (r < 0 || static_cast<std::size_t>(r) >= values.size())
      throw std::invalid_argument("read-only register " + std::to_string(r) + " does not exist");
  std::lock_guard lock(mutex_);
  Port& p = known(port);
  p.device = Registers{std::move(values), std::move(read_only), 0};
  p.state.registers = true;
}

void SPIFirmware::detach(int port) {
  std::lock_guard lock(mutex_);
  Port& p = known(port);
  p.device.reset();
  p.state.registers = false;
}

Bytes SPIFirmware::registers(int port) const {
  std::lock_guard lock(mutex_);
  const Port& p = known(port);
  if (!p.device) throw std::invalid_argument("SPI port " + std::to_string(port) + " has no register device");
  return p.device->cells;
}

}  // namespace zelvo::sim
