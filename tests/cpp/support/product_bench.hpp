// The modules of one product on a scripted network device, and the requests the peer received;
// for the operation tables of the module tests.
#pragma once

#include <cstring>
#include <map>
#include <ostream>
#include <utility>
#include <vector>

#include "as_text.hpp"
#include "bench.hpp"
#include "zelvo/products/product.hpp"

namespace ztest {

// Every module the product lists (as the product class builds them), on a scripted device.
struct ProductBench {
  ProductBench(const char* product, Script script) : b(std::move(script), zelvo::product(product).model) {
    zelvo::buildModules(b.dev, zelvo::product(product), modules);
  }
  Bench b;
  zelvo::ModuleSet modules;
};

// One request as the peer read it.
struct Sent {
  int code;
  Bytes payload;
  friend bool operator==(const Sent&, const Sent&) = default;
};
inline void PrintTo(const Sent& s, std::ostream* os) {
  *os << s.code << ":" << format(std::vector<int>(s.payload.begin(), s.payload.end()));
}

inline std::vector<Sent> sentTo(const ScriptedPeer& peer) {
  std::vector<Sent> out;
  for (const auto& r : peer.requests()) out.push_back({r.code, r.payload});
  return out;
}

// The requests once `expected` have arrived (an operation that awaits nothing returns before its
// request is read); with none expected, after a moment in which a stray one would have shown.
inline std::vector<Sent> sentOnceArrived(const ScriptedPeer& peer, std::size_t expected) {
  if (expected == 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  else
    eventually([&] { return peer.requests().size() >= expected; });
  return sentTo(peer);
}

inline constexpr int kPinModeQuery = 127;  // GET_PIN_MODE_OF_SLOT

// Answers each command with its entry of `table`; a pin-mode query not in the table with its port
// and 16 Idle pins; other commands with [first request byte, 0].
inline Script tableReplies(std::map<int, Bytes> table) {
  return [table](const Request& r, int) {
    if (const auto it = table.find(r.code); it != table.end()) return Answer{wireFrame(r.code, it->second)};
    const std::uint8_t first = r.payload.empty() ? std::uint8_t{0} : r.payload[0];
    if (r.code == kPinModeQuery) {
      Bytes idle{first, 16};
      idle.resize(idle.size() + 8, 0x11);
      return Answer{wireFrame(r.code, idle)};
    }
    return Answer{wireFrame(r.code, Bytes{first, 0})};
  };
}

// The four big-endian bytes of a single-precision value.
inline Bytes f32(float v) {
  std::uint32_t u;
  static_assert(sizeof u == sizeof v);
  std::memcpy(&u, &v, sizeof u);
  return {std::uint8_t(u >> 24), std::uint8_t(u >> 16), std::uint8_t(u >> 8), std::uint8_t(u)};
}

// Byte strings joined: cat({0, 1}, f32(2.5)).
template <class... B>
Bytes cat(const B&... parts) {
  Bytes out;
  (out.insert(out.end(), parts.begin(), parts.end()), ...);
  return out;
}

}  // namespace ztest
