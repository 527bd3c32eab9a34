// CAN: the device's CAN 2.0B controller. Open and close it, set its bit rate, transmit priorities,
// receive filters and interrupt options, send frames, and read the frames it receives.
//
// Received frames arrive as stream packets (START_CAN) of 12-byte rows. The stream sink decodes them
// on the receive thread, as whole rows, into the bounded frame queue while the module is open (a
// remainder that is not a whole row is dropped with a warning; packets that come while it is closed
// wait in the device's raw stream queue and are decoded, in order, when it opens). The open state
// changes only on firmware status 0. CAN_read waits on the queue (blocking family, without a time
// limit) until enough frames are there or nothing more can come.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "zelvo/bus/bus_ports.hpp"
#include "zelvo/bus/can_frame.hpp"
#include "zelvo/bus/delivery_queue.hpp"
#include "zelvo/core/device.hpp"

namespace zelvo {

// Command codes: core/command_table.def; START_CAN in routing.hpp.

inline constexpr double kCanReadDelay = 0.005;

// A received frame and when it was decoded (seconds since the epoch).
struct ReceivedFrame {
  CANFrame frame;
  double timestamp = 0;
};

// Frames CAN_read took: one comes back as the frame itself, several (or none) as a list.
struct CanFrames {
  std::vector<CANFrame> frames;
};

class CANModule {
 public:
  CANModule(Device& dev, const PairMap& can_dict);
  ~CANModule();
  CANModule(const CANModule&) = delete;
  CANModule& operator=(const CANModule&) = delete;

  Op<int> open(Call& call, int port);
  // CAN_stop first (its failure's code is returned), then CLOSE_CAN.
  Op<int> close(Call& call, int port);
  // START_CAN without reply; 0.
  Op<int> start(Call& call, int port);
  Op<int> stop(Call& call, int port);
  // `data` may be None (nullopt) for a remote frame only: remote frames send eight zero bytes.
  Op<int> write(Call& call, int port, std::int64_t id, std::optional<std::vector<std::int64_t>> data, bool remote,
                bool extended_id);
  Op<CanFrames> read(Call& call, int port, std::int64_t num_frames, double delay);
  // Waits at most `wait` seconds (none: no limit) for `at_least` frames, then takes up to `at_most`.
  Op<std::vector<ReceivedFrame>> receive(Call& call, int port, std::int64_t at_least, std::int64_t at_most,
                                         std::optional<double> wait);
  Op<int> setSpeed(Call& call, int port, int speed_mode);
  Op<int> setRXFilteringOn(Call& call, int port, std::int64_t on_off);
  Op<int> setRXFilterOrMask(Call& call, int port, std::int64_t index, std::int64_t id, bool remote, bool extended_id);
  Op<int> setTXPriority(Call& call, int port, int tx_mode, int priority_mode);
  Op<int> setEnableInterrupt(Call& call, int port, std::int64_t status);
  Op<int> setRXRollover(Call& call, int port, std::int64_t status);
  Op<std::vector<int>> getErrors(Call& call, int port);
  Op<std::vector<int>> getInterrupts(Call& call, int port);
  Op<std::vector<std::int64_t>> getCounters(Call& call, int port);

  // Checks: true, or the module's errors.
  bool checkPort(int port) const { return ports_.check(port); }
  static bool checkSpeed(int mode);
  static bool checkTXIndex(int mode);
  static bool checkTXPriority(int mode);
  static bool checkDataRangeAndLength(const std::vector<std::int64_t>& data);
  // InputDataNotInRangeError unless the identifier fits its format (11 or 29 bits).
  static bool checkId(std::int64_t id, bool extended_id);
  Op<bool> checkPinState(Call& call, int port, std::vector<std::string> modes);
  std::vector<int> pinMapPorts(int port) const { return ports_.dioPorts(port); }
  std::vector<int> getPort() const { return ports_.ports(); }

  void free();
  bool killed() const { return killed_.load(); }
  bool isOpen() const { return open_.load(); }
  std::size_t available() const { return frames_.size(); }
  std::uint64_t droppedFrames() const { return frames_.dropped(); }

 private:
  void onStream(ByteView stored);
  // Decodes whole rows into the queue; returns the bytes left over.
  std::size_t deliver(ByteView stored);
  bool moreCanCome() const;

  Device& dev_;
  BusPortMap ports_;
  std::atomic<bool> open_{false};
  std::atomic<bool> killed_{false};
  std::mutex m_;  // open state against delivery
  DeliveryQueue<ReceivedFrame> frames_;
};

}  // namespace zelvo
