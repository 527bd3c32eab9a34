// Command frames: STX, 16-bit big-endian length (command bytes + payload), a one- or two-byte
// command code, the payload, CR LF. No checksum; the length field is the only integrity check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

#include "zelvo/core/bytes.hpp"

namespace zelvo {

// Builder constants.
inline constexpr Byte CMD_STX = 2;
inline constexpr Byte CMD_CR = 13;
inline constexpr Byte CMD_LF = 10;
inline constexpr int CMD_INDEX = 3;
// The splitter's own copies (same values).
inline constexpr Byte CMD_STX_2 = 2;
inline constexpr Byte CMD_CR_2 = 13;
inline constexpr Byte CMD_LF_2 = 10;
inline constexpr int CMD_INDEX_2 = 3;

// Codes from 256 on take two bytes on the wire.
inline constexpr int kOneByteCodeLimit = 256;
// On receive, a first code byte above this value is a whole one-byte code; at or below it, the
// byte is the high half of a two-byte code.
inline constexpr Byte kTwoByteCodeMaxHigh = 48;
inline constexpr std::size_t kMaxLengthField = 0xFFFF;

int commandWidth(int cmd);

// The frame for one command. Throws InputDataNotInRangeError when the command code is not
// 0..65535 or the payload does not fit the 16-bit length field.
Bytes buildFrame(int cmd, ByteView payload);

struct Frame {
  int code;
  Bytes payload;
  bool operator==(const Frame&) const = default;
};

// Cuts a received byte stream into frames.
//
// Decisions: the first CR LF at or after last_index ends a candidate frame; the first start byte
// before it whose signed 16-bit length field equals the distance to the terminator starts it.
// Without such a start byte the next terminator search begins one byte later. A found frame drops
// everything up to its terminator and resets last_index to 0.
//
// The work is linear in the bytes received, also on hostile input: terminators and start bytes
// are each examined once per frame, candidate start bytes are indexed by the terminator position
// their length field points at, and a search that found no terminator resumes where it stopped.
class FrameSplitter {
 public:
  // Appends received bytes and returns the complete frames now available, in arrival order.
  std::vector<Frame> feed(ByteView bytes);
  // Cuts the frames already held (the documented _splitPacket).
  std::vector<Frame> split();

  const Bytes& stream() const { return stream_; }
  std::size_t lastIndex() const { return last_index_; }
  // Replace the state (tests and the Python attributes); resets the search caches.
  void setStream(Bytes s);
  void setLastIndex(std::size_t i);
  void clear();

 private:
  void resetCaches();
  // Smallest valid start position for a terminator at e, or npos.
  std::size_t startFor(const Byte* p, std::size_t e);

  Bytes stream_;
  std::size_t last_index_ = 0;
  // Search caches, valid for the current stream_ until a frame is cut or the state is replaced.
  std::size_t term_scan_ = 0;    // terminator search resumes here (>= last_index_)
  std::size_t start_scan_ = 0;   // start bytes before this position are indexed
  std::vector<std::pair<std::size_t, std::size_t>> small_;  // (target, start) while few
  std::unordered_map<std::size_t, std::size_t> by_target_;  // target -> first start, when many
  bool indexed_ = false;
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);
};

// The documented algorithm written literally (quadratic on hostile input); the reference the
// splitter is tested against.
std::vector<Frame> splitReference(Bytes& stream, std::size_t& last_index);

}  // namespace zelvo
