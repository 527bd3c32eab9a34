// Call: how one operation talks to its device and how it waits. Every module operation receives
// a Call; the request/reply rules (retries, time-outs, same-key serialisation, stale replies)
// live here once, for both the blocking and the awaitable family.
#pragma once

#include <memory>
#include <optional>
#include <set>

#include "zelvo/core/bytes.hpp"
#include "zelvo/core/device.hpp"
#include "zelvo/core/op.hpp"
#include "zelvo/core/wait.hpp"

namespace zelvo {

// Timing constants of the request/reply layer.
inline constexpr double PACKET_TIMEOUT = 5;
inline constexpr double RETRY_TIMEOUT = 1;
inline constexpr int NUM_RETRIES = 3;
inline constexpr int NUM_BCST_RETRIES = 3;
inline constexpr double ECHO_DELAY = 0.01;
inline constexpr double QUEUE_TIMEOUT = 999999;
// Default time-out of blocking module operations, seconds.
inline constexpr double DEFAULT_TIMEOUT = 3;

class Call {
 public:
  // Blocking family: waits block the calling thread; `timeout` is the caller's.
  static Call blocking(Device& dev, double timeout = DEFAULT_TIMEOUT);
  // Awaitable family: waits suspend; time-outs are PACKET_TIMEOUT unless given.
  static std::shared_ptr<Call> awaitable(Device& dev, double timeout = PACKET_TIMEOUT);

  Device& device() const { return *device_; }
  bool isBlocking() const { return mode_.blocking; }
  double timeout() const { return timeout_; }
  void setTimeout(double t) { timeout_ = t; }
  int numRetries() const { return num_retries_; }
  void setNumRetries(int n) { num_retries_ = n; }
  WaitMode waitMode() const { return mode_; }
  // Cancels the operation (awaitable family): the wait in progress ends with zelvo::Cancelled.
  void cancel() { cancel_.cancel(); }

  // The echo exchange: sends the request and returns its reply. Same-key requests of the device
  // are served one at a time, in order; an unclaimed reply left under the key is dropped before
  // sending. Up to numRetries() sends, each followed by a wait of
  // min(RETRY_TIMEOUT, timeout / numRetries()), then a last wait for the rest of the time-out
  // without sending. Out of time: ReceivePacketTimeoutError (blocking) or AsyncTimeout.
  Op<Bytes> echo(int cmd, Bytes payload);
  // One send and one wait of `wait_seconds`; nullopt when no reply came in time.
  Op<std::optional<Bytes>> echoOnce(int cmd, Bytes payload, double wait_seconds);
  // Waits for the reply filed under `key` (no send); nullopt after `wait_seconds` (none: no limit).
  Op<std::optional<Bytes>> reply(ReplyKey key, std::optional<double> wait_seconds);
  // Sends without waiting for anything.
  void sendOnly(int cmd, ByteView payload);
  // Sends a discovery request NUM_BCST_RETRIES times and collects distinct answers for
  // `collect_seconds` (default PACKET_TIMEOUT).
  Op<std::set<Bytes>> broadcast(int cmd, Bytes payload, double collect_seconds = PACKET_TIMEOUT);
  Op<void> sleep(double seconds);

  // The family's time-out failure.
  [[noreturn]] void throwTimeout() const;

  Call(Device& dev, bool blocking, double timeout);

 private:
  Device* device_;
  WaitMode mode_;
  double timeout_;
  int num_retries_ = NUM_RETRIES;
  CancelState cancel_;
};

// Wait of one echo attempt, given the exchange's total time-out.
double attemptWait(double timeout, int num_retries);

}  // namespace zelvo
