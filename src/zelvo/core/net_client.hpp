// Network transports: the TCP command/data channel and the UDP discovery socket.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "zelvo/core/client.hpp"

namespace zelvo {

class NetworkClient : public Client {
 public:
  ~NetworkClient() override;

  ReadResult read(Byte* buf, std::size_t capacity) override;
  void send(ByteView frame) override;
  void interrupt() override;
  bool isOpen() const override;

  // Read time-out in seconds for later reads (none: block until data); only while a socket is open.
  void setTimeout(std::optional<double> seconds);
  // Shuts the socket down both ways and closes it. The socket is gone afterwards even when the
  // shutdown fails; a real failure (not "was not connected") then raises NetworkConnectionLostError.
  void disconnect();
  // The open socket's descriptor, or 0 when none is open.
  int socketFd() const;

 protected:
  // Installs a freshly opened socket (closing any previous one).
  void adopt(int fd);
  int fd() const { return fd_.load(); }
  [[noreturn]] void throwReadFailure(const ReadResult& r) override;
  // What send() does with a frame once the socket is known to be open.
  virtual void sendOn(int fd, ByteView frame);

 private:
  void closeLocked();
  mutable std::mutex io_m_;  // serialises senders and socket replacement
  std::atomic<int> fd_{-1};
  std::atomic<bool> interrupted_{false};
};

class TcpClient final : public NetworkClient {
 public:
  TcpClient() = default;
  ~TcpClient() override;
  // Connects within `timeout` seconds; NetworkConnectionError on failure (the socket is closed),
  // also when abortConnects() is called meanwhile or was called before.
  void connect(const std::string& ip, int port, double timeout = CONNECTION_TIMEOUT);
  // Makes a connect in progress (a peer that drops connection attempts keeps it waiting) fail at
  // once, and every later one too: the device is closing. Any thread.
  void abortConnects();

 private:
  std::mutex abort_m_;
  bool aborted_ = false;
  int abort_fd_ = -1;  // an eventfd a connect in progress polls besides its socket
};

class UdpClient final : public NetworkClient {
 public:
  // Binds a datagram socket ("" = all interfaces); NetworkConnectionError on failure.
  void bind(const std::string& ip, int port);
  // Sends the frame to the broadcast target once from every source address, each from a socket of
  // its own that is closed whatever happens; a failure on one source does not keep the others from
  // being sent. Without a source address it is sent once from an unbound socket.
  // NetworkConnectionError when no copy could be sent, or when ZELVO_BROADCAST_LOOPBACK_ONLY is set
  // and an address is not a loopback one (broadcast_guard.hpp; then nothing is sent).
  void sendBcstPacket(ByteView frame);

  // Where broadcasts go; tests point this at a loopback address.
  std::string bcst_address = "255.255.255.255";
  int bcst_port = UDP_SEND_PORT;
  // Source addresses to send from; empty = the IPv4 addresses of the interfaces that are up.
  std::vector<std::string> bcst_sources;

 protected:
  void sendOn(int fd, ByteView frame) override;
};

// The IPv4 addresses of the interfaces that are up, loopback included (so that emulated devices on
// this machine are found too), each once.
std::vector<std::string> localIPv4Addresses();

}  // namespace zelvo
