#include "zelvo/core/command.hpp"

namespace zelvo {

EchoBytes EchoBytes::of(const Echo& echo, ByteView request) {
  EchoBytes e;
  for (std::size_t i = 0; i < echo.count; ++i) {
    const std::uint8_t at = echo.positions[i];
    if (at < request.size()) e.bytes_[e.count_++] = {at, request[at]};
  }
  return e;
}

bool EchoBytes::matchedBy(ByteView reply) const {
  for (std::size_t i = 0; i < count_; ++i) {
    const auto [at, value] = bytes_[i];
    if (at < reply.size() && reply[at] != value) return false;
  }
  return true;
}

CommandRule commandRule(int code) {
  // A switch: the compiler refuses a code listed twice.
  switch (code) {
#define ZELVO_COMMAND(NAME, CODE, ECHO_, SENDS) \
  case CODE:                                   \
    return CommandRule{CODE, ECHO_, SENDS};
#include "zelvo/core/command_table.def"
#undef ZELVO_COMMAND
    default:
      return CommandRule{code, Echo::none(), Sends::Resend};
  }
}

}  // namespace zelvo
