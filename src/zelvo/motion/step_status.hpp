// Small pieces every multi-step motion operation uses: the combined status of its steps and the
// change of some bits of a 16-bit register word.
#pragma once

#include <cstdint>

namespace zelvo {

// Every step runs whatever the earlier ones returned; the operation reports the first non-zero
// step status (a failure's negative code), or 0.
class StepStatus {
 public:
  void add(int status) {
    if (status_ == 0) status_ = status;
  }
  int value() const { return status_; }

 private:
  int status_ = 0;
};

// Bits to write into a register word: a value of 1 sets its bit, any other value clears it.
class BitEdit {
 public:
  BitEdit& bit(int index, std::int64_t value) {
    const auto b = static_cast<std::uint16_t>(1U << index);
    if (value == 1) {
      set_ = static_cast<std::uint16_t>(set_ | b);
      clear_ = static_cast<std::uint16_t>(clear_ & ~b);
    } else {
      clear_ = static_cast<std::uint16_t>(clear_ | b);
      set_ = static_cast<std::uint16_t>(set_ & ~b);
    }
    return *this;
  }
  std::uint16_t applyTo(std::uint16_t word) const { return static_cast<std::uint16_t>((word & ~clear_) | set_); }

 private:
  std::uint16_t set_ = 0, clear_ = 0;
};

}  // namespace zelvo
