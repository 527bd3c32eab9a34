// A bus module with received data: a scripted device that answers every command with status 0 and
// sends stream packets when a test asks, plus the warnings the module gives.
#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bus_bench.hpp"
#include "zelvo/core/console.hpp"

namespace ztest {

// Collects the library's warnings for the lifetime of the object.
class Warnings {
 public:
  Warnings() {
    zelvo::console::setWarner([this](zelvo::Err kind, const std::string& msg) {
      std::lock_guard lock(m_);
      seen_.push_back({kind, msg});
    });
  }
  ~Warnings() { zelvo::console::setWarner(nullptr); }
  Warnings(const Warnings&) = delete;
  Warnings& operator=(const Warnings&) = delete;
  int count(zelvo::Err kind) const {
    std::lock_guard lock(m_);
    int n = 0;
    for (const auto& w : seen_) n += w.first == kind;
    return n;
  }
  std::vector<std::string> messages() const {
    std::lock_guard lock(m_);
    std::vector<std::string> out;
    for (const auto& w : seen_) out.push_back(w.second);
    return out;
  }

 private:
  mutable std::mutex m_;
  std::vector<std::pair<zelvo::Err, std::string>> seen_;
};

// Status 0 to everything ([port, 0]), except the codes listed in `statuses` ([port, status]) and
// the pin-mode query (eight Idle pins); OPEN_CAN in its two-byte form gets [status].
inline Script statusScript(std::map<int, int> statuses = {}) {
  return [statuses](const Request& r, int) {
    const auto it = statuses.find(r.code);
    const auto s = static_cast<std::uint8_t>(it == statuses.end() ? 0 : it->second);
    const std::uint8_t port = r.payload.empty() ? std::uint8_t(r.code & 0xFF) : r.payload[0];
    if (r.code == kPinModeQuery) {
      Bytes modes{port};
      modes.insert(modes.end(), kEightIdlePins.begin(), kEightIdlePins.end());
      return Answer{wireFrame(r.code, modes)};
    }
    if (r.payload.empty()) return Answer{wireFrame(r.code, {s})};  // OPEN_CAN as 0x3000 | port
    return Answer{wireFrame(r.code, {port, s})};
  };
}

// An operation of module M that must be refused before anything is sent, with the error it raises.
template <class M>
struct RefusalRow {
  const char* name;
  std::function<zelvo::Op<std::string>(M&, zelvo::Call&)> run;
  zelvo::Err error;
};
template <class M>
void PrintTo(const RefusalRow<M>& c, std::ostream* os) {
  *os << c.name;
}

// Runs a refused operation (blocking family) on product `product_name` with module data `data`:
// the error it raised (nullopt when it was accepted); `sent` receives what reached the device.
template <class M, class Data>
std::optional<zelvo::Err> runRefusal(const RefusalRow<M>& c, const char* product_name, const Data& data,
                                     std::vector<Sent>& sent) {
  constexpr auto kLateRequest = std::chrono::milliseconds(20);  // a request sent would be there by now
  ModuleBench<M> t(product_name, data, statusScript());
  std::optional<zelvo::Err> raised;
  try {
    runIn(true, t.b.dev, 2.0, [&](zelvo::Call& call) { return c.run(t.mod, call); });
  } catch (const zelvo::Error& e) {
    raised = e.id();
  }
  std::this_thread::sleep_for(kLateRequest);
  sent = sentBy(t.b.peer);
  return raised;
}

}  // namespace ztest
