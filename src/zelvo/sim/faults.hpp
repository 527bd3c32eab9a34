// Fault injection for one emulated device: what a transport does to requests and replies on
// purpose, so that the host's retries, time-outs and splitter can be exercised. Also counts the
// requests that arrive. Every member is thread-safe: the setters are called by tests while the
// transport's thread consults the plan.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <vector>

#include "zelvo/core/bytes.hpp"
#include "zelvo/sim/firmware.hpp"

namespace zelvo::sim {

// How replies are to be sent right now.
struct ReplyShaping {
  std::chrono::steady_clock::duration delay{};  // before the first byte of each reply (jitter included)
  int pieces = 1;                               // separate writes per reply frame
  Bytes garbage;                                // sent in front of each reply frame
};

// A change to the reply of a command, for tests of what the host does with a failure status or a
// reply of the wrong length. It applies to the requests with the code whose payload starts with
// `prefix`; with `nth` = n > 0 only to the n-th of them from now on (then it is spent), with 0 to
// every one. The firmware still carries the request out: only the answer changes.
struct ReplyEdit {
  int code = 0;
  Bytes prefix;
  int nth = 0;
  std::optional<std::pair<std::size_t, Byte>> set_byte;  // (index, value), e.g. a status byte
  std::optional<std::size_t> truncate_to;                 // cut the payload to this many bytes
  Bytes append;                                           // then add these bytes at its end
};

class FaultPlan {
 public:
  // The next n requests of this code get no reply (they are still counted). Adds to any ignores
  // still pending for the code.
  void ignoreNext(int code, int n);
  // Each reply waits `delay` plus a random part of up to `jitter` (uniform); replies still leave
  // in the order their requests came.
  void delayReplies(std::chrono::duration<double> delay, std::chrono::duration<double> jitter = {});
  // pieces >= 1; 1 sends each frame in one write.
  void splitReplies(int pieces);
  void prependGarbage(Bytes garbage);
  // Queues a reply edit (edits for the same request apply in the order they were queued).
  void editReplies(ReplyEdit edit);
  // Back to honest behaviour. Request counts are kept.
  void reset();

  // Transport side: records that a request arrived; false when it is to be ignored.
  bool admit(int code);
  // How to send the reply to the request that just arrived (draws its jitter).
  ReplyShaping shaping();
  // Applies the edits that match the request to its replies (those under its own code).
  void applyEdits(const Request& req, Replies& replies);

  std::uint64_t requestCount(int code) const;
  std::map<int, std::uint64_t> requestCounts() const;
  void resetRequestCounts();

 private:
  mutable std::mutex mutex_;
  std::map<int, int> ignores_;
  std::map<int, std::uint64_t> counts_;
  struct PendingEdit {
    ReplyEdit edit;
    int seen = 0;  // matching requests so far
  };
  std::vector<PendingEdit> edits_;
  ReplyShaping shaping_;
  std::chrono::steady_clock::duration jitter_{};
  std::minstd_rand random_{1};  // fixed seed: a faulty run can be repeated
};

}  // namespace zelvo::sim
