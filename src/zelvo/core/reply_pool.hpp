// data_pool_echo: which reply answers which request.
//
// Replies carry no request number; a reply is told apart by its key (the command code, or the
// motion key), by the request bytes it repeats (its echo, command_table.def) and by order, since
// a device answers in the order it was asked. So, per key, the pool keeps every send that has not
// been answered yet, oldest first:
//  - A reply answers the oldest unanswered send its echo matches. When that send belongs to the
//    request in progress (an Exchange) and the request has no answer yet, the reply is its answer.
//    Otherwise it answers a send whose request ended (timed out, was cancelled, or already took the
//    answer to an earlier copy): it is discarded and counted, never handed to a later request.
//  - A send of an ended request that nobody answers counts as lost once older than the link's send
//    lifetime (round_trip.hpp), so a device that drops requests cannot shift later answers for
//    long. The request in progress waits for its own answer however late it comes.
//  - A new request waits (its quarantine, at most a second) until the earlier sends of its key are
//    answered or lost before it sends.
// A reply under a key with no unanswered send is unsolicited: the most recent few are kept (the
// raw reply wait takes them), the rest are dropped and counted.
//
// Residual case: a device that silently drops some requests and answers others later than the
// send lifetime, on a command whose reply repeats no request byte, can still make one reply count
// for the next request of that key.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

#include "zelvo/core/command.hpp"
#include "zelvo/core/round_trip.hpp"
#include "zelvo/core/wait.hpp"

namespace zelvo {

// Reply key: the command code, or for MOTION the key derived from the payload (routing.hpp).
using ReplyKey = std::int64_t;

// Unsolicited replies kept: at most this many keys and bytes; older ones make room.
inline constexpr std::size_t kMaxUnsolicitedKeys = 64;
inline constexpr std::size_t kMaxUnsolicitedBytes = 1 << 20;

class ReplyPool {
 public:
  using ExchangeId = std::uint64_t;

  struct Stats {
    std::uint64_t late = 0;         // replies to sends whose request had ended or was answered
    std::uint64_t mismatched = 0;   // replies whose echo matched no unanswered send
    std::uint64_t unsolicited = 0;  // replies under a key with no unanswered send
    std::uint64_t dropped = 0;      // unsolicited replies not kept (or pushed out of the store)
    std::uint64_t lost_sends = 0;   // sends never answered
  };

  // One request in progress on a key; the key gate lets one run at a time. Open from before its
  // first send until it ends, however it ends: replies to its sends that come after that are
  // discarded.
  class Exchange {
   public:
    Exchange(ReplyPool& pool, ReplyKey key, EchoBytes echo);
    ~Exchange();
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;

    // Records a send: call it before the frame goes out, and unsend() if it could not go out.
    void sent();
    void unsend();

    // Slot source: the answer.
    struct Answer {
      Exchange& ex;
      bool takeOrSubscribe(const std::shared_ptr<Slot<Bytes>>& s);
      void unsubscribe(const Slot<Bytes>* s);
    };
    Answer answer() { return Answer{*this}; }

   private:
    ReplyPool& pool_;
    const ReplyKey key_;
    const ExchangeId id_;
    const EchoBytes echo_;
  };

  // When a new request on `key` may send: nullopt at once (no earlier send is unanswered), else the
  // end of its quarantine (the last send's lifetime, at most kMaxQuarantine from now).
  std::optional<TimePoint> quarantineEnd(ReplyKey key);
  // Slot source: no send of the key is unanswered any more.
  struct Quiet {
    ReplyPool& pool;
    ReplyKey key;
    bool takeOrSubscribe(const std::shared_ptr<Slot<Unit>>& s);
    void unsubscribe(const Slot<Unit>* s);
  };
  Quiet quiet(ReplyKey key) { return Quiet{*this, key}; }

  // Slot source for the raw reply wait: an unsolicited reply of the key.
  struct KeySource {
    ReplyPool& pool;
    ReplyKey key;
    bool takeOrSubscribe(const std::shared_ptr<Slot<Bytes>>& s);
    void unsubscribe(const Slot<Bytes>* s);
  };
  KeySource source(ReplyKey key) { return KeySource{*this, key}; }

  // A reply arrived (receive thread).
  void put(ReplyKey key, Bytes payload);
  // Drops a kept unsolicited reply.
  void discard(ReplyKey key);
  // The link went down: every wait ends with LinkLost until linkUp(), and no send is awaited any
  // more. Pending waits for quiet end at once (the next send reports the link's state).
  void linkDown();
  void linkUp();
  // Ends every wait with Aborted, now and from now on (the device is closing).
  void abortWaiters();

  std::map<ReplyKey, Bytes> snapshot() const;  // the unsolicited replies kept
  Stats stats() const;
  std::size_t unansweredSends(ReplyKey key) const;
  // How long a send may still be answered, from the round trips measured so far.
  double sendLifetime() const;

 private:
  struct Send {
    ExchangeId owner;
    TimePoint at;
    EchoBytes echo;
  };
  struct KeyState {
    std::deque<Send> unanswered;  // oldest first
    ExchangeId open = 0;          // the request in progress (0: none)
    bool answered = false;
    std::optional<Bytes> answer;  // came while it was not waiting
    std::shared_ptr<Slot<Bytes>> waiter;
    std::vector<std::shared_ptr<Slot<Unit>>> quiet;
    std::deque<std::shared_ptr<Slot<Bytes>>> raw;
    bool unused() const { return unanswered.empty() && open == 0 && !waiter && quiet.empty() && raw.empty(); }
  };
  using Wakeups = std::vector<std::coroutine_handle<>>;

  // Forgets sends older than their lifetime.
  void expire(KeyState& k, TimePoint now, Wakeups& wake);
  void settleQuiet(KeyState& k, Wakeups& wake);
  // A reply to one of the key's unanswered sends: the answer of the request in progress, or
  // discarded.
  void answerSend(KeyState& k, Bytes& payload, TimePoint now, Wakeups& wake);
  void keepUnsolicited(ReplyKey key, Bytes payload);
  void tidy(ReplyKey key);
  static void resume(const Wakeups& wake);
  void endWaits(WaitResult why, bool from_now_on);

  mutable std::mutex m_;
  std::unordered_map<ReplyKey, KeyState> keys_;
  std::map<ReplyKey, Bytes> unsolicited_;
  std::deque<ReplyKey> unsolicited_order_;  // oldest first
  std::size_t unsolicited_bytes_ = 0;
  RoundTrip rtt_;
  Stats stats_;
  ExchangeId next_id_ = 1;
  bool down_ = false;
  bool closed_ = false;
};

}  // namespace zelvo
