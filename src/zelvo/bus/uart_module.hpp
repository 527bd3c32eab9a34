// UART: the device bridges two serial ports (1 and 2). Open and close a port, set its line
// parameters, write text or bytes through it, and read what it receives.
//
// Received bytes arrive as stream packets (START_UART_READING, port). A stream sink per port takes
// them on the receive thread into that port's bounded byte queue while the port is open (packets
// that come while it is closed wait in the device's raw stream queue and are taken, in order, when
// it opens). Open and reading state is kept per port and changes only on firmware status 0.
// UART_read waits on the queue (blocking family, without a time limit) until enough bytes are
// there or nothing more can come: the port closes, the module is freed, the link goes down or the
// device closes.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "zelvo/bus/bus_ports.hpp"
#include "zelvo/bus/delivery_queue.hpp"
#include "zelvo/core/device.hpp"

namespace zelvo {

// Command codes: core/command_table.def; START_UART_READING in routing.hpp.

inline constexpr int kUartMaxBaudRate = 400000;
inline constexpr std::size_t kUartMaxWriteLength = 50;
inline constexpr double kUartReadDelay = 0.005;

// What UART_write sends: a text (one byte per character, each code 0..255) or byte values.
using UartData = std::variant<std::string, std::vector<std::int64_t>>;

// Bytes UART_read took; Python sees them as one-character texts.
struct UartChars {
  Bytes bytes;
};

class UARTModule {
 public:
  UARTModule(Device& dev, const PairMap& uart_dict);
  ~UARTModule();
  UARTModule(const UARTModule&) = delete;
  UARTModule& operator=(const UARTModule&) = delete;

  Op<int> open(Call& call, int port);
  Op<int> close(Call& call, int port);
  Op<int> write(Call& call, int port, UartData write_data);
  // `bytes_to_read` bytes (negative: all queued). Port 1 reads its queue, any other port port 2's.
  // A negative `delay` counts as 0; the wait itself ends as soon as the bytes are there.
  Op<UartChars> read(Call& call, int port, std::int64_t bytes_to_read, double delay);
  Op<int> reset(Call& call, int port);
  Op<int> setBaudRate(Call& call, int port, std::int64_t baud_rate);
  Op<int> setDataBit(Call& call, int port, int mode);
  Op<int> setParity(Call& call, int port, int mode);
  Op<int> setNumStopBit(Call& call, int port, int mode);
  // START_UART_READING without reply; 0.
  Op<int> startReading(Call& call, int port);
  Op<int> stopReading(Call& call, int port);
  // Waits at most `wait` seconds (none: no limit) for `at_least` bytes, then takes up to `at_most`.
  Op<Bytes> receive(Call& call, int port, std::int64_t at_least, std::int64_t at_most, std::optional<double> wait);

  // Checks: true, or the module's errors.
  bool checkPort(int port) const { return ports_.check(port); }
  static bool checkBaudRate(std::int64_t baud_rate);
  static bool checkDataBit(int mode);
  static bool checkParityMode(int mode);
  static bool checkNumStopBitMode(int mode);
  static bool checkDataLength(const UartData& data);
  Op<bool> checkPinState(Call& call, int port, std::vector<std::string> modes);
  std::vector<int> pinMapPorts(int port) const { return ports_.dioPorts(port); }
  PairMap pinMap() const { return ports_.map(); }

  // Ends delivery for good and wakes readers (the product's close runs it).
  void free();
  bool killed() const { return killed_.load(); }
  bool isOpen(int port) const;
  // Ports opened (status 0) and not closed since.
  std::vector<int> openPorts() const;
  std::size_t available(int port) const { return queueOf(port).size(); }
  std::uint64_t droppedBytes(int port) const { return queueOf(port).dropped(); }

 private:
  static constexpr std::size_t kPorts = 3;  // indices 1 and 2
  using Queue = DeliveryQueue<Byte>;
  Queue& queueOf(int port) const;
  std::size_t indexOf(int port) const { return port == 1 ? 1 : 2; }
  void onStream(std::size_t index, ByteView stored);
  void deliver(std::size_t index, ByteView bytes);
  bool moreCanCome(std::size_t index) const;
  void wakeReaders();

  Device& dev_;
  BusPortMap ports_;
  std::array<std::atomic<bool>, kPorts> open_{};
  std::atomic<bool> killed_{false};
  std::mutex m_;  // open state against delivery
  std::array<std::unique_ptr<Queue>, kPorts> queues_;
};

}  // namespace zelvo
