#include "zelvo/system/address_text.hpp"

#include <arpa/inet.h>

#include <cstdio>
#include <optional>

namespace zelvo {
namespace {

constexpr char kMACSeparator = ':';
constexpr int kHexBase = 16;
constexpr unsigned kByteMax = 255;

[[noreturn]] void notAnAddress(std::string_view text, const char* what, const char* kind) {
  throw Error(Err::InputDataNotInRangeError,
              std::string(what) + ": '" + std::string(text) + "' is not " + kind + ".");
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One field of a MAC text: hexadecimal digits only, at most 255; nullopt otherwise.
std::optional<Byte> macField(std::string_view field) {
  if (field.empty()) return std::nullopt;
  unsigned value = 0;
  for (char c : field) {
    const int d = hexDigit(c);
    if (d < 0) return std::nullopt;
    value = value * kHexBase + static_cast<unsigned>(d);
    if (value > kByteMax) return std::nullopt;
  }
  return static_cast<Byte>(value);
}

}  // namespace

Bytes ipv4Bytes(std::string_view text, const char* what) {
  const std::string s(text);
  in_addr a{};
  // The text must not hide a NUL (the parser would stop there).
  if (s.find('\0') != std::string::npos || inet_aton(s.c_str(), &a) == 0) notAnAddress(text, what, "an IPv4 address");
  return toBE(static_cast<std::uint32_t>(ntohl(a.s_addr)));
}

Bytes macBytes(std::string_view text, const char* what) {
  Bytes out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t colon = text.find(kMACSeparator, start);
    const auto field = macField(text.substr(start, colon == std::string_view::npos ? std::string_view::npos : colon - start));
    if (!field || out.size() == kMACBytes) notAnAddress(text, what, "a MAC address (six hexadecimal fields 0..ff)");
    out.push_back(*field);
    if (colon == std::string_view::npos) break;
    start = colon + 1;
  }
  if (out.size() != kMACBytes) notAnAddress(text, what, "a MAC address (six hexadecimal fields 0..ff)");
  return out;
}

std::string dottedQuad(ByteView four) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", four[0], four[1], four[2], four[3]);
  return buf;
}

std::string macText(ByteView six, bool two_digits) {
  std::string out;
  char buf[4];
  for (std::size_t i = 0; i < kMACBytes; ++i) {
    std::snprintf(buf, sizeof buf, two_digits ? "%02x" : "%x", six[i]);
    if (i > 0) out += kMACSeparator;
    out += buf;
  }
  return out;
}

}  // namespace zelvo
