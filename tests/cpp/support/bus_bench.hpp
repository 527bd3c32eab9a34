// A Pellor product's bus modules on a scripted device: each row of a table runs one operation and
// compares the requests sent and the decoded result.
#pragma once

#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "as_text.hpp"
#include "bench.hpp"
#include "zelvo/system/system_module.hpp"

namespace ztest {

inline constexpr int kPinModeQuery = 127;
// After the port: 8 pins, all Idle (two pins per byte).
inline const Bytes kEightIdlePins = {8, 0x11, 0x11, 0x11, 0x11};

// Answers each command with its entry of `table` (a reply payload); the pin-mode query with the
// port and eight Idle pins unless the table lists it.
inline Script replyTable(std::map<int, Bytes> table) {
  return [table](const Request& r, int) {
    if (const auto it = table.find(r.code); it != table.end()) return Answer{wireFrame(r.code, it->second)};
    Bytes modes{r.payload.empty() ? std::uint8_t{0} : r.payload[0]};
    modes.insert(modes.end(), kEightIdlePins.begin(), kEightIdlePins.end());
    return Answer{wireFrame(r.code, modes)};
  };
}

struct Sent {
  int code;
  Bytes payload;
  friend bool operator==(const Sent&, const Sent&) = default;
};
inline void PrintTo(const Sent& s, std::ostream* os) {
  *os << s.code << ":" << format(std::vector<int>(s.payload.begin(), s.payload.end()));
}

inline std::vector<Sent> sentBy(const ScriptedPeer& peer) {
  std::vector<Sent> out;
  for (const auto& r : peer.requests()) out.push_back({r.code, r.payload});
  return out;
}

// The system module (pin modes) and module M of a product on a scripted device.
template <class M>
struct ModuleBench {
  template <class Data>
  ModuleBench(const char* product_name, const Data& data, Script script)
      : b(std::move(script), zelvo::product(product_name).model),
        sys(b.dev, zelvo::product(product_name).system),
        mod(b.dev, data) {
    b.dev.registerModule(&sys);
    b.dev.registerModule(&mod);
  }
  // The device first, as a product does: its close runs the module's close hooks.
  ~ModuleBench() { b.dev.close(false); }
  ModuleBench(const ModuleBench&) = delete;
  ModuleBench& operator=(const ModuleBench&) = delete;
  Bench b;
  zelvo::SystemModule sys;
  M mod;
};

// One operation of module M: the replies the device gives, the operation, its result as text and
// the requests it sends.
template <class M>
struct OpRow {
  const char* name;
  std::map<int, Bytes> replies;
  std::function<zelvo::Op<std::string>(M&, zelvo::Call&)> run;
  std::string result;
  std::vector<Sent> sent;
};
template <class M>
void PrintTo(const OpRow<M>& c, std::ostream* os) {
  *os << c.name;
}

// Runs a row's operation on product `product_name` with module data `data` in either family; `sent`
// receives the requests, once as many as the row expects have arrived (a request sent without
// reply may reach the device after the operation returned).
template <class M, class Data>
std::string runRow(const OpRow<M>& c, const char* product_name, const Data& data, bool blocking, std::vector<Sent>& sent) {
  ModuleBench<M> t(product_name, data, replyTable(c.replies));
  const std::string result = runIn(blocking, t.b.dev, 2.0, [&](zelvo::Call& call) { return c.run(t.mod, call); });
  t.b.peer.waitForRequests(c.sent.size(), std::chrono::milliseconds(1000));
  sent = sentBy(t.b.peer);
  return result;
}

}  // namespace ztest
