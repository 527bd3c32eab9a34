// A scripted discovery responder on loopback: a datagram socket on 127.0.0.1 that records every
// request frame it receives and answers each with the datagrams its script gives, sent to
// 127.0.0.1 at the answer port. It parses requests with its own few lines, apart from the driver.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "peer.hpp"

namespace ztest {

// addr:port, the address in host byte order.
inline sockaddr_in endpoint(std::uint32_t addr, int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(addr);
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  return a;
}

struct Datagram {
  int code = 0;
  Bytes payload;
  std::string source;  // the sender's address
};

class UdpPeer {
 public:
  // The answers (frames) to send back for one request; `nth` counts earlier requests.
  using Script = std::function<std::vector<Bytes>(const Datagram& req, int nth)>;

  UdpPeer(int answer_port, Script script) : answer_port_(answer_port), script_(std::move(script)) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = endpoint(INADDR_LOOPBACK, 0);
    socklen_t len = sizeof a;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0 || ::pipe(wake_) != 0)
      throw std::runtime_error("udp peer: cannot bind 127.0.0.1");
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { run(); });
  }
  ~UdpPeer() {
    const char stop = 1;
    (void)!::write(wake_[1], &stop, 1);
    thread_.join();
    for (int fd : {fd_, wake_[0], wake_[1]}) ::close(fd);
  }
  UdpPeer(const UdpPeer&) = delete;
  UdpPeer& operator=(const UdpPeer&) = delete;

  int port() const { return port_; }
  std::vector<Datagram> requests() const {
    std::lock_guard lock(m_);
    return requests_;
  }
  bool waitForRequests(std::size_t n, std::chrono::milliseconds limit = 3000ms) const {
    std::unique_lock lock(m_);
    return cv_.wait_for(lock, limit, [&] { return requests_.size() >= n; });
  }

 private:
  void run() {
    pollfd fds[2] = {{wake_[0], POLLIN, 0}, {fd_, POLLIN, 0}};
    for (;;) {
      if (::poll(fds, 2, -1) < 0) continue;
      if (fds[0].revents) return;
      std::uint8_t buf[2048];
      sockaddr_in from{};
      socklen_t len = sizeof from;
      const ssize_t n = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n < 5) continue;
      // One frame per datagram: STX, length, code (two bytes when the first is 48 or less), payload, CR LF.
      const bool wide = buf[3] <= 0x30;
      Datagram d;
      d.code = wide ? (buf[3] << 8) | buf[4] : buf[3];
      d.payload.assign(buf + (wide ? 5 : 4), buf + n - 2);
      char text[INET_ADDRSTRLEN] = {};
      inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
      d.source = text;
      int nth = 0;
      {
        std::lock_guard lock(m_);
        for (const auto& r : requests_) nth += r.code == d.code;
        requests_.push_back(d);
      }
      cv_.notify_all();
      const sockaddr_in to = endpoint(INADDR_LOOPBACK, answer_port_);
      for (const Bytes& frame : script_ ? script_(d, nth) : std::vector<Bytes>{})
        (void)!::sendto(fd_, frame.data(), frame.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
  }

  int answer_port_;
  Script script_;
  int fd_ = -1;
  int wake_[2] = {-1, -1};
  int port_ = 0;
  std::vector<Datagram> requests_;
  mutable std::mutex m_;
  mutable std::condition_variable cv_;
  std::thread thread_;
};

}  // namespace ztest
