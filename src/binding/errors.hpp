// Errors and the console across the language boundary.
#pragma once

#include <nanobind/nanobind.h>

#include <exception>

#include "binding/interpreter.hpp"
#include "zelvo/core/errors.hpp"

namespace zelvo::py {

namespace nb = nanobind;

// The Python exception object for a C++ failure (library errors become their own classes, the
// awaitable time-out TimeoutError, cancellation asyncio.CancelledError); null for failures this
// layer does not know. Needs the interpreter lock.
nb::object exceptionObject(const std::exception_ptr& e);

}  // namespace zelvo::py
