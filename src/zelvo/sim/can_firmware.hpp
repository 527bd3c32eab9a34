// The CAN peripheral's firmware side (Pellor-K1-CD): one controller on the product's CAN port. It
// receives its own frames back (loopback), each one frame time after the bus is free at the bit
// rate; a test can inject frames from the far side and run periodic generators. Received frames pass
// the filters (when filtering is on: filters 0 and 1 under mask 0, filters 2..5 under mask 1; a
// frame passes a filter whose extended flag it shares when its identifier equals the filter's in
// every bit the mask sets) and wait in a receive FIFO of kCanRxKeep frames (more are counted as
// overflows). While the stream is started (START_CAN until STOP_CAN or CLOSE_CAN) they go to the host
// as stream packets [port, 0, 12-byte rows...]. Frames are received only while the controller is
// open; writing needs it open.
//
// OPEN_CAN's one-byte code 48 is read by every frame parser as the first byte of a two-byte code:
// its request arrives as code 0x3000 | port without payload, and it is answered in that form,
// [status] under 0x3000 | port, which is byte for byte the reply [port, status] under 48.
//
// Replies: [port, status] (57 for a refused command) unless stated; START_CAN has none (its code is
// a stream code). GET_CAN_ERRORS [port, transmit errors, receive errors]; GET_CAN_INTERRUPTS [port,
// enable, state, error state]; GET_CAN_COUNTERS [port, 6 x u32].
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "zelvo/sim/bus_firmware.hpp"
#include "zelvo/sim/can_wire.hpp"
#include "zelvo/sim/stream_pacer.hpp"

namespace zelvo::sim {

namespace status {
inline constexpr Byte kCan = 57;
}  // namespace status

// Command codes, under the names the library gives them.
namespace cancmd {
inline constexpr int OPEN_CAN = 48;
inline constexpr int START_CAN = 49;
inline constexpr int WRITE_CAN = 50;
inline constexpr int STOP_CAN = 51;
inline constexpr int CLOSE_CAN = 52;
inline constexpr int SET_CAN_SPEED = 53;
inline constexpr int SET_CAN_ENABLED_ITR = 54;
inline constexpr int SET_CAN_TX_PRIORITY = 55;
inline constexpr int SET_CAN_RX_ROLLOVER = 56;
inline constexpr int SET_CAN_RX_FILTERING_ON = 57;
inline constexpr int SET_CAN_RX_FILTER_OR_MASK = 58;
inline constexpr int GET_CAN_INTERRUPTS = 59;
inline constexpr int GET_CAN_ERRORS = 60;
inline constexpr int GET_CAN_COUNTERS = 61;
}  // namespace cancmd

// Bit rates of the speed modes 0..3; the default is mode 2.
inline constexpr std::array<double, 4> kCanBitRates = {125e3, 250e3, 500e3, 1e6};
inline constexpr int kCanDefaultSpeed = 2;
// Bits an 8-byte data frame takes on the bus, stuff bits and inter-frame space included.
inline constexpr double kCanStandardFrameBits = 125;
inline constexpr double kCanExtendedFrameBits = 150;
inline constexpr std::size_t kCanRxKeep = 1024;
inline constexpr std::size_t kCanRowsPerPacket = 64;
inline constexpr std::size_t kCanFilters = 6;
inline constexpr std::size_t kCanMasks = 2;
inline constexpr std::size_t kCanTransmittedKeep = 1024;

struct CanFilterValue {
  std::uint32_t id = 0;
  bool extended = false;
};

struct CanPortState {
  bool open = false;
  bool started = false;
  int speed_mode = kCanDefaultSpeed;
  bool filtering = false;
  std::array<CanFilterValue, kCanFilters> filters{};
  std::array<CanFilterValue, kCanMasks> masks{};
  Byte interrupt_enable = 0;
  Byte rollover = 0;
  std::array<int, 3> tx_priority{};
  std::size_t rx_pending = 0;  // received frames not streamed yet
};

struct CanCounters {
  std::uint32_t tx_interrupts = 0, rx_interrupts = 0, spi_transfers = 0, frames_sent = 0, bus_errors = 0, overflows = 0;
};

class CANFirmware final : public BusFirmware {
 public:
  CANFirmware() : BusFirmware(PinMode::CAN, status::kCan) {}
  ~CANFirmware() override;
  void install(Firmware& fw) override;

  // Controls, callable from any thread.
  int port() const { return port_; }
  CanPortState state() const;
  CanCounters counters() const;
  // A frame from the far side: on the bus after those already on their way, one frame time long.
  void inject(const CanWireFrame& f);
  // A frame every `period` device seconds from now on (`count` times; none: without end); with
  // `counter` the first four data bytes carry a running number. Returns its handle.
  int addGenerator(const CanWireFrame& f, double period, std::optional<std::uint64_t> count, bool counter);
  void removeGenerator(int handle);
  std::vector<int> generators() const;
  // The latest frames the host wrote (at most kCanTransmittedKeep).
  std::vector<CanWireFrame> transmitted() const;
  // Transmit and receive error counts (0..255), and with them the error state.
  void setErrorCounts(int transmit, int receive);
  // Seconds one frame takes at the present bit rate.
  double frameTime(bool extended) const;
  void setUnthrottled(bool on);
  bool unthrottled() const;

 private:
  struct OnBus {
    double at = 0;  // when its last bit is on the bus
    CanWireFrame frame;
    bool own = false;  // written by the host: counts as sent, and comes back (loopback)
  };
  struct Generator {
    int handle = 0;
    CanWireFrame frame;
    double period = 0;
    double next = 0;
    std::optional<std::uint64_t> left;
    bool counter = false;
    std::uint32_t sequence = 0;
  };
  double frameTimeLocked(bool extended) const;
  // Puts a frame on the bus after those already there.
  void putOnBus(const CanWireFrame& f, bool own);
  void arrive(const CanWireFrame& f, bool own);
  bool accepted(const CanWireFrame& f) const;
  Byte interruptState();
  Byte errorState();
  Bytes counterReply() const;
  std::optional<double> collect(double now, bool unthrottled, Replies& out);
  void registerSettings();
  void registerReads();

  int port_ = 0;
  CanPortState st_;
  CanCounters counters_;
  std::deque<OnBus> bus_;
  double bus_free_ = 0;
  std::vector<Generator> generators_;
  int next_handle_ = 1;
  std::deque<CanWireFrame> rx_;
  std::deque<CanWireFrame> transmitted_;
  int tec_ = 0, rec_ = 0;
  bool tx_done_ = false;      // cleared when the interrupts are read
  bool rx_overflow_ = false;  // cleared when the interrupts are read
  std::unique_ptr<StreamPacer> pacer_;  // last: stopped before the state goes
};

}  // namespace zelvo::sim
