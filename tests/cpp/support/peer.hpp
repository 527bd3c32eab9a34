// A scripted device on a loopback TCP port, and a frame encoder written apart from the driver's.
//
// The peer parses the requests it receives with its own few lines of code and answers according
// to a script, so the tests check the driver's bytes against an independent reading of the wire
// format. It listens on 127.0.0.1 only and serves one connection at a time (a new connection
// replaces the old one, which is what a reconnecting driver does).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "waits.hpp"

namespace ztest {

using Bytes = std::vector<std::uint8_t>;

// STX, big-endian length of code + payload, the code (two bytes from 256 on), payload, CR LF.
inline Bytes wireFrame(int code, const Bytes& payload = {}) {
  const bool wide = code >= 256;
  const std::size_t len = payload.size() + (wide ? 2 : 1);
  Bytes out{0x02, static_cast<std::uint8_t>(len >> 8), static_cast<std::uint8_t>(len & 0xFF)};
  if (wide) out.push_back(static_cast<std::uint8_t>(code >> 8));
  out.push_back(static_cast<std::uint8_t>(code & 0xFF));
  out.insert(out.end(), payload.begin(), payload.end());
  out.push_back(0x0D);
  out.push_back(0x0A);
  return out;
}

struct Request {
  int code = 0;
  Bytes payload;
  Clock::time_point at;
};

// What the peer does with one request: the bytes to send back (none: stay silent), then
// optionally close the connection.
struct Answer {
  Bytes bytes;
  bool hang_up = false;
};
// `nth` counts the earlier requests with the same code on this peer.
using Script = std::function<Answer(const Request& req, int nth)>;

// Answers every request with a frame of the same code and the given payload.
inline Script replyWith(Bytes payload) {
  return [payload](const Request& r, int) { return Answer{wireFrame(r.code, payload)}; };
}

class ScriptedPeer {
 public:
  explicit ScriptedPeer(Script script = {}) : script_(std::move(script)) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(listen_, 4) != 0 ||
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) != 0 || ::pipe(wake_) != 0)
      throw std::runtime_error("test peer: cannot listen on 127.0.0.1");
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { run(); });
  }
  ~ScriptedPeer() {
    const char stop = 1;
    (void)!::write(wake_[1], &stop, 1);
    thread_.join();
    for (int fd : {listen_, conn_, wake_[0], wake_[1]})
      if (fd >= 0) ::close(fd);
  }
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  int port() const { return port_; }

  // Sends bytes on the current connection, unasked.
  void send(const Bytes& bytes) {
    std::lock_guard lock(m_);
    if (conn_ >= 0) (void)!::send(conn_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  }
  // Ends the current connection (the peer thread notices and closes its socket).
  void hangUp() {
    std::lock_guard lock(m_);
    if (conn_ >= 0) ::shutdown(conn_, SHUT_RDWR);
  }

  std::vector<Request> requests() const {
    std::lock_guard lock(m_);
    return requests_;
  }
  // Waits until `n` connections have been accepted in all.
  bool waitForConnections(int n, std::chrono::milliseconds limit = 3000ms) const {
    std::unique_lock lock(m_);
    return cv_.wait_for(lock, limit, [&] { return connections_ >= n; });
  }
  bool waitForRequests(std::size_t n, std::chrono::milliseconds limit = 3000ms) const {
    std::unique_lock lock(m_);
    return cv_.wait_for(lock, limit, [&] { return requests_.size() >= n; });
  }

 private:
  void closeConnection() {
    if (conn_ >= 0) ::close(conn_);
    conn_ = -1;
    buffer_.clear();
  }

  void run() {
    for (;;) {
      pollfd fds[3] = {{wake_[0], POLLIN, 0}, {listen_, POLLIN, 0}, {-1, POLLIN, 0}};
      {
        std::lock_guard lock(m_);
        fds[2].fd = conn_;
      }
      if (::poll(fds, 3, -1) < 0) continue;
      if (fds[0].revents) return;
      std::lock_guard lock(m_);
      if (fds[1].revents & POLLIN) {
        const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
          closeConnection();
          conn_ = fd;
          ++connections_;
          cv_.notify_all();
        }
        continue;
      }
      if (fds[2].revents && conn_ == fds[2].fd) {
        std::uint8_t buf[4096];
        const ssize_t n = ::recv(conn_, buf, sizeof buf, 0);
        if (n <= 0) {
          closeConnection();
          continue;
        }
        buffer_.insert(buffer_.end(), buf, buf + n);
        parseRequests();
      }
    }
  }

  // The driver sends well-formed frames only; a byte that does not start one is skipped. A first
  // code byte of 48 or less starts a two-byte code (the tests use one-byte codes above 48).
  void parseRequests() {
    for (;;) {
      while (!buffer_.empty() && buffer_[0] != 0x02) buffer_.erase(buffer_.begin());
      if (buffer_.size() < 3) return;
      const std::size_t len = (std::size_t{buffer_[1]} << 8) | buffer_[2];
      if (buffer_.size() < len + 5) return;
      Request r;
      r.at = Clock::now();
      const bool wide = buffer_[3] <= 0x30;
      const std::size_t body = wide ? 5 : 4;
      const bool well_formed = body <= 3 + len && buffer_[3 + len] == 0x0D && buffer_[4 + len] == 0x0A;
      if (well_formed) {
        r.code = wide ? (buffer_[3] << 8) | buffer_[4] : buffer_[3];
        r.payload.assign(buffer_.begin() + static_cast<std::ptrdiff_t>(body),
                         buffer_.begin() + static_cast<std::ptrdiff_t>(3 + len));
      } else {
        r.code = -1;  // recorded, so that a test sees the malformed request
      }
      buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(len + 5));
      int nth = 0;
      for (const auto& earlier : requests_) nth += earlier.code == r.code;
      requests_.push_back(r);
      cv_.notify_all();
      const Answer a = script_ ? script_(r, nth) : Answer{};
      if (!a.bytes.empty()) (void)!::send(conn_, a.bytes.data(), a.bytes.size(), MSG_NOSIGNAL);
      if (a.hang_up) return closeConnection();
    }
  }

  Script script_;
  int listen_ = -1;
  int conn_ = -1;
  int wake_[2] = {-1, -1};
  int port_ = 0;
  int connections_ = 0;
  Bytes buffer_;
  std::vector<Request> requests_;
  mutable std::mutex m_;
  mutable std::condition_variable cv_;
  std::thread thread_;
};

}  // namespace ztest
