#include "zelvo/sim/mcx514_map.hpp"

namespace zelvo::sim::mcx {

const Register* findRegister(int code) {
  for (const Register& r : kRegisters)
    if (r.code == code) return &r;
  return nullptr;
}

std::int64_t decodeData(Form form, const std::uint8_t* d) {
  const std::uint32_t u32 = (std::uint32_t{d[0]} << 24) | (std::uint32_t{d[1]} << 16) | (std::uint32_t{d[2]} << 8) | d[3];
  const auto low16 = static_cast<std::uint16_t>(u32 & 0xFFFF);
  switch (form) {
    case Form::U32:
    case Form::Pair16:  // kept as the 32-bit word: high half first
      return u32;
    case Form::I32:
      return static_cast<std::int32_t>(u32);
    case Form::U16:
    case Form::Bytes2:
      return low16;
    case Form::I16:
      return static_cast<std::int16_t>(low16);
    case Form::Flag:
      return d[3];
    case Form::None:
      break;
  }
  return 0;
}

}  // namespace zelvo::sim::mcx
