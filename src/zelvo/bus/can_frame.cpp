#include "zelvo/bus/can_frame.hpp"

#include "zelvo/core/errors.hpp"

namespace zelvo {
namespace {

constexpr int kStandardShift = 21;                  // standard identifier: bits 21..31
constexpr std::uint32_t kExtendedHighMask = 0x1FFC0000;  // identifier bits 18..28 ...
constexpr int kExtendedHighShift = 3;                    // ... move to bits 21..31
constexpr std::uint32_t kExtendedLowMask = 0x3FFFF;      // identifier bits 0..17 stay
constexpr std::uint32_t kWordHighMask = 0xFFE00000;
constexpr std::uint32_t kExtendedFlag = 0x80000;         // bit 19
constexpr std::uint32_t kRemoteFlag = 0x100000;          // bit 20
constexpr int kStandardIdShiftInHalfWord = 5;            // bytes 0..1 hold the standard id << 5
// The flags seen in byte 1 of the wire form (word bits 16..23).
constexpr std::uint8_t kExtendedBitInByte1 = 1u << 3;
constexpr std::uint8_t kRemoteBitInByte1 = 1u << 4;

std::string boolText(bool b) { return b ? "True" : "False"; }

CANFrame fromBytes(std::span<const std::int64_t> row) {
  if (row.size() < kCanIdBytes)
    throw Error(Err::InputDataNotInRangeError,
                "A CAN frame row needs at least " + std::to_string(kCanIdBytes) + " elements; this one has " +
                    std::to_string(row.size()) + ".");
  const auto b = [&row](std::size_t i) { return static_cast<std::uint32_t>(row[i] & 0xFF); };
  const std::uint32_t word = b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3);
  const bool extended = (b(1) & kExtendedBitInByte1) != 0;
  const bool remote = (b(1) & kRemoteBitInByte1) != 0;
  const std::int64_t id = extended ? ((word & kWordHighMask) >> kExtendedHighShift) | (word & kExtendedLowMask)
                                   : (b(0) << 8 | b(1)) >> kStandardIdShiftInHalfWord;
  std::vector<std::int64_t> data;
  if (row.size() > kCanIdBytes) {
    const auto tail = row.subspan(kCanIdBytes, std::min(row.size() - kCanIdBytes, kCanDataBytes));
    data.assign(tail.begin(), tail.end());
  }
  return CANFrame(id, extended, remote, std::move(data));
}

}  // namespace

CANFrame::CANFrame(std::int64_t id_, bool extended, bool remote_frame, std::vector<std::int64_t> bytes)
    : id(id_), extended_id(extended), remote(remote_frame), data(regularizeData(std::move(bytes))) {
  setID();
}

std::vector<std::int64_t> CANFrame::regularizeData(std::vector<std::int64_t> bytes) {
  bytes.resize(std::min(bytes.size(), kCanDataBytes));
  bytes.resize(kCanDataBytes, 0);
  return bytes;
}

std::uint32_t CANFrame::idWord() const {
  // The identifier cast to 32 bits first, as the word is sent.
  const auto raw = static_cast<std::uint32_t>(id);
  std::uint32_t word = extended_id ? ((raw & kExtendedHighMask) << kExtendedHighShift) | (raw & kExtendedLowMask) | kExtendedFlag
                                   : static_cast<std::uint32_t>(static_cast<std::uint64_t>(id) << kStandardShift);
  if (remote) word |= kRemoteFlag;
  return word;
}

void CANFrame::setID() {
  const std::uint32_t word = idWord();
  id_in_list = {word >> 24 & 0xFF, word >> 16 & 0xFF, word >> 8 & 0xFF, word & 0xFF};
  frame_in_list = id_in_list;
  frame_in_list.insert(frame_in_list.end(), data.begin(), data.end());
}

CANFrame CANFrame::fromU8List(std::span<const std::int64_t> row) { return fromBytes(row); }

CANFrame CANFrame::fromWire(std::span<const std::uint8_t> row) {
  std::vector<std::int64_t> values(row.begin(), row.end());
  return fromBytes(values);
}

std::string CANFrame::text() const {
  std::string list;
  for (std::int64_t v : data) list += (list.empty() ? "" : ", ") + std::to_string(v);
  return "CANFrame(id=" + std::to_string(id) + ", extended_id=" + boolText(extended_id) +
         ", remote=" + boolText(remote) + ", data=[" + list + "])";
}

}  // namespace zelvo
