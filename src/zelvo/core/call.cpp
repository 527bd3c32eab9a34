#include "zelvo/core/call.hpp"

#include <algorithm>

#include "zelvo/core/frame.hpp"

namespace zelvo {

Call::Call(Device& dev, bool blocking, double timeout) : device_(&dev), timeout_(timeout) {
  mode_.blocking = blocking;
  mode_.cancel = blocking ? nullptr : &cancel_;
  start();
}

Call Call::blocking(Device& dev, double timeout) { return Call(dev, true, timeout); }

std::shared_ptr<Call> Call::awaitable(Device& dev, double timeout) {
  return std::make_shared<Call>(dev, false, timeout);
}

void Call::setTimeout(double t) {
  timeout_ = t;
  start();
}

void Call::setNumRetries(int n) { num_retries_ = std::min(n, kMaxSends); }

void Call::start() { deadline_ = deadlineAfter(timeout_); }

void Call::throwTimeout() const { throw Error(Err::ReceivePacketTimeoutError); }

double attemptWait(double timeout, int num_retries) {
  if (num_retries <= 0) return 0;
  return std::min(RETRY_TIMEOUT, timeout / num_retries);
}

Op<std::optional<Bytes>> Call::exchange(CommandRule rule, Bytes payload, int sends, double per_send) {
  const ReplyKey key = replyKeyFor(rule.code, payload);
  const Bytes frame = buildFrame(rule.code, payload);

  // The key's turn: one request per key at a time, in arrival order.
  auto gate = device_->gates().source(key);
  if (!co_await until<Unit>(gate, deadline_)) co_return std::nullopt;
  KeyGates::Ticket ticket(&device_->gates(), key);

  // Earlier sends of the key still unanswered: their replies are due first. Wait for them (they
  // are discarded) or until they count as lost, within the quarantine and the time-out.
  ReplyPool& replies = device_->replies();
  if (const auto quarantine = replies.quarantineEnd(key)) {
    auto quiet = replies.quiet(key);
    co_await until<Unit>(quiet, std::min(*quarantine, deadline_));
    if (Clock::now() >= deadline_) co_return std::nullopt;
  }

  replies.discard(key);  // an unsolicited reply kept under the key is no answer to this request
  ReplyPool::Exchange request(replies, key, EchoBytes::of(rule.echo, payload));
  auto answer = request.answer();
  const TimePoint first_send = Clock::now();
  for (int i = 0; i < sends; ++i) {
    request.sent();  // before the frame goes out: the reply may come at once
    try {
      device_->sendCommand(frame);
    } catch (...) {
      request.unsend();
      throw;
    }
    const bool last = i + 1 == sends;
    const TimePoint wait_end = last ? deadline_ : std::min(deadline_, later(first_send, per_send * (i + 1)));
    if (auto r = co_await until<Bytes>(answer, wait_end)) co_return std::move(*r);
  }
  co_return std::nullopt;
}

Op<Bytes> Call::echo(int cmd, Bytes payload) { return echo(commandRule(cmd), std::move(payload)); }

Op<Bytes> Call::echo(CommandRule rule, Bytes payload) {
  const double per_send = attemptWait(timeout_, num_retries_);
  // A non-positive attempt wait still makes one send and one check.
  const int sends = rule.sends == Sends::Resend && per_send > 0 ? num_retries_ : 1;
  auto r = co_await exchange(rule, std::move(payload), sends, per_send);
  if (!r) throwTimeout();
  co_return std::move(*r);
}

Op<std::optional<Bytes>> Call::echoOnce(int cmd, Bytes payload) {
  return exchange(commandRule(cmd), std::move(payload), 1, 0);
}

Op<std::optional<Bytes>> Call::reply(ReplyKey key, std::optional<double> wait_seconds) {
  auto source = device_->replies().source(key);
  std::optional<TimePoint> deadline;
  if (wait_seconds) deadline = deadlineAfter(*wait_seconds);
  co_return co_await until<Bytes>(source, deadline);
}

void Call::sendOnly(int cmd, ByteView payload) { device_->sendCommand(buildFrame(cmd, payload)); }

Op<std::set<Bytes>> Call::broadcast(int cmd, Bytes payload, double collect_seconds) {
  const std::vector<Bytes> answers = co_await broadcastAnswers(cmd, std::move(payload), collect_seconds);
  co_return std::set<Bytes>(answers.begin(), answers.end());
}

Op<std::vector<Bytes>> Call::broadcastAnswers(int cmd, Bytes payload, double collect_seconds) {
  const Bytes frame = buildFrame(cmd, payload);
  // The code's turn, without a deadline: an earlier search ends after its fixed collection time.
  auto gate = device_->gates().source(cmd);
  co_await until<Unit>(gate, std::nullopt);
  KeyGates::Ticket ticket(&device_->gates(), cmd);
  device_->broadcasts().clear(cmd);
  for (int i = 0; i < NUM_BCST_RETRIES; ++i) device_->sendBroadcast(frame);
  co_await sleep(collect_seconds);
  co_return device_->broadcasts().arrivals(cmd);
}

Op<void> Call::sleep(double seconds) {
  NeverSource never;
  co_await until<Unit>(never, deadlineAfter(seconds));
}

}  // namespace zelvo
