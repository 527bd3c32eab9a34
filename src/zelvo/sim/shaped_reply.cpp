#include "zelvo/sim/shaped_reply.hpp"

#include <algorithm>
#include <stdexcept>

#include "zelvo/sim/wire.hpp"

namespace zelvo::sim {

std::optional<Bytes> wireBytes(const Reply& packet, const Bytes& prefix) {
  try {
    const Bytes frame = encodeFrame(packet.code, packet.payload);
    Bytes out = prefix;
    out.insert(out.end(), frame.begin(), frame.end());
    return out;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::vector<TimedPiece> cutIntoPieces(Bytes bytes, std::chrono::steady_clock::time_point due, int pieces) {
  const std::size_t n = std::min(static_cast<std::size_t>(std::max(pieces, 1)), std::max<std::size_t>(bytes.size(), 1));
  std::vector<TimedPiece> out;
  if (n == 1) {
    out.push_back(TimedPiece{due, std::move(bytes)});
    return out;
  }
  std::size_t at = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t end = bytes.size() * (i + 1) / n;
    out.push_back(TimedPiece{due + kSplitGap * static_cast<int>(i),
                             Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                   bytes.begin() + static_cast<std::ptrdiff_t>(end))});
    at = end;
  }
  return out;
}

}  // namespace zelvo::sim
