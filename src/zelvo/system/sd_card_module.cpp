#include "zelvo/system/sd_card_module.hpp"

#include "zelvo/core/reply.hpp"
#include "zelvo/core/status_exchange.hpp"

namespace zelvo {
namespace {

constexpr std::size_t kStatusAt = 0;
constexpr std::size_t kDataAt = 1;
constexpr std::size_t kCapacityBytes = 4;

// A length byte followed by the character codes (each a byte, at most kSDMaxLength of them).
Bytes lengthAndCodes(const std::vector<std::int64_t>& codes, const char* what) {
  if (codes.size() > kSDMaxLength)
    throw Error(Err::InputDataNotInRangeError, std::string(what) + " has " + std::to_string(codes.size()) +
                                                   " characters; at most " + std::to_string(kSDMaxLength) + " fit.");
  Bytes out = payloadOf(codes.size());
  const Bytes body = toPayload(codes, what);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

// The codes of a text, or of a list of one-character texts.
std::vector<std::int64_t> codesOf(const SDWriteData& data) {
  if (const auto* text = std::get_if<std::string>(&data)) return codePoints(*text);
  std::vector<std::int64_t> codes;
  for (const std::string& item : std::get<std::vector<std::string>>(data)) {
    const auto one = codePoints(item);
    if (one.size() != 1)
      throw Error(Err::InputDataNotInRangeError, "write_data: every item must be one character, not '" + item + "'.");
    codes.push_back(one[0]);
  }
  return codes;
}

// The character whose code is the byte, as UTF-8.
std::string charOf(Byte b) {
  constexpr Byte kAscii = 0x80;
  if (b < kAscii) return std::string(1, static_cast<char>(b));
  return {static_cast<char>(0xC0 | (b >> 6)), static_cast<char>(0x80 | (b & 0x3F))};
}

}  // namespace

SDCardModule::SDCardModule(Device&) {}

Op<int> SDCardModule::open(Call& call) {
  co_return co_await echoStatus(call, SD_OPEN, {}, kStatusAt, "_SD_open");
}

Op<int> SDCardModule::close(Call& call) {
  co_return co_await echoStatus(call, SD_CLOSE, {}, kStatusAt, "_SD_close");
}

Op<std::uint32_t> SDCardModule::getStorage(Call& call) {
  const Bytes r = co_await call.echo(SD_GET_CAPACITY, {});
  co_return readBE<std::uint32_t>(Reply(r, "SD_getStorage").exactly(kCapacityBytes));
}

Op<int> SDCardModule::openFile(Call& call, std::string filename, int mode) {
  Bytes payload = payloadOf(mode);
  const Bytes name = lengthAndCodes(codePoints(filename), "filename");
  payload.insert(payload.end(), name.begin(), name.end());
  co_return co_await echoStatus(call, SD_OPEN_FILE, std::move(payload), kStatusAt, "SD_openFile");
}

Op<int> SDCardModule::writeFile(Call& call, SDWriteData write_data) {
  Bytes payload = lengthAndCodes(codesOf(write_data), "write_data");
  co_return co_await echoStatus(call, SD_WRITE_FILE, std::move(payload), kStatusAt, "SD_writeFile");
}

Op<SDReadResult> SDCardModule::readFile(Call& call, int byte_to_read) {
  if (byte_to_read < 0 || byte_to_read > kSDMaxRead)
    throw Error(Err::InputDataNotInRangeError, "byte_to_read must be 0.." + std::to_string(kSDMaxRead) + ".");
  const Bytes r = co_await call.echo(SD_READ_FILE, payloadOf(byte_to_read + 1));
  const Reply reply(r, "SD_readFile");
  if (const int status = reply.status(kStatusAt); status != 0) co_return SDReadResult(status);
  std::vector<std::string> chars;
  for (Byte b : reply.from(kDataAt)) chars.push_back(charOf(b));
  co_return SDReadResult(std::move(chars));
}

Op<int> SDCardModule::closeFile(Call& call) {
  co_return co_await echoStatus(call, SD_CLOSE_FILE, {}, kStatusAt, "SD_closeFile");
}

}  // namespace zelvo
