// IPv4 and MAC addresses as texts and as the bytes payloads carry: the network, discovery and SNTP
// modules check an address text before anything is sent and format the bytes a reply holds.
#pragma once

#include <string>
#include <string_view>

#include "zelvo/core/bytes.hpp"

namespace zelvo {

inline constexpr std::size_t kIPv4Bytes = 4;
inline constexpr std::size_t kMACBytes = 6;

// The four bytes of an IPv4 address text, in the order written. Every form the standard
// dotted-quad parser takes is accepted ("10.1", "0x7f.1" ...); anything else raises
// InputDataNotInRangeError naming `what`.
Bytes ipv4Bytes(std::string_view text, const char* what);

// The six bytes of a MAC address text: exactly six colon-separated hexadecimal fields, each
// 0..255 ("0:a:35:1:2:ff", "00:0A:35:01:02:FF"); anything else raises InputDataNotInRangeError
// naming `what`.
Bytes macBytes(std::string_view text, const char* what);

// "a.b.c.d" of the first four bytes.
std::string dottedQuad(ByteView four);

// The six bytes joined by ":" in lower-case hexadecimal, two digits each when `two_digits`
// ("00:0a:35:01:02:ff"), else without leading zeros ("0:a:35:1:2:ff").
std::string macText(ByteView six, bool two_digits);

}  // namespace zelvo
