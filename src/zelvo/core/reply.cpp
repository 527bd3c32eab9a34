#include "zelvo/core/reply.hpp"

namespace zelvo {

void Reply::need(std::size_t n) const {
  if (b_.size() < n)
    throw Error(Err::FirmwareOtherError, std::string(op_) + ": the reply has " + std::to_string(b_.size()) +
                                             " bytes, " + std::to_string(n) + " needed.");
}

ByteView Reply::exactly(std::size_t n) const {
  if (b_.size() != n)
    throw Error(Err::FirmwareOtherError, std::string(op_) + ": the reply has " + std::to_string(b_.size()) +
                                             " bytes, exactly " + std::to_string(n) + " expected.");
  return b_;
}

int Reply::status(std::size_t index) const {
  if (b_.size() <= index) return errorInfo(Err::FirmwareOtherError).code;
  return statusResult(b_[index]);
}

}  // namespace zelvo
