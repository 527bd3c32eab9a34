#include "zelvo/sim/tmc5240_map.hpp"

namespace zelvo::sim::tmc {

const Register* findRegister(int address) {
  for (const Register& r : kRegisters)
    if (r.address == address) return &r;
  return nullptr;
}

std::int64_t fitRegister(const Register& r, std::int64_t value) {
  const std::uint64_t mask = r.bits >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << r.bits) - 1;
  const std::uint64_t u = static_cast<std::uint64_t>(value) & mask;
  if (!r.is_signed) return static_cast<std::int64_t>(u);
  const std::uint64_t sign = std::uint64_t{1} << (r.bits - 1);
  return static_cast<std::int64_t>(u ^ sign) - static_cast<std::int64_t>(sign);
}

}  // namespace zelvo::sim::tmc
