// Fuzz entry point of the frame splitter: the first input byte chooses how the rest is cut into
// reads; FrameSplitter and the documented algorithm must cut exactly the same frames after every
// read (support/split_check.hpp). A difference aborts with a description of it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "support/split_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const zelvo::ByteView bytes(data + 1, size - 1);
  // Read sizes from a small generator seeded by the first byte: 1 byte at a time, short reads,
  // or everything at once.
  std::uint32_t state = data[0];
  std::vector<std::size_t> cuts;
  for (std::size_t at = 0; at < bytes.size();) {
    state = state * 1103515245U + 12345U;
    const std::size_t step = data[0] < 32 ? 1 : data[0] < 224 ? 1 + (state >> 16) % 24 : bytes.size();
    at = std::min(bytes.size(), at + step);
    cuts.push_back(at);
  }
  if (cuts.empty()) cuts.push_back(0);
  const std::string diff = ztest::compareSplitters(bytes, cuts);
  if (!diff.empty()) {
    std::fprintf(stderr, "frame splitter differs from the reference: %s\n", diff.c_str());
    std::abort();
  }
  return 0;
}
