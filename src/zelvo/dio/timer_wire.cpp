#include "zelvo/dio/timer_wire.hpp"
#include "zelvo/core/status_exchange.hpp"

#include <cmath>
#include <limits>
#include <string>

namespace zelvo {
namespace {

constexpr std::size_t kPositionIndex = 1;
constexpr std::size_t kFrequencyIndex = kPositionIndex + kPositionBytes;
constexpr std::size_t kFrequencyBytes = 4;
constexpr std::int64_t kSignedLimit = kPositionSpan / 2;

void appendPosition(Bytes& out, std::int64_t position) {
  const auto wide = static_cast<std::uint64_t>(position);
  for (int shift = 8 * (static_cast<int>(kPositionBytes) - 1); shift >= 0; shift -= 8)
    out.push_back(static_cast<Byte>(wide >> shift));
}

std::int64_t readPosition(const Reply& reply) {
  const ByteView b = reply.span(kPositionIndex, kPositionBytes);
  std::int64_t v = 0;
  for (Byte x : b) v = (v << 8) | x;
  return v;
}

double readFrequency(const Reply& reply) { return readF32BE(reply.span(kFrequencyIndex, kFrequencyBytes)); }

[[noreturn]] void outOfRange(const char* what, std::int64_t value, const char* range) {
  throw Error(Err::InputDataNotInRangeError,
              std::string(what) + " = " + std::to_string(value) + " is outside " + range + ".");
}

}  // namespace

void appendUnsignedPosition(Bytes& out, std::int64_t position) {
  if (position < 0 || position >= kPositionSpan) outOfRange("position", position, "0..2**48-1");
  appendPosition(out, position);
}

void appendSignedPosition(Bytes& out, std::int64_t position) {
  if (position < -kSignedLimit || position >= kSignedLimit) outOfRange("position", position, "-2**47..2**47-1");
  appendPosition(out, position);
}

PulseReading decodeUnsignedReading(const Reply& reply) {
  reply.need(kFrequencyIndex + kFrequencyBytes);  // all or nothing
  return {readPosition(reply), readFrequency(reply)};
}

PulseReading decodeSignedReading(const Reply& reply) {
  reply.need(kFrequencyIndex + kFrequencyBytes);
  std::int64_t p = readPosition(reply);
  if (p >= kSignedLimit) p -= kPositionSpan;  // bit 47 set: a negative count
  return {p, readFrequency(reply)};
}

Op<int> statusCommand(Call& call, int cmd, Bytes payload, const char* operation) {
  return echoStatus(call, cmd, std::move(payload), kTimerStatusIndex, operation);
}

Op<int> channelCommand(Call& call, bool (*check)(int), int cmd, int channel, const char* operation) {
  check(channel);
  co_return co_await statusCommand(call, cmd, payloadOf(channel), operation);
}

Op<int> channelRealCommand(Call& call, bool (*check)(int), int cmd, int channel, double value, const char* what,
                           const char* operation) {
  check(channel);
  Bytes payload = payloadOf(channel);
  appendF32Field(payload, value, what);
  co_return co_await statusCommand(call, cmd, std::move(payload), operation);
}

}  // namespace zelvo
