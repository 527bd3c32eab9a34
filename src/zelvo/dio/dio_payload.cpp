#include "zelvo/dio/dio_payload.hpp"

#include <string>

namespace zelvo {
namespace {

constexpr std::int64_t kWordMax = 0xFFFF;
// What follows the port in requests that carry nothing else.
constexpr Byte kNoArgument = 0;
// The configuration reads carry six bytes of value 1 after their words.
constexpr std::size_t kFillerCount = 6;
constexpr Byte kFillerValue = 1;

}  // namespace

int checkedWord(std::int64_t value, const char* what) {
  if (value < 0 || value > kWordMax)
    throw Error(Err::InputDataNotInRangeError,
                std::string(what) + " = " + std::to_string(value) + " is not a 16-bit word (0..65535).");
  return static_cast<int>(value);
}

Bytes portWordPayload(int port, std::span<const std::int64_t> words) {
  Bytes out = payloadOf(port);
  for (std::int64_t w : words) appendBE(out, static_cast<std::uint16_t>(checkedWord(w, "port word")));
  return out;
}

Bytes portOnly(int port) { return payloadOf(port, kNoArgument); }

Bytes withFiller(Bytes payload) {
  payload.insert(payload.end(), kFillerCount, kFillerValue);
  return payload;
}

std::vector<int> decodeLevels(const Reply& reply, std::size_t first, int width) {
  return wordToBits(reply.be<std::uint16_t>(first), width);
}

std::tuple<std::vector<int>, std::vector<int>, std::vector<int>> decodeConfig(const Reply& reply, int width) {
  constexpr std::size_t kWordBytes = sizeof(std::uint16_t);
  reply.need(kDioFirstWordIndex + kDioConfigWords * kWordBytes);  // all or nothing
  return {decodeLevels(reply, kDioFirstWordIndex, width), decodeLevels(reply, kDioFirstWordIndex + kWordBytes, width),
          decodeLevels(reply, kDioFirstWordIndex + 2 * kWordBytes, width)};
}

}  // namespace zelvo
