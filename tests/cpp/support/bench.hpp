// A network device connected to a scripted peer on loopback, and a way to run one operation in
// either family.
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "peer.hpp"
#include "zelvo/core/call.hpp"
#include "zelvo/core/console.hpp"
#include "zelvo/core/device.hpp"

namespace ztest {

struct Bench {
  explicit Bench(Script script = {}, const std::string& model = "Tavra-A")
      : peer(std::move(script)), dev(model, false) {
    dev.connect("127.0.0.1", peer.port(), false);
    peer.waitForConnections(1);  // so that bytes the peer sends unasked reach the device
  }
  ScriptedPeer peer;
  zelvo::ETHDevice dev;
};

// Runs the operation make(call) with a Call of the given family, time-out and number of sends;
// returns its value or throws what it ended with.
template <class Make>
auto runIn(bool blocking, zelvo::Device& dev, double timeout, Make make, int sends = zelvo::NUM_RETRIES) {
  if (blocking) {
    zelvo::Call call = zelvo::Call::blocking(dev, timeout);
    call.setNumRetries(sends);
    return make(call).runBlocking();
  }
  auto call = zelvo::Call::awaitable(dev, timeout);
  call->setNumRetries(sends);
  auto outcome = startAwaitable(make(*call), call).get();
  rethrow(outcome);
  return std::move(*outcome.value);
}

inline Bytes echoIn(bool blocking, zelvo::Device& dev, int code, Bytes payload, double timeout,
                    int sends = zelvo::NUM_RETRIES) {
  return runIn(blocking, dev, timeout, [&](zelvo::Call& c) { return c.echo(code, payload); }, sends);
}

// Collects the library's printed lines for the lifetime of the object.
class PrintedLines {
 public:
  PrintedLines() {
    zelvo::console::setPrinter([this](const std::string& line) {
      std::lock_guard lock(m_);
      lines_.push_back(line);
    });
  }
  ~PrintedLines() { zelvo::console::setPrinter(nullptr); }
  PrintedLines(const PrintedLines&) = delete;
  PrintedLines& operator=(const PrintedLines&) = delete;

  std::vector<std::string> lines() const {
    std::lock_guard lock(m_);
    return lines_;
  }
  // Lines containing `text`.
  int count(const std::string& text) const {
    std::lock_guard lock(m_);
    int n = 0;
    for (const auto& l : lines_) n += l.find(text) != std::string::npos;
    return n;
  }

 private:
  mutable std::mutex m_;
  std::vector<std::string> lines_;
};

}  // namespace ztest
