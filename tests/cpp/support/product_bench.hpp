// The modules of one product on a scripted network device, and the requests the peer received;
// for the operation tables of the module tests.
#pragma once

#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "as_text.hpp"
#include "bench.hpp"
#include "wire_values.hpp"
#include "zelvo/products/product.hpp"

namespace ztest {

// Every module the product lists (as the product class builds them), on a scripted device.
struct ProductBench {
  ProductBench(const char* product, Script script) : b(std::move(script), zelvo::product(product).model) {
    zelvo::buildModules(b.dev, zelvo::product(product), modules);
  }
  // Closed before the modules go, as a product closes first: the device's close hooks call them.
  ~ProductBench() {
    try {
      b.dev.close(false, true);
    } catch (...) {  // a module's close failure is another test's concern
    }
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

// One operation of a product's modules: the replies the peer gives (tableReplies), the result
// as text, and the requests it sends, in that order.
using DeviceRun = std::function<zelvo::Op<std::string>(zelvo::Device&, zelvo::Call&)>;
struct OpCase {
  const char* name;
  const char* product;
  std::map<int, Bytes> replies;
  DeviceRun run;
  std::string result;
  std::vector<Sent> sent;
};
inline void PrintTo(const OpCase& c, std::ostream* os) { *os << c.name; }

// Runs the case in one family and checks the result and the requests.
inline void checkOp(const OpCase& c, bool blocking) {
  ProductBench t(c.product, tableReplies(c.replies));
  EXPECT_EQ(runIn(blocking, t.b.dev, 2.0, [&](zelvo::Call& call) { return c.run(t.b.dev, call); }), c.result);
  EXPECT_EQ(sentOnceArrived(t.b.peer, c.sent.size()), c.sent);
}

// An operation that must raise `error` (its message holding `detail`, when given); `codes_sent`:
// the requests that go out first (none, a pin-mode query, the request whose reply is too short).
struct RefusalCase {
  const char* name;
  const char* product;
  std::map<int, Bytes> replies;
  DeviceRun run;
  zelvo::Err error;
  std::vector<int> codes_sent;
  const char* detail = nullptr;
};
inline void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

inline void checkRefused(const RefusalCase& c) {
  ProductBench t(c.product, tableReplies(c.replies));
  try {
    runIn(true, t.b.dev, 2.0, [&](zelvo::Call& call) { return c.run(t.b.dev, call); });
    ADD_FAILURE() << "accepted";
  } catch (const zelvo::Error& e) {
    EXPECT_EQ(e.id(), c.error) << e.what();
    if (c.detail) {
      EXPECT_NE(std::string(e.what()).find(c.detail), std::string::npos) << e.what();
    }
  }
  std::vector<int> codes;
  for (const auto& s : sentOnceArrived(t.b.peer, c.codes_sent.size())) codes.push_back(s.code);
  EXPECT_EQ(codes, c.codes_sent);
}

// Test names of the tables: the case's name, and the family where it runs in both.
template <class P>
std::string caseName(const P& p) {
  if constexpr (requires { std::get<1>(p.param); })
    return std::string(std::get<0>(p.param).name) + (std::get<1>(p.param) ? "_blocking" : "_awaitable");
  else
    return p.param.name;
}

}  // namespace ztest
