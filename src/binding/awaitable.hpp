// The awaitable family seen from Python. An operation's `_async` method returns an AsyncOp, an
// object with the coroutine protocol (so it can be awaited, gathered or given to create_task);
// awaiting it starts the C++ operation, and its completion reaches the event loop through the
// loop's LoopBridge: C++ threads queue the outcome and poke an eventfd the loop watches, and the
// loop thread sets the future. No C++ thread takes the interpreter lock for this.
#pragma once

#include <nanobind/nanobind.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "binding/errors.hpp"
#include "binding/pyconv.hpp"
#include "zelvo/core/call.hpp"
#include "zelvo/core/op.hpp"

namespace zelvo::py {

namespace nb = nanobind;

class LoopBridge {
 public:
  LoopBridge();
  ~LoopBridge();
  LoopBridge(const LoopBridge&) = delete;
  LoopBridge& operator=(const LoopBridge&) = delete;

  int fd() const { return fd_; }
  // Any thread, no interpreter lock needed: queues the outcome of the operation `token`.
  // `result` builds the Python value on the loop thread; a library error gets `note` added.
  void post(std::uint64_t token, std::function<nb::object()> result, std::exception_ptr error,
            std::string note = {});
  // Loop thread: remembers the future of a new operation.
  std::uint64_t add(nb::handle future);
  // Loop thread (the eventfd's reader callback): completes the futures of finished operations.
  void drain();
  // Loop thread or finaliser: stops accepting outcomes and lets go of the futures.
  void close();

 private:
  struct Done {
    std::uint64_t token;
    std::function<nb::object()> result;
    std::exception_ptr error;
    std::string note;
  };
  int fd_ = -1;
  std::mutex m_;
  std::vector<Done> queue_;
  bool signalled_ = false;
  bool closed_ = false;
  PyObject* pending_ = nullptr;  // dict token -> future; touched with the interpreter lock only
  std::uint64_t next_token_ = 1;
};

// Starts the C++ operation with the bridge and token its outcome goes to.
using Starter = std::function<void(const std::shared_ptr<LoopBridge>&, std::uint64_t, const std::shared_ptr<Call>&)>;

class AsyncOp {
 public:
  AsyncOp(std::string name, nb::object owner, std::shared_ptr<Call> call, Starter start);
  ~AsyncOp();

  nb::object send(nb::handle value);
  nb::object throw_(nb::handle type, nb::handle value, nb::handle traceback);
  void close();
  std::string repr() const;
  // For the cycle collector: the Python objects it holds, and letting go of them.
  int traverse(visitproc visit, void* arg) const;
  void clear();

 private:
  void cancel();
  std::string name_;
  nb::object owner_;  // the device object: alive while the operation may run
  std::shared_ptr<Call> call_;
  Starter start_;
  nb::object future_;
  bool started_ = false;
  bool finished_ = false;
};

// An AsyncOp for an operation built by `make` when it starts.
template <class R>
nb::object makeAwaitable(std::string name, nb::handle owner, std::shared_ptr<Call> call,
                         std::function<Op<R>(Call&)> make) {
  Starter start = [make = std::move(make), name](const std::shared_ptr<LoopBridge>& bridge, std::uint64_t token,
                                                 const std::shared_ptr<Call>& c) {
    std::function<void(Outcome<R>)> done = [bridge, token, c, name](Outcome<R> out) {
      if (out.error) {
        bridge->post(token, nullptr, out.error, operationNote(name, c->device(), c->timeout()));
      } else if constexpr (std::is_void_v<R>) {
        bridge->post(token, [] { return nb::none(); }, nullptr);
      } else {
        auto shared = std::make_shared<R>(std::move(*out.value));
        bridge->post(token, [shared] { return toPy(std::move(*shared)); }, nullptr);
      }
    };
    c->start();  // the time-out counts from the first await
    startDetached(make(*c), c, std::move(done));
  };
  return nb::cast(AsyncOp(std::move(name), nb::borrow(owner), std::move(call), std::move(start)));
}

void bindAwaitable(nb::module_& m);

}  // namespace zelvo::py
