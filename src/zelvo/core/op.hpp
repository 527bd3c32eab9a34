// Op<T>: one device operation written once as a lazily started C++20 coroutine.
//
// An Op runs in one of two ways, chosen by the Call it is given (call.hpp):
//  - blocking: every wait inside it completes in its await_ready, so the coroutine never suspends
//    and runBlocking() returns its result on the calling thread;
//  - awaitable: waits suspend; whoever completes the wait (the receive thread, the timer, a
//    cancellation) resumes it, and startDetached() reports the outcome to a completion callback.
// An Op can co_await another Op; the inner one starts when awaited and resumes its awaiter when it
// finishes (symmetric transfer, no extra stack depth). An Op awaits nothing else but the waits of
// wait.hpp: any other awaitable could suspend a blocking operation, so it does not compile.
#pragma once

#include <coroutine>
#include <cstdio>
#include <exception>
#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

#include "zelvo/core/errors.hpp"
#include "zelvo/core/wait.hpp"

namespace zelvo {

template <class T>
class Op;

namespace detail {

// What an operation may co_await: another operation, or a wait over any source.
template <class A>
inline constexpr bool kOpAwaitable = false;
template <class U>
inline constexpr bool kOpAwaitable<Op<U>> = true;
template <class... P>
inline constexpr bool kOpAwaitable<WaitFor<P...>> = true;

// An Op without a coroutine (default-constructed or moved from) was awaited or run.
[[noreturn]] inline void emptyOperation() {
  throw Error(Err::APINotSupportError, "Internal error: an operation that holds no coroutine was run.");
}

struct OpPromiseBase {
  std::coroutine_handle<> continuation = std::noop_coroutine();
  std::exception_ptr error;

  std::suspend_always initial_suspend() noexcept { return {}; }
  struct FinalAwaiter {
    bool await_ready() noexcept { return false; }
    template <class P>
    std::coroutine_handle<> await_suspend(std::coroutine_handle<P> h) noexcept {
      return h.promise().continuation;
    }
    void await_resume() noexcept {}
  };
  FinalAwaiter final_suspend() noexcept { return {}; }
  void unhandled_exception() noexcept { error = std::current_exception(); }

  // Every co_await in an operation passes here: only operations and waits are accepted.
  template <class A>
    requires kOpAwaitable<std::remove_cvref_t<A>>
  A&& await_transform(A&& awaited) noexcept {
    return std::forward<A>(awaited);
  }
};

template <class T>
struct OpPromise : OpPromiseBase {
  std::optional<T> value;
  Op<T> get_return_object() noexcept;
  template <class U>
  void return_value(U&& v) {
    value.emplace(std::forward<U>(v));
  }
  T take() {
    if (error) std::rethrow_exception(error);
    return std::move(*value);
  }
};

template <>
struct OpPromise<void> : OpPromiseBase {
  Op<void> get_return_object() noexcept;
  void return_void() noexcept {}
  void take() {
    if (error) std::rethrow_exception(error);
  }
};

[[noreturn]] inline void opSuspendedWhileBlocking() {
  std::fputs("pyzelvo: internal error: a blocking operation suspended\n", stderr);
  std::terminate();
}

}  // namespace detail

template <class T>
class [[nodiscard]] Op {
 public:
  using promise_type = detail::OpPromise<T>;
  using Handle = std::coroutine_handle<promise_type>;

  Op() = default;
  explicit Op(Handle h) noexcept : h_(h) {}
  Op(Op&& o) noexcept : h_(std::exchange(o.h_, {})) {}
  Op& operator=(Op&& o) noexcept {
    if (this != &o) {
      reset();
      h_ = std::exchange(o.h_, {});
    }
    return *this;
  }
  Op(const Op&) = delete;
  Op& operator=(const Op&) = delete;
  ~Op() { reset(); }

  // Awaiting an Op starts it and resumes the awaiter when it finishes. An empty Op does not
  // suspend the awaiter; it raises.
  bool await_ready() const noexcept { return !h_; }
  std::coroutine_handle<> await_suspend(std::coroutine_handle<> awaiting) noexcept {
    h_.promise().continuation = awaiting;
    return h_;
  }
  T await_resume() {
    if (!h_) detail::emptyOperation();
    return h_.promise().take();
  }

  // Runs the operation to completion on this thread (blocking family).
  T runBlocking() && {
    if (!h_) detail::emptyOperation();
    h_.resume();
    if (!h_.done()) detail::opSuspendedWhileBlocking();
    return h_.promise().take();
  }

 private:
  void reset() noexcept {
    if (h_) h_.destroy();
    h_ = {};
  }
  Handle h_;
};

namespace detail {
template <class T>
Op<T> OpPromise<T>::get_return_object() noexcept {
  return Op<T>(std::coroutine_handle<OpPromise<T>>::from_promise(*this));
}
inline Op<void> OpPromise<void>::get_return_object() noexcept {
  return Op<void>(std::coroutine_handle<OpPromise<void>>::from_promise(*this));
}

// A fire-and-forget coroutine that owns the Op it drives and frees itself at the end.
struct Detached {
  struct promise_type {
    Detached get_return_object() noexcept { return {}; }
    std::suspend_never initial_suspend() noexcept { return {}; }
    std::suspend_never final_suspend() noexcept { return {}; }
    void return_void() noexcept {}
    void unhandled_exception() noexcept { std::terminate(); }
  };
};
}  // namespace detail

// The outcome of an awaitable operation: a value or the exception it ended with.
template <class T>
struct Outcome {
  std::optional<T> value;
  std::exception_ptr error;
};
template <>
struct Outcome<void> {
  bool ok = false;
  std::exception_ptr error;
};

namespace detail {
template <class T, class Keep>
Detached drive(Op<T> op, Keep keep, std::function<void(Outcome<T>)> done) {
  Outcome<T> out;
  {
    // The operation's frame ends here, before `done` hands the outcome on: whoever receives it
    // never shares the exception or anything else of the frame with this thread's cleanup.
    Op<T> running = std::move(op);
    try {
      if constexpr (std::is_void_v<T>) {
        co_await running;
        out.ok = true;
      } else {
        out.value.emplace(co_await running);
      }
    } catch (...) {
      out.error = std::current_exception();
    }
  }
  // `keep` (the operation's Call) stays alive until the operation has finished.
  done(std::move(out));
  (void)keep;
}
}  // namespace detail

// Starts an operation of the awaitable family on this thread; it runs until its first wait and is
// then resumed by whoever completes that wait. `keep` is held until the end; `done` is called once,
// on the thread that finishes the operation.
template <class T, class Keep>
void startDetached(Op<T> op, Keep keep, std::function<void(Outcome<T>)> done) {
  detail::drive(std::move(op), std::move(keep), std::move(done));
}

}  // namespace zelvo
