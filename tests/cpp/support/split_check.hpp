// Differential check of the frame splitter: the same bytes, fed in the same chunks, go to a
// FrameSplitter and to splitReference (the documented algorithm written literally); both must cut
// exactly the same frames after every chunk. Shared by the property test and the fuzz entry point.
#pragma once

#include <algorithm>
#include <cstddef>
#include <sstream>
#include <string>
#include <vector>

#include "zelvo/core/frame.hpp"

namespace ztest {

// The splitter drops bytes that can no longer start a frame once that many have piled up, and only
// then; the reference keeps them. Mirrors the limit in frame.cpp.
inline constexpr std::size_t kDeadPrefixAtLeast = 64 * 1024;

inline std::string describe(const std::vector<zelvo::Frame>& frames) {
  std::ostringstream s;
  s << frames.size() << " frame(s):";
  for (const auto& f : frames) s << " (" << f.code << ", " << f.payload.size() << " bytes)";
  return s.str();
}

// Feeds bytes[cuts[i-1], cuts[i]) chunk by chunk (cuts ascending, ending at bytes.size(); an empty
// chunk is a read that returned nothing). Returns "" when both sides agree, else what differs.
inline std::string compareSplitters(zelvo::ByteView bytes, const std::vector<std::size_t>& cuts) {
  zelvo::FrameSplitter splitter;
  zelvo::Bytes ref_stream;
  std::size_t ref_last = 0;
  std::size_t from = 0;
  for (std::size_t i = 0; i < cuts.size(); ++i) {
    const auto chunk = bytes.subspan(from, cuts[i] - from);
    from = cuts[i];
    const auto got = splitter.feed(chunk);
    std::vector<zelvo::Frame> want;
    if (!chunk.empty()) {  // a read with no bytes leaves the reference untouched
      ref_stream.insert(ref_stream.end(), chunk.begin(), chunk.end());
      want = zelvo::splitReference(ref_stream, ref_last);
    }
    std::ostringstream where;
    where << "after chunk " << i << " (bytes " << (from - chunk.size()) << ".." << from << "): ";
    if (got != want) return where.str() + "splitter cut " + describe(got) + ", reference " + describe(want);
    const auto& s = splitter.stream();
    if (s.size() == ref_stream.size()) {
      if (s != ref_stream) return where.str() + "streams differ";
      if (splitter.lastIndex() != ref_last)
        return where.str() + "last index " + std::to_string(splitter.lastIndex()) + ", reference " +
               std::to_string(ref_last);
      continue;
    }
    // A dead prefix was dropped: what is left must be the reference's tail, with its last index.
    const std::size_t dropped = ref_stream.size() - std::min(ref_stream.size(), s.size());
    if (s.size() > ref_stream.size() || dropped < kDeadPrefixAtLeast ||
        !std::equal(s.begin(), s.end(), ref_stream.end() - static_cast<std::ptrdiff_t>(s.size())))
      return where.str() + "stream of " + std::to_string(s.size()) + " bytes is not a dead-prefix cut of the " +
             "reference's " + std::to_string(ref_stream.size());
    if (splitter.lastIndex() != (ref_last > dropped ? ref_last - dropped : 0))
      return where.str() + "last index after a dead-prefix cut is " + std::to_string(splitter.lastIndex());
  }
  return "";
}

}  // namespace ztest
