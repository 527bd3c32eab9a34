#include "zelvo/core/call.hpp"

#include <algorithm>

#include "zelvo/core/frame.hpp"

namespace zelvo {

Call::Call(Device& dev, bool blocking, double timeout) : device_(&dev), timeout_(timeout) {
  mode_.blocking = blocking;
  mode_.cancel = blocking ? nullptr : &cancel_;
}

Call Call::blocking(Device& dev, double timeout) { return Call(dev, true, timeout); }

std::shared_ptr<Call> Call::awaitable(Device& dev, double timeout) {
  return std::make_shared<Call>(dev, false, timeout);
}

void Call::throwTimeout() const {
  if (mode_.blocking) throw Error(Err::ReceivePacketTimeoutError);
  throw AsyncTimeout();
}

double attemptWait(double timeout, int num_retries) {
  if (num_retries <= 0) return 0;
  return std::min(RETRY_TIMEOUT, timeout / num_retries);
}

Op<Bytes> Call::echo(int cmd, Bytes payload) {
  const ReplyKey key = replyKeyFor(cmd, payload);
  const Bytes frame = buildFrame(cmd, payload);

  auto gate_source = device_->gates().source(key);
  co_await WaitFor<Unit, KeyGates::KeySource>(mode_, gate_source, std::nullopt, device_->connectionError());
  KeyGates::Ticket ticket(&device_->gates(), key);

  // Times are counted from when the request can go out, not from when it queued for its key.
  const TimePoint begin = Clock::now();
  const auto at = [begin](double s) { return later(begin, s); };
  device_->replies().discard(key);
  auto source = device_->replies().source(key);
  const double per_attempt = attemptWait(timeout_, num_retries_);
  // A non-positive attempt wait still makes one send and one check.
  const int attempts = per_attempt > 0 ? num_retries_ : 1;
  for (int i = 0; i < attempts; ++i) {
    device_->sendCommand(frame);
    auto r = co_await WaitFor<Bytes, ReplyPool::KeySource>(mode_, source, at(per_attempt * (i + 1)),
                                                           device_->connectionError());
    if (r) co_return std::move(*r);
  }
  auto last = co_await WaitFor<Bytes, ReplyPool::KeySource>(mode_, source, at(timeout_), device_->connectionError());
  if (last) co_return std::move(*last);
  throwTimeout();
}

Op<std::optional<Bytes>> Call::echoOnce(int cmd, Bytes payload, double wait_seconds) {
  const ReplyKey key = replyKeyFor(cmd, payload);
  const Bytes frame = buildFrame(cmd, payload);
  auto gate_source = device_->gates().source(key);
  co_await WaitFor<Unit, KeyGates::KeySource>(mode_, gate_source, std::nullopt, device_->connectionError());
  KeyGates::Ticket ticket(&device_->gates(), key);
  device_->replies().discard(key);
  device_->sendCommand(frame);
  auto source = device_->replies().source(key);
  co_return co_await WaitFor<Bytes, ReplyPool::KeySource>(mode_, source, deadlineAfter(wait_seconds),
                                                          device_->connectionError());
}

Op<std::optional<Bytes>> Call::reply(ReplyKey key, std::optional<double> wait_seconds) {
  auto source = device_->replies().source(key);
  std::optional<TimePoint> deadline;
  if (wait_seconds) deadline = deadlineAfter(*wait_seconds);
  co_return co_await WaitFor<Bytes, ReplyPool::KeySource>(mode_, source, deadline, device_->connectionError());
}

void Call::sendOnly(int cmd, ByteView payload) { device_->sendCommand(buildFrame(cmd, payload)); }

Op<std::set<Bytes>> Call::broadcast(int cmd, Bytes payload, double collect_seconds) {
  const Bytes frame = buildFrame(cmd, payload);
  device_->broadcasts().clear(cmd);
  for (int i = 0; i < NUM_BCST_RETRIES; ++i) device_->sendBroadcast(frame);
  co_await sleep(collect_seconds);
  co_return device_->broadcasts().get(cmd);
}

Op<void> Call::sleep(double seconds) {
  NeverSource never;
  co_await WaitFor<Unit, NeverSource>(mode_, never, deadlineAfter(seconds), device_->connectionError());
}

}  // namespace zelvo
