#include "zelvo/sim/wire.hpp"

#include <stdexcept>

namespace zelvo::sim {
namespace {

// Start byte, length field and terminator around the L counted bytes.
constexpr std::size_t kOverhead = 5;
constexpr std::size_t kMaxWholeFrame = kMaxFrameLength + kOverhead;

}  // namespace

Bytes encodeFrame(int code, ByteView payload) {
  if (code < 0 || code > 0xFFFF) throw std::invalid_argument("command code out of range");
  const std::size_t code_len = code < 256 ? 1 : 2;
  const std::size_t len = code_len + payload.size();
  if (len > kMaxFrameLength) throw std::length_error("frame too long");
  Bytes out;
  out.reserve(len + kOverhead);
  out.push_back(kStx);
  appendBE(out, static_cast<std::uint16_t>(len));
  if (code_len == 1)
    out.push_back(static_cast<Byte>(code));
  else
    appendBE(out, static_cast<std::uint16_t>(code));
  out.insert(out.end(), payload.begin(), payload.end());
  out.push_back(kCr);
  out.push_back(kLf);
  return out;
}

void RequestParser::feed(ByteView bytes) {
  if (head_ > 0 && 2 * head_ >= buf_.size()) discardFront(head_);
  buf_.insert(buf_.end(), bytes.begin(), bytes.end());
}

void RequestParser::clear() {
  buf_.clear();
  head_ = 0;
  scan_ = 0;
  expected_.clear();
}

void RequestParser::noteStart(std::size_t at) {
  const std::size_t len = readBE<std::uint16_t>(ByteView(buf_).subspan(at + 1, 2));
  if (len == 0 || len > kMaxFrameLength) return;  // no command byte, or a length the host never sends
  expected_.try_emplace(at + 3 + len, at);        // the earliest start wins
}

void RequestParser::discardFront(std::size_t n) {
  buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(n));
  head_ = head_ > n ? head_ - n : 0;
  scan_ = scan_ > n ? scan_ - n : 0;
  std::unordered_map<std::size_t, std::size_t> kept;
  for (const auto& [end, start] : expected_)
    if (start >= n) kept.emplace(end - n, start - n);
  expected_ = std::move(kept);
}

std::optional<Request> RequestParser::next() {
  while (scan_ < buf_.size()) {
    const std::size_t i = scan_;
    if (buf_[i] == kStx) {
      if (i + 2 >= buf_.size()) break;  // length field still incomplete
      noteStart(i);
    } else if (buf_[i] == kCr) {
      if (i + 1 >= buf_.size()) break;  // the LF may be next
      const auto hit = buf_[i + 1] == kLf ? expected_.find(i) : expected_.end();
      if (hit != expected_.end()) {
        const std::size_t code_at = hit->second + 3;
        const std::size_t len = i - code_at;
        Request req;
        std::size_t payload_at = code_at + 1;
        if (buf_[code_at] > kHighestTwoByteLead || len == 1) {
          req.code = buf_[code_at];
        } else {
          req.code = readBE<std::uint16_t>(ByteView(buf_).subspan(code_at, 2));
          payload_at = code_at + 2;
        }
        req.payload.assign(buf_.begin() + static_cast<std::ptrdiff_t>(payload_at),
                           buf_.begin() + static_cast<std::ptrdiff_t>(i));
        // The frame and anything unclaimed before it are consumed; no start byte registered so far
        // lies beyond it.
        head_ = scan_ = i + 2;
        expected_.clear();
        return req;
      }
    }
    ++scan_;
  }
  // No start byte more than one whole frame behind the scan position can still be completed.
  if (scan_ - head_ > 2 * kMaxWholeFrame) discardFront(scan_ - kMaxWholeFrame);
  return std::nullopt;
}

}  // namespace zelvo::sim
