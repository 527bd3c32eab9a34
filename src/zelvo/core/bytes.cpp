#include "zelvo/core/bytes.hpp"

#include <algorithm>
#include <cmath>

namespace zelvo {

void requireWidth(ByteView b, std::size_t width, const char* what) {
  if (b.size() != width)
    throw Error(Err::InputDataNotInRangeError, std::string(what) + " takes exactly " +
                                                   std::to_string(width) + " bytes, got " +
                                                   std::to_string(b.size()) + ".");
}

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

void appendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

std::string decodeText(ByteView b) {
  const auto nul = std::find(b.begin(), b.end(), Byte{0});
  b = b.first(static_cast<std::size_t>(nul - b.begin()));
  std::string out;
  out.reserve(b.size());
  std::size_t i = 0;
  while (i < b.size()) {
    const Byte c = b[i];
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      ++i;
      continue;
    }
    // Lead byte: number of continuation bytes and the allowed range of the first one, so that
    // overlong forms, surrogates and values above U+10FFFF are rejected at the right byte
    // (maximal-subpart replacement).
    int need = 0;
    Byte lo = 0x80, hi = 0xBF;
    std::uint32_t cp = 0;
    if (c >= 0xC2 && c <= 0xDF) {
      need = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      need = 2;
      cp = c & 0x0F;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      need = 3;
      cp = c & 0x07;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    } else {
      out += kReplacement;
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    bool ok = true;
    for (int k = 0; k < need; ++k, ++j) {
      const Byte lower = k == 0 ? lo : Byte{0x80};
      const Byte upper = k == 0 ? hi : Byte{0xBF};
      if (j >= b.size() || b[j] < lower || b[j] > upper) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (b[j] & 0x3F);
    }
    if (ok) {
      appendUtf8(out, cp);
      i = j;
    } else {
      out += kReplacement;
      i = j;  // the maximal subpart (lead plus the valid continuations seen) becomes one U+FFFD
    }
  }
  return out;
}

std::vector<std::int64_t> codePoints(std::string_view s) {
  std::vector<std::int64_t> out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<Byte>(s[i]);
    int len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    std::uint32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k < len && i + k < s.size(); ++k) cp = (cp << 6) | (static_cast<Byte>(s[i + k]) & 0x3F);
    out.push_back(cp);
    i += static_cast<std::size_t>(len);
  }
  return out;
}

std::vector<int> setBitIndices(std::uint64_t word) {
  std::vector<int> out;
  for (int i = 0; word != 0; ++i, word >>= 1)
    if (word & 1U) out.push_back(i);
  return out;
}

std::uint64_t indicesToWord(std::span<const int> indices) {
  std::uint64_t word = 0;
  for (int i : indices) {
    if (i < 0 || i > 63)
      throw Error(Err::InputDataNotInRangeError, "Bit index " + std::to_string(i) + " is outside 0..63.");
    word |= std::uint64_t{1} << i;
  }
  return word;
}

std::vector<int> wordToBits(std::uint64_t word, int width) {
  std::vector<int> out(static_cast<std::size_t>(std::max(width, 0)));
  for (int i = 0; i < width; ++i) out[static_cast<std::size_t>(i)] = i < 64 ? static_cast<int>((word >> i) & 1U) : 0;
  return out;
}

Bytes toPayload(std::span<const std::int64_t> values, const char* what) {
  Bytes out;
  out.reserve(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    const std::int64_t v = values[i];
    if (v < 0 || v > 255)
      throw Error(Err::InputDataNotInRangeError, std::string(what) + " element " + std::to_string(i) +
                                                     " is " + std::to_string(v) +
                                                     ", not a byte (0..255).");
    out.push_back(static_cast<Byte>(v));
  }
  return out;
}

void throwFieldRange(const char* what, std::int64_t v, std::uint64_t max) {
  throw Error(Err::InputDataNotInRangeError,
              std::string(what) + " = " + std::to_string(v) + " is out of range (0.." + std::to_string(max) + ").");
}

void appendF32Field(Bytes& out, double v, const char* what) {
  if (!std::isfinite(v) || std::abs(v) > std::numeric_limits<float>::max())
    throw Error(Err::InputDataNotInRangeError, std::string(what) + " = " + std::to_string(v) +
                                                   " does not fit in a single-precision field.");
  appendF32BE(out, v);
}

}  // namespace zelvo
