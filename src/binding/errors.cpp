#include "binding/errors.hpp"

#include <nanobind/stl/string.h>

#include <cstdio>

#include "binding/bindings.hpp"
#include "binding/pyconv.hpp"
#include "zelvo/core/client.hpp"
#include "zelvo/core/console.hpp"
#include "zelvo/core/device.hpp"
#include "zelvo/core/wait.hpp"

namespace zelvo::py {
namespace {

// Error classes by name, registered by the Python package when it builds them. Never freed: C++
// code may look them up while the interpreter shuts down.
PyObject* g_classes = nullptr;

nb::object errorClass(const char* name) {
  if (!g_classes) return nb::object();
  PyObject* cls = PyDict_GetItemString(g_classes, name);  // borrowed
  return cls ? nb::borrow<nb::object>(cls) : nb::object();
}

nb::object libraryError(const Error& e) {
  nb::object cls = errorClass(e.info().name);
  if (!cls.is_valid()) return nb::steal(PyObject_CallFunction(PyExc_RuntimeError, "s", e.what()));
  return cls(nb::str(e.msg().c_str(), e.msg().size()));  // a warning class prints and warns here
}

nb::object builtinError(PyObject* type, const char* text) {
  return nb::steal(PyObject_CallFunction(type, "s", text));
}

// Exit: keep C++ threads away from Python from now on (a daemon thread whose call the closing
// ends parks instead of raising into an interpreter on its way out), then close every device.
void shutdown() {
  interpreter::close();
  console::silence();
  Unlocked release;
  Device::closeAll();
}

}  // namespace

std::string operationNote(const std::string& operation, const Device& device, double timeout) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%g", timeout);
  return "in " + operation + " on " + device.model() + " (" + (device.killed() ? "closed" : device.linkState()) +
         "), timeout " + seconds + " s";
}

void raiseWithNote(const std::exception_ptr& failure, const std::string& note) {
  nb::object exc = exceptionObject(failure);  // an exception raised while building it propagates
  if (nb::hasattr(exc, "add_note")) exc.attr("add_note")(nb::str(note.c_str(), note.size()));
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.ptr())), exc.ptr());
  throw nb::python_error();
}

nb::object exceptionObject(const std::exception_ptr& p) {
  // Building a library error runs its class's constructor, Python code.
  return parkingAtExit([&] {
    try {
      std::rethrow_exception(p);
    } catch (const Error& e) {
      return libraryError(e);
    } catch (const ReadTimeout& e) {
      return builtinError(PyExc_TimeoutError, e.what());
    } catch (const Cancelled&) {
      return nb::module_::import_("asyncio").attr("CancelledError")();
    } catch (nb::python_error& e) {
      return nb::borrow<nb::object>(e.value());
    } catch (const std::exception& e) {
      return builtinError(PyExc_RuntimeError, e.what());
    } catch (...) {
      return builtinError(PyExc_RuntimeError, "unknown C++ exception");
    }
  });
}

void bindErrors(nb::module_& m) {
  nb::register_exception_translator([](const std::exception_ptr& p, void*) {
    try {
      std::rethrow_exception(p);
    } catch (const Error&) {
    } catch (const ReadTimeout&) {
    } catch (const Cancelled&) {
    }
    // Only the failures above get here; anything else went on to nanobind's own translators.
    try {
      nb::object exc = exceptionObject(p);
      PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.ptr())), exc.ptr());
    } catch (nb::python_error& e) {
      e.restore();  // building the error raised (Ctrl-C, a warning filter): that one propagates
    }
  });

  m.def(
      "error_table",
      [] {
        nb::list rows;
        for (const ErrorInfo& e : errorTable())
          rows.append(nb::make_tuple(e.name, e.kind == ErrorKind::Warning ? "Warning" : "Error", e.constant, e.code,
                                     e.message));
        return rows;
      },
      "Rows (class name, 'Error' or 'Warning', code constant, code, default message) of every error and warning.");
  m.def(
      "_register_error_classes",
      [](nb::dict classes) {
        Py_XDECREF(g_classes);
        g_classes = classes.ptr();
        Py_INCREF(g_classes);
      },
      nb::arg("classes"), "Tells the core which Python class stands for each error name.");
  m.def(
      "checkFirmwareError", [](nb::handle status) { return checkFirmwareError(Arg<int>::from(status, "error_code")); },
      nb::arg("error_code").none(), nb::sig("def checkFirmwareError(error_code: int) -> int"),
      "Returns 0 for the status 0; raises the firmware error class of any other firmware status.");
  m.def(
      "printGenericError",
      [](nb::handle err) {
        const std::string name = nb::cast<std::string>(nb::handle(reinterpret_cast<PyObject*>(Py_TYPE(err.ptr()))).attr("__name__"));
        const std::string text = nb::cast<std::string>(nb::str(err));
        console::print(console::genericErrorText(name, text));
      },
      nb::arg("err").none(), nb::sig("def printGenericError(err: BaseException) -> None"),
      "Prints the error's class name, a colon, a space and the error's text.");
  m.def("_shutdown", &shutdown, "Closes every device and stops touching Python (called at exit).");

  console::setPrinter([](const std::string& line) {
    if (!interpreter::alive()) return;
    Entered python;
    if (!python) return;
    parkingAtExit([&] {
      try {
        // Standard output, or the handler the application set (pyzelvo.set_message_handler).
        static const nb::handle emit = nb::object(nb::module_::import_("pyzelvo._messages").attr("emit")).release();
        emit(nb::str(line.c_str(), line.size()));
      } catch (nb::python_error& e) {
        e.discard_as_unraisable("printing a pyzelvo message");
      }
    });
  });
  console::setWarner([](Err kind, const std::string& msg) {
    if (!interpreter::alive()) return;
    Entered python;
    if (!python) return;
    parkingAtExit([&] {
      try {
        if (nb::object cls = errorClass(errorInfo(kind).name); cls.is_valid()) cls(nb::str(msg.c_str(), msg.size()));
      } catch (nb::python_error& e) {
        e.discard_as_unraisable("emitting a pyzelvo warning");
      }
    });
  });
  console::setResourceWarner([](const std::string& msg) {
    if (!interpreter::alive()) return;
    Entered python;
    if (!python) return;
    nb::error_scope keep;  // a destructor may run while an exception is on its way
    parkingAtExit([&] {
      if (PyErr_WarnEx(PyExc_ResourceWarning, msg.c_str(), 1) != 0)
        nb::python_error().discard_as_unraisable("warning of an unclosed pyzelvo device");
    });
  });
  console::setUnlocker([](const std::function<void()>& f) {
    if (interpreter::alive() && PyGILState_Check()) {
      Unlocked release;
      f();
    } else {
      f();
    }
  });
}

}  // namespace zelvo::py
