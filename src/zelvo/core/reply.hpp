// Bounds-checked reading of a reply payload. A reply shorter than an operation needs raises
// FirmwareOtherError naming the operation and both lengths; it is never read out of bounds.
#pragma once

#include <string>
#include <vector>

#include "zelvo/core/bytes.hpp"

namespace zelvo {

class Reply {
 public:
  Reply(const Bytes& payload, const char* operation) : b_(payload), op_(operation) {}

  std::size_t size() const { return b_.size(); }
  // Throws unless the reply holds at least n bytes.
  void need(std::size_t n) const;
  Byte at(std::size_t i) const {
    need(i + 1);
    return b_[i];
  }
  // Bytes [first, first + count).
  ByteView span(std::size_t first, std::size_t count) const {
    need(first + count);
    return ByteView(b_).subspan(first, count);
  }
  // The whole reply, which must be exactly n bytes long (a converter of that width that takes no
  // trailing byte); FirmwareOtherError naming the operation otherwise.
  ByteView exactly(std::size_t n) const;
  // Bytes from `first` to the end (empty when the reply ends exactly there).
  ByteView from(std::size_t first) const {
    need(first);
    return ByteView(b_).subspan(first);
  }
  template <std::integral T>
  T be(std::size_t first) const {
    return readBE<T>(span(first, sizeof(T)));
  }
  std::vector<int> list() const { return {b_.begin(), b_.end()}; }
  ByteView all() const { return b_; }

  // The status convention: the firmware status at `index` through checkFirmwareError, a failure
  // as its negative code. A reply too short to hold the status gives FirmwareOtherError's code.
  int status(std::size_t index) const;

 private:
  const Bytes& b_;
  const char* op_;
};

}  // namespace zelvo
