#include "zelvo/bus/can_module.hpp"

#include <chrono>

#include "zelvo/bus/queued_read.hpp"
#include "zelvo/core/console.hpp"
#include "zelvo/core/reply.hpp"
#include "zelvo/core/routing.hpp"

namespace zelvo {
namespace {

constexpr int kSpeedModes = 4;      // 125 k, 250 k, 500 k, 1 M bit/s
constexpr int kTXBuffers = 3;
constexpr int kTXPriorities = 4;
constexpr std::size_t kCounters = 6;
constexpr std::size_t kWordBytes = 4;
const StreamKey kStreamKey{START_CAN, 0, 0, 1};

// OPEN_CAN's code 48 is read back as the first byte of a two-byte code, the port its second: the
// request's bytes are those of the two-byte code 0x3000 | port without payload, and its reply,
// [port, status] under 48, is filed under that code as [status]. Sending it in that form makes
// the exchange wait where the reply is filed; the port is put back in front of the reply.
constexpr int kOpenCanKeyBase = OPEN_CAN << 8;

double nowSeconds() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::vector<int> elements(const Reply& r, std::size_t first, std::size_t count) {
  const ByteView b = r.span(first, count);
  return {b.begin(), b.end()};
}

}  // namespace

CANModule::CANModule(Device& dev, const PairMap& can_dict)
    : dev_(dev), ports_(can_dict, Err::CANPortNotAvaliableError), frames_(QUEUE_SIZE_MAX, [this] { return moreCanCome(); }) {
  dev_.setStreamSink(kStreamKey, [this](ByteView stored) { onStream(stored); });
  dev_.addCloseHook([this] { free(); });
  dev_.addReaderWake([this] { frames_.wakeReaders(); });
}

CANModule::~CANModule() { dev_.clearStreamSink(kStreamKey); }

bool CANModule::moreCanCome() const { return open_.load() && !killed_.load() && !dev_.killed() && dev_.receiving(); }

void CANModule::free() {
  killed_ = true;
  frames_.wakeReaders();
}

// --- delivery (receive thread) -------------------------------------------------------------------

void CANModule::onStream(ByteView stored) {
  std::size_t left = 0;
  {
    std::lock_guard lock(m_);
    if (killed_) return;
    if (!open_) {
      dev_.streams().queue(kStreamKey)->push(Bytes(stored.begin(), stored.end()));
      return;
    }
    left = deliver(stored);
  }
  // Outside the lock: warnings go through the interpreter.
  if (left > 0)
    console::warn(Err::CANQueueOverflowWarning,
                  "A CAN stream packet of " + std::to_string(stored.size()) + " bytes ends with " + std::to_string(left) +
                      " bytes that are not a whole 12-byte frame; they were dropped.");
  if (frames_.takeOverflowStart()) console::warn(Err::CANQueueOverflowWarning);
}

std::size_t CANModule::deliver(ByteView stored) {
  const std::size_t rows = stored.size() / kCanWireBytes;
  const double stamp = nowSeconds();
  std::vector<ReceivedFrame> frames;
  frames.reserve(rows);
  for (std::size_t i = 0; i < rows; ++i)
    frames.push_back({CANFrame::fromWire(stored.subspan(i * kCanWireBytes, kCanWireBytes)), stamp});
  frames_.push(frames.begin(), frames.end());
  return stored.size() % kCanWireBytes;
}

// --- checks --------------------------------------------------------------------------------------

bool CANModule::checkSpeed(int mode) {
  if (mode < 0 || mode >= kSpeedModes) throw Error(Err::CANSpeedNotVaildError);
  return true;
}

bool CANModule::checkTXIndex(int mode) {
  if (mode < 0 || mode >= kTXBuffers) throw Error(Err::CANTXNotVaildError);
  return true;
}

bool CANModule::checkTXPriority(int mode) {
  if (mode < 0 || mode >= kTXPriorities) throw Error(Err::CANTXPriorityNotVaildError);
  return true;
}

bool CANModule::checkDataRangeAndLength(const std::vector<std::int64_t>& data) {
  if (data.size() > kCanDataBytes) throw Error(Err::CANDataLengthNotVaildError);
  for (std::int64_t v : data)
    if (v < 0 || v > 0xFF) throw Error(Err::InputDataNotInRangeError, "The specified CAN data elements not in range");
  return true;
}

bool CANModule::checkId(std::int64_t id, bool extended_id) {
  const std::int64_t max = extended_id ? kCanMaxExtendedId : kCanMaxStandardId;
  if (id < 0 || id > max)
    throw Error(Err::InputDataNotInRangeError, std::string(extended_id ? "An extended" : "A standard") +
                                                   " CAN identifier is 0.." + std::to_string(max) + ", not " +
                                                   std::to_string(id) + ".");
  return true;
}

Op<bool> CANModule::checkPinState(Call& call, int port, std::vector<std::string> modes) {
  co_return co_await ports_.requirePinModes(call, port, std::move(modes));
}

// --- operations ----------------------------------------------------------------------------------

Op<int> CANModule::open(Call& call, int port) {
  checkPort(port);
  co_await ports_.requirePinModes(call, port, busOpenModes());
  const CommandRule rule{kOpenCanKeyBase | port, Echo::none(), commandRule(OPEN_CAN).sends};
  const Bytes r = co_await call.echo(rule, Bytes{});
  Bytes reply = payloadOf(port);  // the port back in front
  reply.insert(reply.end(), r.begin(), r.end());
  const int status = Reply(reply, "CAN_open").status(kBusStatusIndex);
  if (status == 0) {
    std::lock_guard lock(m_);
    if (!open_) {
      for (const Bytes& packet : dev_.streams().queue(kStreamKey)->take(-1)) deliver(packet);
      open_ = true;
    }
  }
  co_return status;
}

Op<int> CANModule::close(Call& call, int port) {
  checkPort(port);
  try {
    co_await stop(call, port);
  } catch (const Error& e) {
    co_return e.code();  // a time-out included, in both families
  }
  const int status = co_await busStatus(call, CLOSE_CAN, payloadOf(port), "CAN_close");
  if (status == 0) {
    {
      std::lock_guard lock(m_);
      open_ = false;
    }
    frames_.wakeReaders();  // a blocked read returns what is queued
  }
  co_return status;
}

Op<int> CANModule::start(Call& call, int port) {
  checkPort(port);
  call.sendOnly(START_CAN, payloadOf(port));
  co_return 0;
}

Op<int> CANModule::stop(Call& call, int port) {
  checkPort(port);
  co_return co_await busStatus(call, STOP_CAN, payloadOf(port), "CAN_stop");
}

Op<int> CANModule::write(Call& call, int port, std::int64_t id, std::optional<std::vector<std::int64_t>> data,
                         bool remote, bool extended_id) {
  checkPort(port);
  checkId(id, extended_id);
  std::vector<std::int64_t> bytes(kCanDataBytes, 0);  // a remote frame carries no data: eight zeros go out
  if (!remote) {
    if (!data) throw Error(Err::InputTypeNotCorrectError, "data must be a list of byte values.");
    checkDataRangeAndLength(*data);
    bytes = std::move(*data);
  }
  const CANFrame frame(id, extended_id, remote, std::move(bytes));
  Bytes payload = payloadOf(port, 0);
  appendByteFields(payload, frame.frame_in_list, "frame");
  co_return co_await busStatus(call, WRITE_CAN, std::move(payload), "CAN_write");
}

Op<CanFrames> CANModule::read(Call& call, int port, std::int64_t num_frames, double delay) {
  (void)delay;  // the wait ends when the frames arrive, not at the next poll; any delay is accepted
  dev_.requireOpen();
  checkPort(port);
  requireReadable(num_frames, QUEUE_SIZE_MAX, "num_frames");
  const std::vector<ReceivedFrame> got = co_await readQueued(call, frames_, num_frames);
  CanFrames out;
  out.frames.reserve(got.size());
  for (const auto& r : got) out.frames.push_back(r.frame);
  co_return out;
}

Op<std::vector<ReceivedFrame>> CANModule::receive(Call& call, int port, std::int64_t at_least, std::int64_t at_most,
                                                  std::optional<double> wait) {
  dev_.requireOpen();
  checkPort(port);
  requireReadable(at_least, QUEUE_SIZE_MAX, "at_least");
  co_return co_await receiveQueued(call, frames_, static_cast<std::size_t>(std::max<std::int64_t>(at_least, 0)),
                                   static_cast<std::size_t>(std::max<std::int64_t>(at_most, 0)), wait);
}

Op<int> CANModule::setSpeed(Call& call, int port, int speed_mode) {
  checkPort(port);
  checkSpeed(speed_mode);
  co_return co_await busStatus(call, SET_CAN_SPEED, payloadOf(port, speed_mode), "CAN_setSpeed");
}

Op<int> CANModule::setRXFilteringOn(Call& call, int port, std::int64_t on_off) {
  checkPort(port);
  Bytes payload = payloadOf(port);
  appendByteField(payload, on_off, "on_off");
  co_return co_await busStatus(call, SET_CAN_RX_FILTERING_ON, std::move(payload), "CAN_setRXFilteringOn");
}

Op<int> CANModule::setRXFilterOrMask(Call& call, int port, std::int64_t index, std::int64_t id, bool remote,
                                     bool extended_id) {
  checkPort(port);
  checkId(id, extended_id);
  Bytes payload = payloadOf(port);
  appendByteField(payload, index, "index");
  appendByteFields(payload, CANFrame(id, extended_id, remote).frame_in_list, "frame");
  co_return co_await busStatus(call, SET_CAN_RX_FILTER_OR_MASK, std::move(payload), "CAN_setRXFilterOrMask");
}

Op<int> CANModule::setTXPriority(Call& call, int port, int tx_mode, int priority_mode) {
  checkPort(port);
  checkTXIndex(tx_mode);
  checkTXPriority(priority_mode);
  co_return co_await busStatus(call, SET_CAN_TX_PRIORITY, payloadOf(port, tx_mode, priority_mode), "_CAN_setTXPriority");
}

Op<int> CANModule::setEnableInterrupt(Call& call, int port, std::int64_t status) {
  checkPort(port);
  Bytes payload = payloadOf(port);
  appendByteField(payload, status, "status");
  co_return co_await busStatus(call, SET_CAN_ENABLED_ITR, std::move(payload), "_CAN_setEnableInterrupt");
}

Op<int> CANModule::setRXRollover(Call& call, int port, std::int64_t status) {
  checkPort(port);
  Bytes payload = payloadOf(port);
  appendByteField(payload, status, "status");
  co_return co_await busStatus(call, SET_CAN_RX_ROLLOVER, std::move(payload), "_CAN_setRXRollover");
}

Op<std::vector<int>> CANModule::getErrors(Call& call, int port) {
  checkPort(port);
  const Bytes r = co_await call.echo(GET_CAN_ERRORS, payloadOf(port));
  co_return elements(Reply(r, "_CAN_getErrors"), 1, 2);
}

Op<std::vector<int>> CANModule::getInterrupts(Call& call, int port) {
  checkPort(port);
  const Bytes r = co_await call.echo(GET_CAN_INTERRUPTS, payloadOf(port));
  co_return elements(Reply(r, "_CAN_getInterrupts"), 1, 3);
}

Op<std::vector<std::int64_t>> CANModule::getCounters(Call& call, int port) {
  checkPort(port);
  const Bytes r = co_await call.echo(GET_CAN_COUNTERS, payloadOf(port));
  const Reply reply(r, "_CAN_getCounters");
  std::vector<std::int64_t> out(kCounters);
  for (std::size_t i = 0; i < kCounters; ++i) out[i] = reply.be<std::uint32_t>(1 + kWordBytes * i);
  co_return out;
}

}  // namespace zelvo
