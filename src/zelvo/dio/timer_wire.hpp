// Wire layout shared by the PWM, counter, encoder, relay and potentiometer commands: requests
// start with a channel (or port) byte, real values travel as 4-byte single-precision fields,
// counter and encoder positions as 48-bit fields, and status replies carry the firmware status at
// element 1.
#pragma once

#include <cstdint>

#include "zelvo/core/call.hpp"
#include "zelvo/core/reply.hpp"

namespace zelvo {

// Reply element of the firmware status (status convention).
inline constexpr std::size_t kTimerStatusIndex = 1;


// 48-bit positions: counters count 0 <= p < 2^48, encoders -2^47 <= p < 2^47. A position outside
// its range is an InputDataNotInRangeError; it never loses its upper bits.
inline constexpr std::int64_t kPositionSpan = std::int64_t{1} << 48;
inline constexpr std::size_t kPositionBytes = 6;
void appendUnsignedPosition(Bytes& out, std::int64_t position);
void appendSignedPosition(Bytes& out, std::int64_t position);

// What a counter or encoder read returns: the position (reply elements 1..6) and the frequency
// measured over the window (elements 7..10). A shorter reply raises FirmwareOtherError naming the
// operation; bytes after element 10 are not read.
struct PulseReading {
  std::int64_t position = 0;
  double frequency = 0;
};
PulseReading decodeUnsignedReading(const Reply& reply);
// The position sign-extended from 48 bits.
PulseReading decodeSignedReading(const Reply& reply);

// Sends [channel, args...] and returns the status convention of the reply.
Op<int> statusCommand(Call& call, int cmd, Bytes payload, const char* operation);
// Checks the channel (the module's check throws its error), sends [channel] and returns the status
// convention of the reply.
Op<int> channelCommand(Call& call, bool (*check)(int), int cmd, int channel, const char* operation);
// The same for [channel, real]: the real as a single-precision field named `what`.
Op<int> channelRealCommand(Call& call, bool (*check)(int), int cmd, int channel, double value, const char* what,
                           const char* operation);

}  // namespace zelvo
