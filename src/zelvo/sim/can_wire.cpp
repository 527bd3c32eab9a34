#include "zelvo/sim/can_wire.hpp"

namespace zelvo::sim {
namespace {

constexpr int kTopShift = 21;              // word bits 21..31
constexpr int kLowBits = 18;               // extended identifier bits 0..17 stay where they are
constexpr std::uint32_t kLowMask = (1u << kLowBits) - 1;
constexpr std::uint32_t kExtendedBit = 1u << 19;
constexpr std::uint32_t kRemoteBit = 1u << 20;
constexpr std::size_t kWordBytes = 4;

}  // namespace

CanWireFrame CanWireFrame::decode(ByteView row) {
  const auto word = readBE<std::uint32_t>(row);
  CanWireFrame f;
  f.extended = (word & kExtendedBit) != 0;
  f.remote = (word & kRemoteBit) != 0;
  f.id = f.extended ? (word >> kTopShift) << kLowBits | (word & kLowMask) : word >> kTopShift;
  for (std::size_t i = 0; i < f.data.size(); ++i) f.data[i] = row[kWordBytes + i];
  return f;
}

void CanWireFrame::appendTo(Bytes& out) const {
  std::uint32_t word = extended ? (id >> kLowBits) << kTopShift | (id & kLowMask) | kExtendedBit : id << kTopShift;
  if (remote) word |= kRemoteBit;
  appendBE(out, word);
  out.insert(out.end(), data.begin(), data.end());
}

}  // namespace zelvo::sim
