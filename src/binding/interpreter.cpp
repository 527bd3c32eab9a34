#include "binding/interpreter.hpp"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace zelvo::py {
namespace {

struct Gate {
  std::mutex m;
  std::condition_variable passed;  // a thread on its way in got the lock
  std::condition_variable never;   // parked threads wait on it for good
  bool closed = false;
  int entering = 0;
  std::thread::id exiting;  // the thread that closed the gate (it keeps working)
};

Gate& gate() {
  static Gate* g = new Gate();  // never destroyed: parked threads wait on it until the process ends
  return *g;
}

// The thread that receives signals.
unsigned long g_main_thread = 0;

bool finalizing() {
#if PY_VERSION_HEX >= 0x030D0000
  return Py_IsFinalizing() != 0;
#else
  return _Py_IsFinalizing() != 0;
#endif
}

}  // namespace

namespace interpreter {

bool tryEnter() {
  Gate& g = gate();
  std::lock_guard lock(g.m);
  if (g.closed && std::this_thread::get_id() != g.exiting) return false;
  ++g.entering;
  return true;
}

void entered() {
  Gate& g = gate();
  {
    std::lock_guard lock(g.m);
    --g.entering;
  }
  g.passed.notify_all();
}

void enter() {
  if (!tryEnter()) park();
}

void park() {
  Gate& g = gate();
  std::unique_lock lock(g.m);
  for (;;) g.never.wait(lock);
}

void close() {
  Gate& g = gate();
  {
    std::lock_guard lock(g.m);
    g.closed = true;
    g.exiting = std::this_thread::get_id();
  }
  // Threads on their way in need the interpreter lock to get there.
  Py_BEGIN_ALLOW_THREADS
  {
    std::unique_lock lock(g.m);
    g.passed.wait(lock, [&] { return g.entering == 0; });
  }
  Py_END_ALLOW_THREADS
}

bool alive() {
  {
    Gate& g = gate();
    std::lock_guard lock(g.m);
    if (g.closed) return false;
  }
  return Py_IsInitialized() && !finalizing();
}

}  // namespace interpreter

Unlocked::~Unlocked() {
  interpreter::enter();
  PyEval_RestoreThread(state_);
  interpreter::entered();
}

Entered::Entered() : in_(interpreter::tryEnter()) {
  if (!in_) return;
  state_ = PyGILState_Ensure();
  interpreter::entered();
}

Entered::~Entered() {
  if (in_) PyGILState_Release(state_);
}

SignalCheck::SignalCheck() : main_thread_(g_main_thread != 0 && PyThread_get_thread_ident() == g_main_thread) {}

SignalCheck::~SignalCheck() = default;

bool SignalCheck::check() {
  Entered python;
  if (!python) return false;
  const bool stop = PyErr_CheckSignals() != 0;
  if (stop) raised_.emplace();  // takes the exception the handler raised
  return stop;
}

void SignalCheck::raiseIfFired() {
  if (!raised_) return;
  nb::python_error e = std::move(*raised_);
  raised_.reset();
  throw e;
}

void bindInterpreter(nb::module_&) {
  g_main_thread = nb::cast<unsigned long>(
      nb::module_::import_("threading").attr("main_thread")().attr("ident"));
}

}  // namespace zelvo::py
