// The I2C peripheral's firmware side: per port a bus with attachable slave models. By default each
// port has a 256-byte memory at address 0x50 (a write's first byte sets its pointer and the rest
// are written from there on; a read continues from the pointer, both wrapping at the end). A
// register device holds a number of 8-bit registers, some of them read-only, addressed the same way.
// An address nobody answers gets the I2C error status (21), and so does a transfer on a port that
// is not open.
//
// Replies: [port, status] for every command but READ_I2C, which answers [port, status, count,
// the bytes read...].
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "zelvo/sim/bus_firmware.hpp"

namespace zelvo::sim {

namespace status {
inline constexpr Byte kI2c = 21;
}  // namespace status

// Command codes, under the names the library gives them.
namespace i2ccmd {
inline constexpr int OPEN_I2C = 144;
inline constexpr int READ_I2C = 145;
inline constexpr int WRITE_I2C = 146;
inline constexpr int CLOSE_I2C = 148;
inline constexpr int RESET_I2C = 149;
inline constexpr int SET_I2C_FREQUENCY = 150;
inline constexpr int SET_I2C_ADDR_SIZE = 151;
}  // namespace i2ccmd

inline constexpr int kI2cMemoryAddress = 0x50;
inline constexpr std::size_t kI2cMemorySize = 256;
inline constexpr std::uint32_t kI2cDefaultFrequency = 100000;
inline constexpr std::uint32_t kI2cMaxFrequency = 3400000;

// A slave with consecutive 8-bit cells and a pointer: a write's first byte sets the pointer, the
// rest are stored from there on (read-only cells keep their value); a read returns cells from the
// pointer on. The pointer moves on with every cell and wraps at the end.
class I2cCells {
 public:
  I2cCells(Bytes cells, std::set<int> read_only) : cells_(std::move(cells)), read_only_(std::move(read_only)) {}
  void write(ByteView data);
  Bytes read(std::size_t count);
  const Bytes& cells() const { return cells_; }

 private:
  Bytes cells_;
  std::set<int> read_only_;
  std::size_t pointer_ = 0;
};

struct I2cPortState {
  bool open = false;
  std::uint32_t frequency = kI2cDefaultFrequency;
  int address_size = 0;  // 0: 7-bit, 1: 10-bit
};

class I2CFirmware final : public BusFirmware {
 public:
  I2CFirmware() : BusFirmware(PinMode::I2C, status::kI2c) {}
  void install(Firmware& fw) override;

  // Controls, callable from any thread; a port the product lacks throws std::invalid_argument.
  I2cPortState state(int port) const;
  // Attaches (or replaces) a slave at an address (0..255: the address travels as one byte).
  void attachMemory(int port, int address, std::size_t size);
  void attachRegisters(int port, int address, Bytes values, std::set<int> read_only);
  void detach(int port, int address);
  std::vector<int> addresses(int port) const;
  // The cells of the slave at an address; std::invalid_argument when nobody is there.
  Bytes contents(int port, int address) const;

 private:
  struct Port {
    I2cPortState state;
    std::map<int, I2cCells> slaves;
  };
  Byte write(Port& p, ByteView payload);
  Replies read(const Request& r, Port& p);
  Port& known(int port);
  const Port& known(int port) const;

  std::map<int, Port> ports_;
};

}  // namespace zelvo::sim
