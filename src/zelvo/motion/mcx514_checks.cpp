#include "zelvo/motion/mcx514_checks.hpp"

#include <cmath>
#include <limits>
#include <string>

namespace zelvo::mcx514 {
namespace {

[[noreturn]] void outOfRange(const char* what, std::int64_t v, const char* range) {
  throw Error(Err::InputDataNotInRangeError, std::string(what) + " = " + std::to_string(v) + " is not " + range + ".");
}

template <class T>
std::int64_t fits(std::int64_t v, const char* what, const char* range) {
  if (v < std::numeric_limits<T>::min() || v > std::numeric_limits<T>::max()) outOfRange(what, v, range);
  return v;
}

}  // namespace

bool checkChoice(std::int64_t value, std::int64_t highest, Err error) {
  if (value < 0 || value > highest) throw Error(error);
  return true;
}

std::int64_t checkI32(std::int64_t v, const char* what) { return fits<std::int32_t>(v, what, "a signed 32-bit value"); }
std::int64_t checkU32(std::int64_t v, const char* what) {
  return fits<std::uint32_t>(v, what, "an unsigned 32-bit value");
}
std::int64_t checkU16(std::int64_t v, const char* what) {
  return fits<std::uint16_t>(v, what, "an unsigned 16-bit value");
}

std::int64_t checkRate(std::int64_t v, const char* what) {
  const std::int64_t magnitude = v < 0 ? -v : v;
  if (magnitude < 1 || magnitude > std::numeric_limits<std::uint32_t>::max())
    outOfRange(what, v, "1 .. 4294967295 in size");
  return v;
}

double checkPercent(double v, const char* what) {
  if (!std::isfinite(v) || v < 0)
    throw Error(Err::InputDataNotInRangeError, std::string(what) + " must be a finite percentage >= 0.");
  return v;
}

}  // namespace zelvo::mcx514
