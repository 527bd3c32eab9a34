// The discovery transport of one emulated network device: it receives discovery requests by UDP,
// hands them to the device's NetworkFirmware and sends the answers back.
//
// Where it listens: the request port on 127.255.255.255 (broadcasts to every address of the
// loopback network) and on 255.255.255.255 (limited broadcasts, which a finder sends from its
// loopback address too), each shared with every other emulated device (SO_REUSEADDR), so one
// request reaches them all. It answers only requests that come from a loopback address, from its
// device's own address, to the answer port of the address the request came from: it never sends
// anything off this machine.
//
// Faults: requests to ignore (neither acted on nor answered, like copies lost on the way), the
// first byte of every answer, answers cut short, and how long a reboot keeps the device offline
// (its TCP connections dropped and no listener, no discovery answers).
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "zelvo/sim/network_firmware.hpp"

namespace zelvo::sim {

// The ports of the discovery protocol: requests go to the first, answers to the second.
inline constexpr int kDiscoveryRequestPort = 61557;
inline constexpr int kDiscoveryAnswerPort = 6667;

struct DiscoveryOptions {
  std::string host = "127.0.0.1";  // the device's loopback address: answers leave from it
  int request_port = kDiscoveryRequestPort;
  int answer_port = kDiscoveryAnswerPort;
};

class DiscoveryResponder {
 public:
  // Takes the device offline for that many seconds (its TCP side); called after a reboot's answer.
  using GoOffline = std::function<void(double seconds)>;
  static constexpr double kDefaultRebootSeconds = 1.0;

  // Binds the sockets and starts answering. Throws ListenError (tcp_server.hpp) when a socket
  // cannot be set up, std::invalid_argument for a host outside 127.0.0.0/8 or a port outside
  // 1..65535.
  DiscoveryResponder(NetworkFirmware& net, const DiscoveryOptions& opts, GoOffline go_offline);
  ~DiscoveryResponder();
  DiscoveryResponder(const DiscoveryResponder&) = delete;
  DiscoveryResponder& operator=(const DiscoveryResponder&) = delete;

  // Closes the sockets and joins the thread. Idempotent.
  void stop();

  int requestPort() const { return request_port_; }
  int answerPort() const { return answer_port_; }
  // False while a reboot keeps the device offline.
  bool online() const;
  // Discovery requests that arrived with this code (ignored ones and those met offline included).
  std::uint64_t requestCount(int code) const;

  // Faults; safe from any thread.
  void ignoreNext(int n);
  void setAnswerMark(Byte mark);
  Byte answerMark() const;
  // Answers are cut to this many bytes after their first (none: whole).
  void setAnswerLimit(std::optional<std::size_t> bytes);
  std::optional<std::size_t> answerLimit() const;
  void setRebootSeconds(double seconds);
  double rebootSeconds() const;
  void resetFaults();

 private:
  using Clock = std::chrono::steady_clock;
  void run();
  void serve(int fd);
  void handle(const Request& req, std::uint32_t from_addr);
  void send(int code, const Bytes& payload, std::uint32_t to_addr);

  NetworkFirmware& net_;
  GoOffline go_offline_;
  std::uint32_t host_ = 0;  // host byte order
  int request_port_ = 0;
  int answer_port_ = 0;
  int loopback_fd_ = -1, limited_fd_ = -1, answer_fd_ = -1, wake_fd_ = -1;

  mutable std::mutex m_;
  int ignore_ = 0;
  Byte mark_;
  std::optional<std::size_t> limit_;
  double reboot_seconds_ = kDefaultRebootSeconds;
  Clock::time_point offline_until_{};
  std::map<int, std::uint64_t> requests_;

  std::mutex stop_m_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace zelvo::sim
