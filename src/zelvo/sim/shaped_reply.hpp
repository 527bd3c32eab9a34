// How an emulated transport turns a reply or stream packet into the writes it sends: the bytes on
// the wire (injected garbage, then the frame) and, when a fault splits replies, the pieces they
// are cut into with their due times. Shared by the TCP and USB transports.
#pragma once

#include <chrono>
#include <optional>
#include <vector>

#include "zelvo/core/bytes.hpp"
#include "zelvo/sim/firmware.hpp"

namespace zelvo::sim {

// Gap between the pieces of a split reply, so that the host reads them one by one.
inline constexpr auto kSplitGap = std::chrono::milliseconds(1);

// `prefix` (injected garbage), then the frame of `packet`; nothing for a packet that cannot be
// framed (its payload is too long).
std::optional<Bytes> wireBytes(const Reply& packet, const Bytes& prefix = {});

struct TimedPiece {
  std::chrono::steady_clock::time_point due;
  Bytes data;
};

// `bytes` cut into `pieces` writes (at most one per byte), the first due at `due` and each next
// kSplitGap later. One piece when `pieces` <= 1.
std::vector<TimedPiece> cutIntoPieces(Bytes bytes, std::chrono::steady_clock::time_point due, int pieces);

}  // namespace zelvo::sim
