// Errors and the console across the language boundary.
#pragma once

#include <nanobind/nanobind.h>

#include <exception>

#include "binding/interpreter.hpp"
#include "zelvo/core/device.hpp"
#include "zelvo/core/errors.hpp"

namespace zelvo::py {

namespace nb = nanobind;

// The note a library error raised by an operation carries (add_note): the operation, the device
// and where it is reached, and the time-out.
std::string operationNote(const std::string& operation, const Device& device, double timeout);
// Raises `failure` in Python; a library error gets `note` added (its text stays the documented one).
[[noreturn]] void raiseWithNote(const std::exception_ptr& failure, const std::string& note);
// Runs f(); a library error it raises leaves with the operation's note.
template <class F>
auto noting(const std::string& operation, const Device& device, double timeout, F&& f) {
  try {
    return f();
  } catch (const Error&) {
    raiseWithNote(std::current_exception(), operationNote(operation, device, timeout));
  }
}

// The Python exception object for a C++ failure (library errors become their own classes, the
// awaitable time-out TimeoutError, cancellation asyncio.CancelledError); null for failures this
// layer does not know. Needs the interpreter lock.
nb::object exceptionObject(const std::exception_ptr& e);

}  // namespace zelvo::py
