#include "zelvo/sim/mcx514_inputs.hpp"

namespace zelvo::sim {
namespace {

std::int64_t floorMod(std::int64_t v, std::int64_t m) {
  const std::int64_t r = v % m;
  return r < 0 ? r + m : r;
}

// The first pulse position strictly beyond `from` (dir +1) or before it (dir -1).
std::int64_t nextPulse(std::int64_t from, int dir, std::int64_t offset, std::int64_t period) {
  if (dir > 0) return from + 1 + floorMod(offset - (from + 1), period);
  return from - 1 - floorMod((from - 1) - offset, period);
}

}  // namespace

bool PlacedSwitch::actuatedAt(std::int64_t p) const {
  switch (shape) {
    case Shape::Region:
      return p >= a && p <= b;
    case Shape::AtOrAbove:
      return p >= a;
    case Shape::AtOrBelow:
      return p <= a;
    case Shape::Periodic:
      return b > 0 && floorMod(p - a, b) == 0;
    case Shape::None:
      break;
  }
  return false;
}

std::optional<std::int64_t> PlacedSwitch::nextEdge(std::int64_t from, int dir, bool to) const {
  // The candidate edges of each shape in the direction of travel.
  std::optional<std::int64_t> p;
  switch (shape) {
    case Shape::Region:
      if (dir > 0) p = to ? a : b + 1;
      else p = to ? b : a - 1;
      break;
    case Shape::AtOrAbove:
      if (dir > 0 && to) p = a;
      if (dir < 0 && !to) p = a - 1;
      break;
    case Shape::AtOrBelow:
      if (dir < 0 && to) p = a;
      if (dir > 0 && !to) p = a + 1;
      break;
    case Shape::Periodic: {
      if (b <= 1) return std::nullopt;  // actuated everywhere: no edge
      // Entering: the next pulse; leaving: one step past the next pulse at or beyond `from`.
      if (to) return nextPulse(from, dir, a, b);
      return nextPulse(from - dir, dir, a, b) + dir;
    }
    case Shape::None:
      break;
  }
  if (!p || (*p - from) * dir < 1) return std::nullopt;
  return p;
}

}  // namespace zelvo::sim
