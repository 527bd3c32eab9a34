// CANFrame: one CAN 2.0B frame as a plain value (identifier, flags, eight data bytes) and its
// 12-byte wire form: the 32-bit identifier word, then the data.
//
// Identifier word (bit 0 least significant): standard frames carry the 11-bit identifier in bits
// 21..31; extended frames identifier bits 18..28 in bits 21..31 and bits 0..17 in bits 0..17, with
// bit 19 set. Bit 20 marks a remote frame. The class checks nothing: an identifier too wide for its
// format is cut by the word (the CAN module refuses those before they are sent).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zelvo {

inline constexpr std::size_t kCanDataBytes = 8;
inline constexpr std::size_t kCanIdBytes = 4;
inline constexpr std::size_t kCanWireBytes = kCanIdBytes + kCanDataBytes;
inline constexpr std::int64_t kCanMaxStandardId = 0x7FF;
inline constexpr std::int64_t kCanMaxExtendedId = 0x1FFFFFFF;

struct CANFrame {
  std::int64_t id = 0;
  bool extended_id = false;
  bool remote = false;
  std::vector<std::int64_t> data;          // exactly 8 after regularizeData
  std::vector<std::int64_t> id_in_list;    // the identifier word's 4 bytes (setID)
  std::vector<std::int64_t> frame_in_list; // id_in_list followed by data: the wire form

  CANFrame() : CANFrame(0) {}
  explicit CANFrame(std::int64_t id_, bool extended_id = false, bool remote = false,
                    std::vector<std::int64_t> data = {});

  // The data followed by eight zeros, cut to its first eight elements.
  static std::vector<std::int64_t> regularizeData(std::vector<std::int64_t> data);
  // Recomputes id_in_list and frame_in_list from id, extended_id, remote and data.
  void setID();
  // The identifier word of id, extended_id and remote.
  std::uint32_t idWord() const;
  // A frame from a received row: the identifier word in its first 4 elements, data from element 4
  // on (at most 8). InputDataNotInRangeError when the row has fewer than 4 elements.
  static CANFrame fromU8List(std::span<const std::int64_t> row);
  static CANFrame fromWire(std::span<const std::uint8_t> row);
  // "CANFrame(id=291, extended_id=False, remote=False, data=[1, 2, 0, 0, 0, 0, 0, 0])"
  std::string text() const;

  friend bool operator==(const CANFrame& a, const CANFrame& b) {
    return a.id == b.id && a.extended_id == b.extended_id && a.remote == b.remote && a.data == b.data;
  }
};

}  // namespace zelvo
