// Errors and the console across the language boundary.
#pragma once

#include <nanobind/nanobind.h>

#include <exception>

#include "zelvo/core/errors.hpp"

namespace zelvo::py {

namespace nb = nanobind;

// The Python exception object for a C++ failure (library errors become their own classes, the
// awaitable time-out TimeoutError, cancellation asyncio.CancelledError); null for failures this
// layer does not know. Needs the interpreter lock.
nb::object exceptionObject(const std::exception_ptr& e);

// False once the interpreter is exiting: C++ threads must not touch Python any more.
bool pythonAlive();

// Releases the interpreter lock for a wait (like nb::gil_scoped_release). A thread that comes back
// while the interpreter is finalizing must not take the lock again (the interpreter would end the
// thread under a C++ frame); it parks for good instead. Only daemon threads can still be waiting
// then; the exit hook has already ended their device waits before finalization began.
class Unlocked {
 public:
  Unlocked() : state_(PyEval_SaveThread()) {}
  ~Unlocked();
  Unlocked(const Unlocked&) = delete;
  Unlocked& operator=(const Unlocked&) = delete;

 private:
  PyThreadState* state_;
};

}  // namespace zelvo::py
