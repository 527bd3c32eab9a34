// Command rows for the peripherals whose requests start with a channel (or port) byte and whose
// replies repeat it: PWM, counter, encoder, relays, potentiometers. The checks every such command
// shares (request length, channel number) are made here once.
#pragma once

#include <cstddef>
#include <functional>
#include <variant>

#include "zelvo/sim/firmware.hpp"

namespace zelvo::sim {

// What a command answers after the channel byte: a status, or data.
using ChannelOutcome = std::variant<Byte, Bytes>;
using ChannelBody = std::function<ChannelOutcome(const Request& r, int channel)>;

// Registers `code`. A request shorter than `need` bytes is answered [channel, 80] ([80] when it is
// empty); a channel outside 0..channels-1 [channel, `missing`]; otherwise body(request, channel)
// decides: [channel, status] or [channel, data...].
void routeChannel(Firmware& fw, int code, std::size_t need, int channels, Byte missing, ChannelBody body);

}  // namespace zelvo::sim
