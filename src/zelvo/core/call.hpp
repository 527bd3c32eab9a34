// Call: how one operation talks to its device and how it waits. Every module operation receives
// a Call; the request/reply rules (retries, time-outs, same-key serialisation, stale replies)
// live here once, for both the blocking and the awaitable family.
#pragma once

#include <memory>
#include <optional>
#include <set>

#include "zelvo/core/bytes.hpp"
#include "zelvo/core/command.hpp"
#include "zelvo/core/device.hpp"
#include "zelvo/core/op.hpp"
#include "zelvo/core/wait.hpp"

namespace zelvo {

// Timing constants of the request/reply layer.
inline constexpr double PACKET_TIMEOUT = 5;
static_assert(kBroadcastCollectSeconds == PACKET_TIMEOUT, "a discovery collects answers for PACKET_TIMEOUT");
inline constexpr double RETRY_TIMEOUT = 1;
inline constexpr int NUM_RETRIES = 3;
inline constexpr int NUM_BCST_RETRIES = 3;
inline constexpr double ECHO_DELAY = 0.01;
inline constexpr double QUEUE_TIMEOUT = 999999;
// Default time-out of blocking module operations, seconds.
inline constexpr double DEFAULT_TIMEOUT = 3;
// Most sends one exchange makes, whatever number of retries a caller asks for.
inline constexpr int kMaxSends = 10;

class Call {
 public:
  // Blocking family: waits block the calling thread; `timeout` is the caller's, and the call
  // starts now.
  static Call blocking(Device& dev, double timeout = DEFAULT_TIMEOUT);
  // Awaitable family: waits suspend; time-outs are PACKET_TIMEOUT unless given. The call starts
  // when start() is called (when the operation is first awaited).
  static std::shared_ptr<Call> awaitable(Device& dev, double timeout = PACKET_TIMEOUT);

  Device& device() const { return *device_; }
  bool isBlocking() const { return mode_.blocking; }
  double timeout() const { return timeout_; }
  void setTimeout(double t);
  int numRetries() const { return num_retries_; }
  // At most kMaxSends.
  void setNumRetries(int n);
  WaitMode waitMode() const { return mode_; }
  // The time-out covers the whole call from here: every exchange of the operation, including the
  // time spent waiting behind other callers of the same command.
  void start();
  TimePoint deadline() const { return deadline_; }
  // Cancels the operation (awaitable family): the wait in progress ends with zelvo::Cancelled.
  void cancel() { cancel_.cancel(); }
  // Blocking family: what the waits must notice besides their sources (a pending signal).
  void setInterrupt(Interrupt* i) { mode_.interrupt = i; }

  // The echo exchange: sends the request and returns its reply, by the command's rule
  // (command_table.def). Same-key requests of the device are served one at a time, in order; a new
  // request first waits (within its time-out) for the answers to earlier sends of its key. A
  // command that may be re-sent goes out up to numRetries() times, each send followed by a wait of
  // min(RETRY_TIMEOUT, timeout / numRetries()), then a last wait until the time-out ends; one that
  // acts on every copy goes out once and waits the whole time-out. Only a reply to one of this
  // request's sends, repeating its echo, is taken. Out of time: ReceivePacketTimeoutError
  // (in both families; in Python it is also a TimeoutError).
  Op<Bytes> echo(int cmd, Bytes payload);
  Op<Bytes> echo(CommandRule rule, Bytes payload);
  // One send and a wait until the time-out ends; nullopt when no reply came in time.
  Op<std::optional<Bytes>> echoOnce(int cmd, Bytes payload);
  // Waits for an unsolicited reply filed under `key` (no send); nullopt after `wait_seconds`
  // (none: no limit).
  Op<std::optional<Bytes>> reply(ReplyKey key, std::optional<double> wait_seconds);
  // Sends without waiting for anything.
  void sendOnly(int cmd, ByteView payload);
  // Sends a discovery request NUM_BCST_RETRIES times and collects distinct answers for
  // `collect_seconds` (default PACKET_TIMEOUT).
  Op<std::set<Bytes>> broadcast(int cmd, Bytes payload, double collect_seconds = PACKET_TIMEOUT);
  // The same, the distinct answers in the order they arrived. Searches for the same code on one
  // device run one at a time, in order (the second waits for the first's collection to end), so
  // neither empties the other's answers.
  Op<std::vector<Bytes>> broadcastAnswers(int cmd, Bytes payload, double collect_seconds = PACKET_TIMEOUT);
  Op<void> sleep(double seconds);

  // The time-out failure: ReceivePacketTimeoutError, in both families.
  [[noreturn]] void throwTimeout() const;

  Call(Device& dev, bool blocking, double timeout);

 private:
  // One request: `sends` sends (each followed by a wait of `per_send`, the last one until the
  // deadline); nullopt when the deadline passed without an answer.
  Op<std::optional<Bytes>> exchange(CommandRule rule, Bytes payload, int sends, double per_send);
  template <class T, class Source>
  WaitFor<T, Source> until(Source& source, std::optional<TimePoint> deadline) {
    return WaitFor<T, Source>(mode_, source, deadline, device_->connectionError());
  }

  Device* device_;
  WaitMode mode_;
  double timeout_;
  TimePoint deadline_;
  int num_retries_ = NUM_RETRIES;
  CancelState cancel_;
};

// Wait of one echo attempt, given the exchange's total time-out.
double attemptWait(double timeout, int num_retries);

}  // namespace zelvo
