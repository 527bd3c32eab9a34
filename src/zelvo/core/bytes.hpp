// Byte strings and the big-endian conversions every payload is built from and decoded with.
#pragma once

#include <bit>
#include <concepts>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "zelvo/core/errors.hpp"

namespace zelvo {

using Byte = std::uint8_t;
using Bytes = std::vector<Byte>;
using ByteView = std::span<const Byte>;

// --- big-endian packing --------------------------------------------------------------------------

// Appends v as sizeof(T) big-endian bytes (two's complement for signed types).
template <std::integral T>
void appendBE(Bytes& out, T v) {
  using U = std::make_unsigned_t<T>;
  const U u = static_cast<U>(v);
  for (int shift = 8 * (static_cast<int>(sizeof(T)) - 1); shift >= 0; shift -= 8)
    out.push_back(static_cast<Byte>(u >> shift));
}

inline void appendF32BE(Bytes& out, double v) {
  appendBE(out, std::bit_cast<std::uint32_t>(static_cast<float>(v)));
}
inline void appendF64BE(Bytes& out, double v) { appendBE(out, std::bit_cast<std::uint64_t>(v)); }

template <std::integral T>
Bytes toBE(T v) {
  Bytes out;
  out.reserve(sizeof(T));
  appendBE(out, v);
  return out;
}

// Reads sizeof(T) big-endian bytes at the start of b; b must hold at least that many.
template <std::integral T>
T readBE(ByteView b) {
  using U = std::make_unsigned_t<T>;
  U u = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) u = static_cast<U>((u << 8) | b[i]);
  return static_cast<T>(u);
}
inline float readF32BE(ByteView b) { return std::bit_cast<float>(readBE<std::uint32_t>(b)); }
inline double readF64BE(ByteView b) { return std::bit_cast<double>(readBE<std::uint64_t>(b)); }

// A fixed-width converter takes exactly its width; anything else is an input-range error.
void requireWidth(ByteView b, std::size_t width, const char* what);

// --- texts ---------------------------------------------------------------------------------------

// Device text: the bytes up to the first NUL, decoded as UTF-8; invalid sequences become U+FFFD
// (the same replacement Python's "replace" error handler makes).
std::string decodeText(ByteView b);
// The character codes of a text given as UTF-8, one entry per character (code points, which can
// exceed 255; payload checks catch those).
std::vector<std::int64_t> codePoints(std::string_view utf8);

// --- bits ----------------------------------------------------------------------------------------

// Positions of the set bits of a word, ascending.
std::vector<int> setBitIndices(std::uint64_t word);
// OR of 1 << i over the indices; indices must be 0..63.
std::uint64_t indicesToWord(std::span<const int> indices);
// The low `width` bits of a word, least significant first.
std::vector<int> wordToBits(std::uint64_t word, int width);

// --- payload checks ------------------------------------------------------------------------------

// Every value must be a byte (0..255); otherwise InputDataNotInRangeError naming `what`.
Bytes toPayload(std::span<const std::int64_t> values, const char* what = "payload");

// A payload of integers, each checked to be a byte. (Variadic rather than a braced list: braced
// lists inside coroutine bodies trip a GCC 12 bug.)
template <class... I>
Bytes payloadOf(I... values) {
  if constexpr (sizeof...(I) == 0) {
    return {};
  } else {
    const std::int64_t v[] = {static_cast<std::int64_t>(values)...};
    return toPayload(v);
  }
}

// v as an unsigned field of sizeof(T) bytes; InputDataNotInRangeError naming `what` when it does
// not fit (a field is never wrapped).
[[noreturn]] void throwFieldRange(const char* what, std::int64_t v, std::uint64_t max);
template <std::unsigned_integral T>
T unsignedField(std::int64_t v, const char* what) {
  if (v < 0 || static_cast<std::uint64_t>(v) > std::numeric_limits<T>::max())
    throwFieldRange(what, v, std::numeric_limits<T>::max());
  return static_cast<T>(v);
}
// Appends v as a 4-byte IEEE single; InputDataNotInRangeError naming `what` unless v is finite and
// within the single-precision range (it would arrive as an infinity).
void appendF32Field(Bytes& out, double v, const char* what);

// The character codes of a text as a payload (each must be a byte).
inline Bytes textPayload(std::string_view text, const char* what) { return toPayload(codePoints(text), what); }

}  // namespace zelvo
