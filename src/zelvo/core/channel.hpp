// One transport client of a device and the receive thread that reads it.
//
// The thread exists from construction to kill(). While the channel is closed (the device is not
// connected) it is parked on a condition variable; open() hands it a client and it reads, cuts
// frames and routes each one; close() interrupts the read in progress and returns only once the
// thread has let go of the client, so the caller can then close the socket safely.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "zelvo/core/client.hpp"

namespace zelvo {

class Channel {
 public:
  using Route = std::function<void(Frame&&)>;
  // What a read that failed or hit the end of the stream means for this transport: the text to
  // report (empty: nothing), and whether to park until the channel is reopened (a dead socket) or
  // to retry after a back-off (a transient error).
  struct ReadProblem {
    std::string report;
    bool park;
  };
  using Diagnose = std::function<ReadProblem(const ReadResult&)>;
  // Called on the receive thread when a read problem parks it: the link is dead.
  using Lost = std::function<void()>;

  Channel(std::size_t read_size, Route route, Diagnose diagnose, Lost lost = {});
  ~Channel();
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  // Starts reading `client` (the gate opens).
  void open(std::shared_ptr<Client> client);
  // Closes the gate: interrupts the read, waits until the thread is parked and returns the client
  // it was reading (null when it was not open).
  std::shared_ptr<Client> close();
  // Ends the thread (after close()); idempotent.
  void kill();

  bool isOpen() const;
  std::shared_ptr<Client> client() const;

 private:
  void run();
  void report(const std::string& text);

  const std::size_t read_size_;
  Route route_;
  Diagnose diagnose_;
  Lost lost_;

  mutable std::mutex m_;
  std::condition_variable cv_;
  std::shared_ptr<Client> client_;
  bool open_ = false;
  bool reading_ = false;
  bool parked_on_failure_ = false;
  bool killed_ = false;
  std::uint64_t generation_ = 0;  // bumps on every open/close, ends a back-off early

  // Reports are rate-limited so a failing link cannot flood the console.
  std::chrono::steady_clock::time_point report_window_{};
  int reports_in_window_ = 0;
  int suppressed_ = 0;

  std::thread thread_;
};

}  // namespace zelvo
