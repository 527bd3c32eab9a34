// A CAN frame as the emulated controller sees it, and its 12-byte wire form: a big-endian 32-bit
// identifier word, then eight data bytes. In the word, bits 21..31 hold a standard identifier, or
// the top 11 bits of an extended one whose low 18 bits sit in bits 0..17; bit 19 marks an extended
// identifier, bit 20 a remote frame.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "zelvo/core/bytes.hpp"

namespace zelvo::sim {

inline constexpr std::size_t kCanRowBytes = 12;

struct CanWireFrame {
  std::uint32_t id = 0;
  bool extended = false;
  bool remote = false;
  std::array<Byte, 8> data{};

  // The first 12 bytes of `row` (which must hold them).
  static CanWireFrame decode(ByteView row);
  void appendTo(Bytes& out) const;
  friend bool operator==(const CanWireFrame&, const CanWireFrame&) = default;
};

}  // namespace zelvo::sim
