#include "zelvo/core/frame.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

namespace zelvo {

namespace {

constexpr std::size_t npos = static_cast<std::size_t>(-1);

// A start byte S can only frame a terminator E with E - S - 3 <= INT16_MAX.
constexpr std::size_t kMaxFrameReach = 3 + std::numeric_limits<std::int16_t>::max();
// Bytes that can no longer start any frame are dropped once there are this many of them, so a
// peer that sends garbage forever cannot grow the stream without bound.
constexpr std::size_t kDeadPrefixLimit = 64 * 1024;
// Candidate start bytes are kept in a small vector until there are this many, then in a hash map.
constexpr std::size_t kSmallCandidates = 16;

std::int64_t signedField(Byte hi, Byte lo) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>((hi << 8) | lo));
}

// Decodes the frame that starts at s and whose terminator is at e (offsets into p).
Frame decodeFrame(const Byte* p, std::size_t s, std::size_t e) {
  const std::size_t code_at = s + CMD_INDEX_2;
  Frame f;
  std::size_t body;
  if (p[code_at] > kTwoByteCodeMaxHigh) {
    f.code = p[code_at];
    body = code_at + 1;
  } else {
    f.code = (p[code_at] << 8) | p[code_at + 1];
    body = code_at + 2;
  }
  if (body < e) f.payload.assign(p + body, p + e);
  return f;
}

}  // namespace

int commandWidth(int cmd) { return cmd < kOneByteCodeLimit ? 1 : 2; }

Bytes buildFrame(int cmd, ByteView payload) {
  if (cmd < 0 || cmd > 0xFFFF)
    throw Error(Err::InputDataNotInRangeError,
                "Command code " + std::to_string(cmd) + " is outside 0..65535.");
  const std::size_t width = static_cast<std::size_t>(commandWidth(cmd));
  const std::size_t length = payload.size() + width;
  if (length > kMaxLengthField)
    throw Error(Err::InputDataNotInRangeError,
                "Payload of " + std::to_string(payload.size()) +
                    " bytes does not fit the 16-bit length field.");
  Bytes frame;
  frame.reserve(length + 5);
  frame.push_back(CMD_STX);
  appendBE(frame, static_cast<std::uint16_t>(length));
  if (width == 1)
    frame.push_back(static_cast<Byte>(cmd));
  else
    appendBE(frame, static_cast<std::uint16_t>(cmd));
  frame.insert(frame.end(), payload.begin(), payload.end());
  frame.push_back(CMD_CR);
  frame.push_back(CMD_LF);
  return frame;
}

void FrameSplitter::setStream(Bytes s) {
  stream_ = std::move(s);
  resetCaches();
}

void FrameSplitter::setLastIndex(std::size_t i) {
  last_index_ = i;
  resetCaches();
}

void FrameSplitter::clear() {
  stream_.clear();
  last_index_ = 0;
  resetCaches();
}

void FrameSplitter::resetCaches() {
  term_scan_ = 0;
  start_scan_ = 0;
  small_.clear();
  by_target_.clear();
  indexed_ = false;
}

std::vector<Frame> FrameSplitter::feed(ByteView bytes) {
  stream_.insert(stream_.end(), bytes.begin(), bytes.end());
  return split();
}

std::size_t FrameSplitter::startFor(const Byte* p, std::size_t e) {
  // Index every start byte before e whose length field points at or beyond e; the ones pointing
  // before e can never match this or any later terminator.
  std::size_t s = start_scan_;
  while (s < e) {
    const void* hit = std::memchr(p + s, CMD_STX_2, e - s);
    if (!hit) break;
    s = static_cast<std::size_t>(static_cast<const Byte*>(hit) - p);
    const std::int64_t target = static_cast<std::int64_t>(s) + 3 + signedField(p[s + 1], p[s + 2]);
    if (target >= static_cast<std::int64_t>(e)) {
      const auto t = static_cast<std::size_t>(target);
      if (indexed_) {
        by_target_.try_emplace(t, s);
      } else {
        small_.emplace_back(t, s);
        if (small_.size() > kSmallCandidates) {
          for (const auto& [tt, ss] : small_) by_target_.try_emplace(tt, ss);
          small_.clear();
          indexed_ = true;
        }
      }
    }
    ++s;
  }
  start_scan_ = e;
  if (indexed_) {
    const auto it = by_target_.find(e);
    return it == by_target_.end() ? npos : it->second;
  }
  std::size_t found = npos;
  for (const auto& [t, start] : small_)
    if (t == e) {
      found = start;
      break;
    }
  // Candidates pointing at or before e are spent.
  std::erase_if(small_, [e](const auto& c) { return c.first <= e; });
  return found;
}

std::vector<Frame> FrameSplitter::split() {
  std::vector<Frame> frames;
  // Frames are cut by advancing `head` over the consumed prefix; the buffer is compacted once at
  // the end, so many frames in one read cost one move, not one each.
  std::size_t head = 0;
  while (head < stream_.size()) {
    const Byte* p = stream_.data() + head;
    const std::size_t size = stream_.size() - head;
    std::size_t from = std::max(last_index_, term_scan_);
    std::size_t e = npos;
    while (from + 1 < size) {
      const void* hit = std::memchr(p + from, CMD_CR_2, size - 1 - from);
      if (!hit) break;
      const auto at = static_cast<std::size_t>(static_cast<const Byte*>(hit) - p);
      if (p[at + 1] == CMD_LF_2) {
        e = at;
        break;
      }
      from = at + 1;
    }
    if (e == npos) {
      // No terminator yet; a CR in the last byte may still get its LF.
      term_scan_ = std::max(last_index_, size - 1);
      break;
    }
    const std::size_t s = startFor(p, e);
    if (s == npos) {
      last_index_ = e + 1;
      term_scan_ = e + 1;
      continue;
    }
    frames.push_back(decodeFrame(p, s, e));
    head += e + 2;
    last_index_ = 0;
    resetCaches();
  }
  // Bytes that can no longer start any frame (see kMaxFrameReach) go with the consumed prefix
  // once there are enough of them to matter.
  std::size_t drop = head;
  if (term_scan_ > kMaxFrameReach + kDeadPrefixLimit) {
    const std::size_t dead = term_scan_ - kMaxFrameReach;
    drop += dead;
    last_index_ -= std::min(last_index_, dead);
    resetCaches();
  }
  if (drop > 0) stream_.erase(stream_.begin(), stream_.begin() + static_cast<std::ptrdiff_t>(drop));
  return frames;
}

std::vector<Frame> splitReference(Bytes& stream, std::size_t& last_index) {
  std::vector<Frame> frames;
  if (stream.empty()) return frames;
  for (;;) {
    std::size_t e = npos;
    for (std::size_t i = last_index; i + 1 < stream.size(); ++i)
      if (stream[i] == CMD_CR_2 && stream[i + 1] == CMD_LF_2) {
        e = i;
        break;
      }
    if (e == npos) return frames;
    std::size_t s = npos;
    for (std::size_t i = 0; i < e; ++i) {
      if (stream[i] != CMD_STX_2) continue;
      const std::int64_t expect = static_cast<std::int64_t>(e) - static_cast<std::int64_t>(i) - 3;
      if (signedField(stream[i + 1], stream[i + 2]) == expect) {
        s = i;
        break;
      }
    }
    if (s == npos) {
      last_index = e + 1;
      continue;
    }
    frames.push_back(decodeFrame(stream.data(), s, e));
    stream.erase(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(e + 2));
    last_index = 0;
  }
}

}  // namespace zelvo
