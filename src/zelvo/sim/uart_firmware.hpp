// The UART peripheral's firmware side: ports 1 and 2, each with its line settings and a receive
// line. By default a port is a loopback: what the host writes is received back, each byte one frame
// time after the line is free (start bit, data bits, parity bit, stop bits at the baud rate); a test
// can also inject bytes from the far side, paced the same way. While reading is on for the port
// (START_UART_READING until STOP_UART_READING or CLOSE_UART) received bytes go to the host as
// stream packets [port, 0, bytes...]; while it is off they wait (up to kUartPendingMax bytes).
// Writing needs the port open; CLOSE_UART and RESET_UART drop what waits.
//
// Replies: [port, status] (23 for a refused command); START_UART_READING has none (its code is a
// stream code). Defaults: 115200 baud, 8 data bits, no parity, 1 stop bit.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>

#include "zelvo/sim/bus_firmware.hpp"
#include "zelvo/sim/stream_pacer.hpp"

namespace zelvo::sim {

namespace status {
inline constexpr Byte kUart = 23;
}  // namespace status

// Command codes, under the names the library gives them.
namespace uartcmd {
inline constexpr int OPEN_UART = 128;
inline constexpr int START_UART_READING = 129;
inline constexpr int WRITE_UART = 130;
inline constexpr int STOP_UART_READING = 131;
inline constexpr int CLOSE_UART = 132;
inline constexpr int RESET_UART = 133;
inline constexpr int SET_UART_BAUD_RATE = 134;
inline constexpr int SET_UART_DATA_SIZE = 135;
inline constexpr int SET_UART_PARITY = 136;
inline constexpr int SET_UART_NUM_STOP_BITS = 139;
}  // namespace uartcmd

inline constexpr std::uint32_t kUartDefaultBaud = 115200;
inline constexpr std::uint32_t kUartMaxBaud = 400000;
// Received bytes a port keeps unsent at most; a write beyond is refused (status 23).
inline constexpr std::size_t kUartPendingMax = 1u << 20;
// Bytes of one stream packet at most.
inline constexpr std::size_t kUartMaxPacket = 4096;
// What the Python controls keep of the bytes each port transmitted.
inline constexpr std::size_t kUartTransmittedKeep = 1u << 16;

struct UartPortState {
  bool open = false;
  bool reading = false;
  bool loopback = true;
  std::uint32_t baud = kUartDefaultBaud;
  int data_size = 0;  // 0: 8 bits, 1: 9 bits
  int parity = 0;     // 0 none, 1 reserved (no parity bit), 2 even, 3 odd
  int stop_bits = 0;  // 0: 1, 1: 0.5, 2: 2, 3: 1.5
  std::size_t pending = 0;          // received bytes not sent to the host yet
  std::uint64_t streamed = 0;       // received bytes sent to the host
  std::uint64_t transmitted = 0;    // bytes the host wrote
};

class UARTFirmware final : public BusFirmware {
 public:
  UARTFirmware() : BusFirmware(PinMode::UART, status::kUart) {}
  ~UARTFirmware() override;
  void install(Firmware& fw) override;

  // Controls, callable from any thread; a port the product lacks throws std::invalid_argument.
  UartPortState state(int port) const;
  // Bytes from the far side, received after those already on their way, at the line's pace.
  void inject(int port, ByteView bytes);
  void setLoopback(int port, bool on);
  // The latest bytes the host wrote on the port (at most kUartTransmittedKeep).
  Bytes transmitted(int port) const;
  // Seconds one frame (one byte) takes on the port's line.
  double byteTime(int port) const;
  // Unthrottled, received bytes are due at once instead of at the line's pace.
  void setUnthrottled(bool on);
  bool unthrottled() const;

 private:
  // Bytes arriving back to back: byte k is received at start + (k + 1) * per_byte.
  struct Run {
    double start = 0;
    double per_byte = 0;
    Bytes data;
    std::size_t sent = 0;
  };
  struct Port {
    UartPortState st;
    std::deque<Run> rx;
    double line_free = 0;  // device time the receive line is next free
    Bytes transmitted;
  };
  static double frameTime(const UartPortState& s);
  // Puts bytes on the port's receive line; false (nothing changed) beyond kUartPendingMax.
  bool receive(Port& p, ByteView bytes);
  std::optional<double> collect(double now, bool unthrottled, Replies& out);
  Port& known(int port);
  const Port& known(int port) const;

  std::map<int, Port> ports_;
  std::unique_ptr<StreamPacer> pacer_;  // last: stopped before the ports go
};

}  // namespace zelvo::sim
