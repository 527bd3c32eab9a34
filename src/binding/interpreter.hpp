// How C++ code leaves and re-enters the interpreter, safely also while the interpreter exits, and
// how a blocking wait notices Ctrl-C.
//
// At exit the interpreter ends every daemon thread that tries to take its lock, by unwinding the
// thread's stack; a C++ frame that cannot be unwound (a destructor, a noexcept function) then
// aborts the process. So every way back into the interpreter passes a gate that the exit hook
// closes before finalisation begins: threads already on their way in are let through first, and
// threads that come later park for good (or, for output, skip it) instead of entering.
#pragma once

#include <nanobind/nanobind.h>

#include <optional>
#include <utility>
#if defined(__GLIBCXX__)
#include <cxxabi.h>
#endif

#include "zelvo/core/wait.hpp"

namespace zelvo::py {

namespace nb = nanobind;

// The gate. Called without the interpreter lock.
namespace interpreter {
// Before taking the lock: true to go on (then call entered() once the lock is held); false when the
// gate is closed, and the caller must not take the lock.
bool tryEnter();
void entered();
// Like tryEnter(), but a thread other than the exiting one never comes back when the gate is
// closed: it parks for good, and the process ends around it.
void enter();
// The exit hook (with the interpreter lock): closes the gate and waits for threads on their way in.
void close();
// Never returns: the thread waits for good, and the process ends around it.
[[noreturn]] void park();
// False once the gate is closed or the interpreter is finalizing: C++ threads leave Python alone.
bool alive();
}  // namespace interpreter

// Runs `f`, which runs Python code with the interpreter lock held (the message handler, an error
// class's constructor, a warning filter). Python code may hand the lock to another thread and take
// it back; at exit the interpreter ends a daemon thread that takes it back by unwinding its stack,
// and that unwinding cannot pass the binding's frames (a destructor handing the lock back,
// nanobind's dispatcher) without aborting the process. Such a thread parks for good instead.
template <class F>
decltype(auto) parkingAtExit(F&& f) {
#if defined(__GLIBCXX__)
  try {
    return std::forward<F>(f)();
  } catch (abi::__forced_unwind&) {
    interpreter::park();
  }
#else
  return std::forward<F>(f)();
#endif
}

// Releases the interpreter lock for a wait (like nb::gil_scoped_release); takes it back through
// the gate.
class Unlocked {
 public:
  Unlocked() : state_(PyEval_SaveThread()) {}
  ~Unlocked();
  Unlocked(const Unlocked&) = delete;
  Unlocked& operator=(const Unlocked&) = delete;

 private:
  PyThreadState* state_;
};

// Holds the interpreter lock for a moment, if the gate lets this thread in (any thread).
class Entered {
 public:
  Entered();
  ~Entered();
  Entered(const Entered&) = delete;
  Entered& operator=(const Entered&) = delete;
  explicit operator bool() const { return in_; }

 private:
  bool in_;
  PyGILState_STATE state_{};
};

// Pending signals (Ctrl-C) during a blocking operation. On the main thread, blocking waits ask
// check() at least every 100 ms; a signal handler that raises (KeyboardInterrupt) stops the
// operation, and raiseIfFired() raises that exception in the caller, unchanged.
class SignalCheck final : public Interrupt {
 public:
  SignalCheck();
  ~SignalCheck() override;
  // The interrupt for the operation's waits; null on threads that receive no signals.
  Interrupt* active() { return main_thread_ ? this : nullptr; }
  // With the interpreter lock: raises the exception a signal handler raised, if one did.
  void raiseIfFired();

 protected:
  bool check() override;  // without the interpreter lock

 private:
  bool main_thread_;
  std::optional<nb::python_error> raised_;
};

// Remembers the thread that receives signals (called once at import).
void bindInterpreter(nb::module_& m);

}  // namespace zelvo::py
