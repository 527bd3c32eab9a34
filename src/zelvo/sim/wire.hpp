// The device side of the command framing: cutting the host's byte stream into requests and
// building reply frames.
//
// A frame is STX (0x02), a 16-bit big-endian length L (command bytes + payload bytes), the command
// code (one byte when it is below 256, else two bytes, high byte first), the payload, CR LF.
// There is no checksum, so the parser treats a frame as found when a terminator sits exactly where
// the length field of some earlier start byte says it should.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>

#include "zelvo/core/bytes.hpp"

namespace zelvo::sim {

inline constexpr Byte kStx = 0x02;
inline constexpr Byte kCr = 0x0D;
inline constexpr Byte kLf = 0x0A;
// A first code byte above this value is a whole one-byte code; at or below it, the byte is the
// high half of a two-byte code (the rule the host's splitter applies to our replies, too).
inline constexpr Byte kHighestTwoByteLead = 48;
// The host compares the length field as a signed 16-bit value, so longer frames never match.
inline constexpr std::size_t kMaxFrameLength = 0x7FFF;

struct Request {
  int code = 0;
  Bytes payload;
};

// The frame that carries `payload` under `code` (0..65535).
Bytes encodeFrame(int code, ByteView payload);

// Incremental request parser. Feed it whatever the socket returned; take complete requests out.
// Garbage, stray start bytes and split reads are tolerated: bytes that cannot belong to a frame are
// dropped once a later frame is found, and the buffer never holds more than about two maximum
// frames. Work is linear in the bytes fed.
class RequestParser {
 public:
  void feed(ByteView bytes);
  // The next complete request, in arrival order; nullopt when more bytes are needed.
  std::optional<Request> next();
  std::size_t buffered() const { return buf_.size() - head_; }
  void clear();

 private:
  void discardFront(std::size_t n);
  void noteStart(std::size_t at);

  Bytes buf_;
  // Bytes before head_ are consumed; they are erased in bulk, not frame by frame.
  std::size_t head_ = 0;
  // Next position to examine; every position before it has been registered or ruled out.
  std::size_t scan_ = 0;
  // Terminator position (index of the CR) -> earliest start byte whose length field points there.
  std::unordered_map<std::size_t, std::size_t> expected_;
};

}  // namespace zelvo::sim
