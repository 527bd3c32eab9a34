// The motion chip's register layer: every register write, read and command is one MOTION request
// with a seven-byte payload (port, register, axis byte, four data bytes), answered by the firmware
// with an echo reply whose key is made of the first three bytes.
//
// Writes and commands follow the status convention at reply byte 6: 0, or the negative code of
// the firmware's failure; a library failure of the exchange (a time-out, a lost connection) also
// becomes its code, so that a multi-step operation can go on with its next step. Reads return the
// value and raise what the exchange raises.
//
// Two ways to fit a value into its field: Wrap (the service operations: the value is cut to the
// field's width, as a service tool expects) and Check (the module's steps: a value that does not
// fit raises InputDataNotInRangeError before anything is sent).
#pragma once

#include <cstdint>

#include "zelvo/core/call.hpp"
#include "zelvo/motion/mcx514_registers.hpp"

namespace zelvo::mcx514 {

// Reply byte of a write's status; first byte of a 32-bit and of a 16-bit read's value.
inline constexpr std::size_t kStatusIndex = 6;
inline constexpr std::size_t kValue32Index = 3;
inline constexpr std::size_t kValue16Index = 5;
inline constexpr std::size_t kPayloadBytes = 7;
// Axes of one chip.
inline constexpr int kAxes = 4;

enum class Fit : std::uint8_t { Wrap, Check };

// The exchange rule of an operation: the reply repeats port, register and axis byte.
CommandRule exchangeRule(const RegisterOp& op);

// The seven payload bytes. Port and axis byte must be bytes (a mask axis 0..7) in either fit;
// InputDataNotInRangeError otherwise.
Bytes registerPayload(const RegisterOp& op, int port, int axis, std::int64_t first, std::int64_t second, Fit fit);

// A write or command: its status (0 or a negative code). Cancellation and errors other than the
// library's own propagate.
Op<int> writeRegister(Call& call, const RegisterOp& op, int port, int axis, std::int64_t first, std::int64_t second,
                      Fit fit);
// A read: the value, decoded by the operation's result form.
Op<std::int64_t> readRegister(Call& call, const RegisterOp& op, int port, int axis, std::int64_t page = 0);

// The value of a read reply (the operation names a short reply).
std::int64_t decodeRead(const RegisterOp& op, const Bytes& reply);

}  // namespace zelvo::mcx514
