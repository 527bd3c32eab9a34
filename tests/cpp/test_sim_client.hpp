// A raw TCP client for the emulator tests. It builds request frames and reads reply frames with
// its own few lines of code, so the tests check the emulator's bytes against an independent view
// of the framing.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace simtest {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

inline Bytes frame(int code, const Bytes& payload) {
  const bool wide = code >= 256;
  const std::size_t len = payload.size() + (wide ? 2 : 1);
  Bytes out{0x02, std::uint8_t(len >> 8), std::uint8_t(len)};
  if (wide) out.push_back(std::uint8_t(code >> 8));
  out.push_back(std::uint8_t(code));
  out.insert(out.end(), payload.begin(), payload.end());
  out.push_back(0x0D);
  out.push_back(0x0A);
  return out;
}

inline Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

struct Frame {
  int code = 0;
  Bytes payload;
};

class RawClient {
 public:
  RawClient(const std::string& host, int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, host.c_str(), &sa.sin_addr);
    if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)
      throw std::runtime_error("cannot connect to " + host + ":" + std::to_string(port));
  }
  ~RawClient() {
    if (fd_ >= 0) ::close(fd_);
  }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  void send(const Bytes& bytes) const {
    if (::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
      throw std::runtime_error("send failed");
  }
  void request(int code, const Bytes& payload = {}) const { send(frame(code, payload)); }

  // One read: the bytes of one recv(), empty on time-out, nullopt when the peer closed.
  std::optional<Bytes> readSome(std::chrono::milliseconds timeout) const {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return Bytes{};
    std::uint8_t buf[4096];
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) return std::nullopt;
    return Bytes(buf, buf + n);
  }

  // Exactly n bytes (fewer on time-out or close).
  Bytes readExactly(std::size_t n, std::chrono::milliseconds timeout = 2000ms) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (pending_.size() < n) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left <= 0ms) break;
      const auto got = readSome(left);
      if (!got) break;
      pending_.insert(pending_.end(), got->begin(), got->end());
    }
    const std::size_t take = std::min(n, pending_.size());
    Bytes out(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(take));
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(take));
    return out;
  }

  // One reply frame; the stream must be positioned at its start byte. nullopt on time-out.
  std::optional<Frame> readFrame(std::chrono::milliseconds timeout = 2000ms) {
    const Bytes head = readExactly(3, timeout);
    if (head.size() < 3) {
      pending_.insert(pending_.begin(), head.begin(), head.end());
      return std::nullopt;
    }
    if (head[0] != 0x02) throw std::runtime_error("reply does not start with STX");
    const std::size_t len = std::size_t(head[1]) << 8 | head[2];
    const Bytes rest = readExactly(len + 2, timeout);
    if (rest.size() != len + 2 || rest[len] != 0x0D || rest[len + 1] != 0x0A)
      throw std::runtime_error("incomplete or unterminated reply");
    Frame f;
    const bool wide = rest[0] <= 48;
    f.code = wide ? (rest[0] << 8 | rest[1]) : rest[0];
    f.payload.assign(rest.begin() + (wide ? 2 : 1), rest.begin() + static_cast<std::ptrdiff_t>(len));
    return f;
  }

  // Request and reply; the reply must carry the request's code.
  Bytes exchange(int code, const Bytes& payload = {}) {
    request(code, payload);
    const auto reply = readFrame();
    if (!reply) throw std::runtime_error("no reply to command " + std::to_string(code));
    if (reply->code != code) throw std::runtime_error("reply carries code " + std::to_string(reply->code));
    return reply->payload;
  }

  // True when the peer closes the connection within the time-out.
  bool closedWithin(std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left <= 0ms) return false;
      if (!readSome(left)) return true;
    }
  }

 private:
  int fd_ = -1;
  Bytes pending_;
};

}  // namespace simtest
