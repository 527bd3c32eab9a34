// The commands the library sends and what the exchange layer knows of each (command_table.def):
// which request bytes its reply repeats, and whether it may be sent more than once.
#pragma once

#include <array>
#include <cstdint>
#include <utility>

#include "zelvo/core/bytes.hpp"

namespace zelvo {

// Request bytes a reply repeats at the same position (the port, chip select, ... it answers for).
struct Echo {
  static constexpr std::size_t kMax = 4;
  std::array<std::uint8_t, kMax> positions{};
  std::uint8_t count = 0;

  static constexpr Echo none() { return {}; }
  // The reply repeats the request bytes at these positions.
  template <class... P>
  static constexpr Echo at(P... at) {
    static_assert(sizeof...(P) <= kMax, "an echo names at most kMax positions");
    Echo e;
    ((e.positions[e.count++] = static_cast<std::uint8_t>(at)), ...);
    return e;
  }
};

// What one request's reply must repeat: (position, value) pairs taken from the request.
class EchoBytes {
 public:
  EchoBytes() = default;
  // The request's bytes at the echo's positions (positions the request does not have are skipped).
  static EchoBytes of(const Echo& echo, ByteView request);
  // Whether `reply` repeats them. A reply too short to hold a position is not refused here: the
  // operation that reads it reports it as a short reply.
  bool matchedBy(ByteView reply) const;

 private:
  std::array<std::pair<std::uint8_t, Byte>, Echo::kMax> bytes_{};
  std::uint8_t count_ = 0;
};

// Whether a command may be sent again while its reply is slow.
enum class Sends : bool {
  Once,    // every copy acts: sent once, the reply awaited for the whole time-out
  Resend,  // asking again does no harm: up to the exchange's number of sends
};

struct CommandRule {
  int code = 0;
  Echo echo;
  Sends sends = Sends::Resend;
};

// Command codes.
#define ZELVO_COMMAND(NAME, CODE, ECHO_, SENDS) inline constexpr int NAME = CODE;
#include "zelvo/core/command_table.def"
#undef ZELVO_COMMAND

// The rule of a command code; a code the table does not list has no echo and may be re-sent.
CommandRule commandRule(int code);

}  // namespace zelvo
