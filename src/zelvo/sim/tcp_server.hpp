// TCP transport of one emulated device: a command-channel listener (and, for Wi-Fi products, a
// data-channel listener) on a loopback address, any number of client connections, and one thread
// that runs a poll() loop over all of them. Idle, the thread sleeps in poll() without a time-out;
// the only timed wake-ups are replies scheduled for later (delays, split writes).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "zelvo/sim/faults.hpp"
#include "zelvo/sim/firmware.hpp"
#include "zelvo/sim/stream_gate.hpp"

namespace zelvo::sim {

// A listener could not be set up (address in use, no permission for ports below 1024, ...).
// code() carries the errno.
class ListenError : public std::system_error {
 public:
  ListenError(int err, const std::string& what) : std::system_error(err, std::generic_category(), what) {}
};

struct ServerOptions {
  std::string host = "127.0.0.1";  // any 127.0.0.0/8 address
  int port = 0;                     // command channel; 0 picks a free port
  bool data_channel = false;
  int data_port = 0;                // data channel; 0 picks a free port
};

class TcpDeviceServer {
 public:
  // Binds the listener(s) and starts serving. Throws ListenError when a listener cannot be set up
  // and std::invalid_argument for a host outside 127.0.0.0/8 or a port outside 0..65535.
  TcpDeviceServer(Firmware& fw, FaultPlan& faults, const ServerOptions& opts);
  ~TcpDeviceServer();
  TcpDeviceServer(const TcpDeviceServer&) = delete;
  TcpDeviceServer& operator=(const TcpDeviceServer&) = delete;

  // Closes every connection and listener and joins the thread. Idempotent.
  void stop();
  bool running() const { return !stopped_.load(); }

  const std::string& host() const { return host_; }
  int port() const { return port_; }
  int dataPort() const { return data_port_; }  // 0 without a data channel

  // Closes every client connection of both channels now; the listeners stay open. Returns once
  // the connections are closed.
  void dropConnections();
  // A reboot: closes every connection and both listeners now and listens again on the same ports
  // once `seconds` have passed (connects meanwhile are refused). Returns at once.
  void goOffline(double seconds);
  std::size_t connectionCount() const { return connections_.load(); }
  // Writes that completed a frame or a piece of one, so far (a split reply counts each piece).
  std::uint64_t writesCompleted() const { return writes_.load(); }

  // Sends a stream packet (no request, no faults) to every data-channel connection, or to every
  // command-channel connection when the device has no data channel. Callable from any thread.
  // Packets emitted before a request's handler returns go out before that request's replies.
  void sendStream(Reply packet);
  // Sends a frame no request asked for (a reply out of turn) on the command channel of every
  // connection. Like stream packets, such frames are dropped for a client that leaves too many
  // unread.
  void sendUnsolicited(Reply packet);

 private:
  struct Chunk;
  struct Connection;

  void run();
  void wake();
  void serviceCrossThreadWork();
  void queueStreams();
  // Frames nobody asked for go to the connections of one channel (data or command).
  void queueUnasked(const std::vector<Reply>& packets, bool to_data);
  void publishBacklog();
  void acceptFrom(int listener, bool data_channel);
  void readFrom(Connection& c);
  void answer(Connection& c, const Request& req);
  void schedule(Connection& c, Bytes frame, const ReplyShaping& shaping);
  void flush(Connection& c);
  void closeConnection(Connection& c);
  // Listens again after a reboot; false (try again later) when a port cannot be bound yet.
  bool listenAgain();
  int pollTimeoutMs() const;

  Firmware& fw_;
  FaultPlan& faults_;
  std::string host_;
  int port_ = 0;
  int data_port_ = 0;
  int cmd_listener_ = -1;
  int data_listener_ = -1;
  int wake_fd_ = -1;

  std::vector<std::unique_ptr<Connection>> conns_;  // loop thread only
  std::atomic<std::size_t> connections_{0};
  std::atomic<std::uint64_t> writes_{0};
  std::atomic<bool> stopping_{false};
  std::atomic<bool> stopped_{false};

  // Work handed to the loop by other threads.
  mutable std::mutex cross_mutex_;
  std::condition_variable cross_cv_;
  std::uint64_t drops_requested_ = 0;
  std::uint64_t drops_done_ = 0;
  std::optional<double> offline_seconds_;  // a reboot asked for
  std::optional<std::chrono::steady_clock::time_point> listen_again_at_;  // loop thread only
  std::vector<Reply> streams_;
  std::vector<Reply> unsolicited_;
  std::size_t pending_stream_bytes_ = 0;  // payload bytes in streams_
  std::shared_ptr<StreamGate> gate_;

  std::mutex stop_mutex_;
  std::thread thread_;
  std::atomic<std::thread::id> loop_id_{};
};

}  // namespace zelvo::sim
