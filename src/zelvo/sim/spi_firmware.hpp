// The SPI peripheral's firmware side. Per port: the settings the host makes (data size, first
// bit, prescaler, CPOL, CPHA) and what sits on the bus. By default MISO is wired to MOSI (a
// loopback): a write-and-read returns what was written, a read returns the filler byte 0xFF the
// master sends meanwhile. A register device can take the loopback's place: the first byte of a
// transfer selects a register (bits 0..6) and reads it (bit 7 set) or writes it; further bytes read
// or write consecutive registers, wrapping, while the device answers 0 to the command byte and to
// written bytes. A plain read continues from the register the last transfer reached.
// Transfers on a port that is not open, and settings out of range, get the SPI error status (22).
//
// Replies: [port, status] for every command but READ_SPI and READ_AND_WRITE_SPI, which answer
// [port, status, the bytes read...].
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "zelvo/sim/bus_firmware.hpp"

namespace zelvo::sim {

namespace status {
inline constexpr Byte kSpi = 22;
}  // namespace status

// Command codes, under the names the library gives them.
namespace spicmd {
inline constexpr int OPEN_SPI = 160;
inline constexpr int READ_SPI = 161;
inline constexpr int WRITE_SPI = 162;
inline constexpr int READ_AND_WRITE_SPI = 163;
inline constexpr int CLOSE_SPI = 164;
inline constexpr int RESET_SPI = 165;
inline constexpr int SET_SPI_DATA_SIZE = 166;
inline constexpr int SET_SPI_FIRST_BIT = 167;
inline constexpr int SET_SPI_PRESCALER = 168;
inline constexpr int SET_SPI_CPOL = 169;
inline constexpr int SET_SPI_CPHA = 170;
}  // namespace spicmd

inline constexpr Byte kSpiFiller = 0xFF;
inline constexpr int kSpiDefaultPrescaler = 256;

struct SpiPortState {
  bool open = false;
  int data_size = 0;  // 0: 8-bit, 1: 16-bit
  int first_bit = 0;  // 0: MSB first, 1: LSB first
  int prescaler = kSpiDefaultPrescaler;
  int cpol = 0;
  int cpha = 0;
  bool registers = false;  // a register device instead of the loopback
};

class SPIFirmware final : public BusFirmware {
 public:
  SPIFirmware() : BusFirmware(PinMode::SPI, status::kSpi) {}
  void install(Firmware& fw) override;

  // Controls, callable from any thread; a port the product lacks throws std::invalid_argument.
  SpiPortState state(int port) const;
  void attachRegisters(int port, Bytes values, std::set<int> read_only);
  void detach(int port);  // back to the loopback
  Bytes registers(int port) const;

 private:
  struct Registers {
    Bytes cells;
    std::set<int> read_only;
    std::size_t pointer = 0;
  };
  struct Port {
    SpiPortState state;
    std::optional<Registers> device;
  };
  // The bytes the bus returns while `out` is shifted out.
  static Bytes transfer(Port& p, ByteView out);
  static Bytes readOn(Port& p, std::size_t count);
  Port& known(int port);
  const Port& known(int port) const;

  std::map<int, Port> ports_;
};

}  // namespace zelvo::sim
