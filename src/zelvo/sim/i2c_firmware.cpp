#include "zelvo/sim/i2c_firmware.hpp"

#include <stdexcept>
#include <string>

namespace zelvo::sim {
namespace {

constexpr std::size_t kPortOnly = 1;         // [port]
constexpr std::size_t kPortAndByte = 2;      // [port, value]
constexpr std::size_t kPortAndWord = 5;      // [port, 4-byte value]
constexpr std::size_t kWriteHeader = 3;      // [port, address, count]
constexpr int kMaxAddress = 255;             // the address travels as one byte

}  // namespace

void I2cCells::write(ByteView data) {
  if (data.empty() || cells_.empty()) return;
  pointer_ = data[0] % cells_.size();
  for (Byte b : data.subspan(1)) {
    if (!read_only_.contains(static_cast<int>(pointer_))) cells_[pointer_] = b;
    pointer_ = (pointer_ + 1) % cells_.size();
  }
}

Bytes I2cCells::read(std::size_t count) {
  Bytes out;
  if (cells_.empty()) return out;
  out.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    out.push_back(cells_[pointer_]);
    pointer_ = (pointer_ + 1) % cells_.size();
  }
  return out;
}

void I2CFirmware::install(Firmware& fw) {
  attach(fw, *fw.product().I2C_dict);
  for (int port : BusFirmware::ports())
    ports_[port].slaves.emplace(kI2cMemoryAddress, I2cCells(Bytes(kI2cMemorySize, 0), {}));

  using namespace i2ccmd;
  using R = const Request&;
  route(OPEN_I2C, kPortOnly, [this](R, int port) -> Outcome {
    const Byte s = takePins(port);
    if (s == status::kOk) ports_[port].state.open = true;
    return s;
  });
  route(CLOSE_I2C, kPortOnly, [this](R, int port) -> Outcome {
    if (ports_[port].state.open) releasePins(port);
    ports_[port].state.open = false;
    return status::kOk;
  });
  route(RESET_I2C, kPortOnly, [this](R, int port) -> Outcome {
    I2cPortState& s = ports_[port].state;
    s = I2cPortState{.open = s.open};
    return status::kOk;
  });
  route(SET_I2C_FREQUENCY, kPortAndWord, [this](R r, int port) -> Outcome {
    const auto hz = readBE<std::uint32_t>(ByteView(r.payload).subspan(1));
    if (hz == 0 || hz > kI2cMaxFrequency) return status::kI2c;
    ports_[port].state.frequency = hz;
    return status::kOk;
  });
  route(SET_I2C_ADDR_SIZE, kPortAndByte, [this](R r, int port) -> Outcome {
    if (r.payload[1] > 1) return status::kI2c;
    ports_[port].state.address_size = r.payload[1];
    return status::kOk;
  });
  route(WRITE_I2C, kWriteHeader, [this](R r, int port) -> Outcome { return write(ports_[port], r.payload); });
  route(READ_I2C, kWriteHeader, [this](R r, int port) -> Outcome { return read(r, ports_[port]); });
}

Byte I2CFirmware::write(Port& p, ByteView payload) {
  const std::size_t count = payload[2];
  if (payload.size() < kWriteHeader + count) return status::kParser;
  const auto slave = p.slaves.find(payload[1]);
  if (!p.state.open || slave == p.slaves.end()) return status::kI2c;
  slave->second.write(payload.subspan(kWriteHeader, count));
  return status::kOk;
}

Replies I2CFirmware::read(const Request& r, Port& p) {
  const Byte port = r.payload[0];
  const Byte count = r.payload[2];
  const auto slave = p.slaves.find(r.payload[1]);
  if (!p.state.open || slave == p.slaves.end()) return answer(r, {port, status::kI2c, 0});
  Bytes reply{port, status::kOk, count};
  const Bytes data = slave->second.read(count);
  reply.insert(reply.end(), data.begin(), data.end());
  return answer(r, std::move(reply));
}

// --- controls ------------------------------------------------------------------------------------

I2CFirmware::Port& I2CFirmware::known(int port) {
  requirePort(port, "I2C");
  return ports_.at(port);
}

const I2CFirmware::Port& I2CFirmware::known(int port) const {
  requirePort(port, "I2C");
  return ports_.at(port);
}

I2cPortState I2CFirmware::state(int port) const {
  std::lock_guard lock(mutex_);
  return known(port).state;
}

namespace {
void checkAddress(int address) {
  if (address < 0 || address > kMaxAddress) throw std::invalid_argument("an I2C address is 0..255 (one byte on the wire)");
}
}  // namespace

void I2CFirmware::attachMemory(int port, int address, std::size_t size) {
  checkAddress(address);
  if (size == 0) throw std::invalid_argument("a memory has at least one byte");
  std::lock_guard lock(mutex_);
  known(port).slaves.insert_or_assign(address, I2cCells(Bytes(size, 0), {}));
}

void I2CFirmware::attachRegisters(int port, int address, Bytes values, std::set<int> read_only) {
  checkAddress(address);
  if (values.empty()) throw std::invalid_argument("a register device has at least one register");
  for (int r : read_only)
    if (r < 0 || static_cast<std::size_t>(r) >= values.size())
      throw std::invalid_argument("read-only register " + std::to_string(r) + " does not exist");
  std::lock_guard lock(mutex_);
  known(port).slaves.insert_or_assign(address, I2cCells(std::move(values), std::move(read_only)));
}

void I2CFirmware::detach(int port, int address) {
  std::lock_guard lock(mutex_);
  known(port).slaves.erase(address);
}

std::vector<int> I2CFirmware::addresses(int port) const {
  std::lock_guard lock(mutex_);
  std::vector<int> out;
  for (const auto& entry : known(port).slaves) out.push_back(entry.first);
  return out;
}

Bytes I2CFirmware::contents(int port, int address) const {
  std::lock_guard lock(mutex_);
  const auto& slaves = known(port).slaves;
  const auto it = slaves.find(address);
  if (it == slaves.end()) throw std::invalid_argument("no I2C device at address " + std::to_string(address));
  return it->second.cells();
}

}  // namespace zelvo::sim
