#include "binding/awaitable.hpp"

#include <nanobind/stl/shared_ptr.h>
#include <nanobind/stl/string.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "binding/errors.hpp"

namespace zelvo::py {
namespace {

// asyncio.CancelledError, as an outcome to give the future (cancel it rather than set it).
bool isCancellation(const std::exception_ptr& e) {
  try {
    std::rethrow_exception(e);
  } catch (const Cancelled&) {
    return true;
  } catch (...) {
    return false;
  }
}

bool isLibraryError(const std::exception_ptr& e) {
  try {
    std::rethrow_exception(e);
  } catch (const Error&) {
    return true;
  } catch (...) {
    return false;
  }
}

// One bridge per event loop: loop -> bridge, weakly keyed by the loop.
nb::object& bridges() {
  static nb::object* d = new nb::object();  // never freed: looked up until the very end
  if (!d->is_valid()) *d = nb::module_::import_("weakref").attr("WeakKeyDictionary")();
  return *d;
}

std::shared_ptr<LoopBridge> bridgeFor(nb::handle loop) {
  nb::object existing = nb::steal(PyObject_GetItem(bridges().ptr(), loop.ptr()));
  if (existing.is_valid()) return nb::cast<std::shared_ptr<LoopBridge>>(existing);
  PyErr_Clear();
  auto bridge = std::make_shared<LoopBridge>();
  nb::object obj = nb::cast(bridge);
  loop.attr("add_reader")(bridge->fd(), obj.attr("_drain"));
  nb::module_::import_("weakref").attr("finalize")(loop, obj.attr("_close"));
  bridges()[loop] = obj;
  return bridge;
}

}  // namespace

LoopBridge::LoopBridge() {
  fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd_ < 0) throw std::runtime_error("cannot create the eventfd of an event-loop bridge");
  pending_ = PyDict_New();
}

LoopBridge::~LoopBridge() {
  if (fd_ >= 0) ::close(fd_);
  // pending_ is released in close() (with the interpreter lock); a bridge dropped without close()
  // keeps its dict rather than touching Python from an unknown thread.
}

void LoopBridge::post(std::uint64_t token, std::function<nb::object()> result, std::exception_ptr error,
                      std::string note) {
  bool poke = false;
  {
    std::lock_guard lock(m_);
    if (closed_) return;
    queue_.push_back(Done{token, std::move(result), std::move(error), std::move(note)});
    poke = !signalled_;
    signalled_ = true;
  }
  if (poke) {
    std::lock_guard lock(m_);  // close() may take the descriptor meanwhile
    if (closed_) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof one);
  }
}

std::uint64_t LoopBridge::add(nb::handle future) {
  const std::uint64_t token = next_token_++;
  nb::object key = nb::int_(token);
  // Weakly: the awaiting operation owns its future. A bridge that held futures would keep their
  // loop alive through them, and with it the bridge's own entry, for good.
  nb::object ref = nb::steal(PyWeakref_NewRef(future.ptr(), nullptr));
  if (!ref.is_valid()) throw nb::python_error();
  PyDict_SetItem(pending_, key.ptr(), ref.ptr());
  return token;
}

void LoopBridge::drain() {
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t n = ::read(fd_, &count, sizeof count);
  std::vector<Done> done;
  {
    std::lock_guard lock(m_);
    done.swap(queue_);
    signalled_ = false;
  }
  if (!pending_) return;
  for (auto& d : done) {
    nb::object key = nb::int_(d.token);
    nb::object ref = nb::borrow(PyDict_GetItem(pending_, key.ptr()));
    if (!ref.is_valid()) continue;
    PyDict_DelItem(pending_, key.ptr());
    nb::object fut = ref();  // None once the operation that awaited it is gone
    if (fut.is_none() || nb::cast<bool>(fut.attr("done")())) continue;
    try {
      if (d.error) {
        if (isCancellation(d.error)) {
          fut.attr("cancel")();
        } else {
          nb::object exc = exceptionObject(d.error);
          if (!d.note.empty() && isLibraryError(d.error) && nb::hasattr(exc, "add_note"))
            exc.attr("add_note")(nb::str(d.note.c_str(), d.note.size()));
          fut.attr("set_exception")(exc);
        }
      } else {
        fut.attr("set_result")(d.result());
      }
    } catch (nb::python_error& e) {
      // Building the result failed: the awaiting code gets that failure instead.
      fut.attr("set_exception")(nb::borrow(e.value()));
    }
  }
}

void LoopBridge::close() {
  {
    std::lock_guard lock(m_);
    closed_ = true;
    queue_.clear();
    // The loop is gone: its eventfd goes now, whatever operations still hold the bridge.
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  Py_CLEAR(pending_);
}

AsyncOp::AsyncOp(std::string name, nb::object owner, std::shared_ptr<Call> call, Starter start)
    : name_(std::move(name)), owner_(std::move(owner)), call_(std::move(call)), start_(std::move(start)) {}

AsyncOp::~AsyncOp() { cancel(); }

void AsyncOp::cancel() {
  if (started_ && !finished_ && call_) call_->cancel();
}

nb::object AsyncOp::send(nb::handle value) {
  if (finished_) throw nb::type_error("cannot reuse an already awaited pyzelvo operation");
  if (!started_) {
    if (!value.is_none()) throw nb::type_error("can't send a non-None value to a just-started pyzelvo operation");
    nb::object loop = nb::module_::import_("asyncio").attr("get_running_loop")();
    auto bridge = bridgeFor(loop);
    future_ = loop.attr("create_future")();
    const std::uint64_t token = bridge->add(future_);
    started_ = true;
    start_(bridge, token, call_);
  }
  if (!nb::cast<bool>(future_.attr("done")())) {
    future_.attr("_asyncio_future_blocking") = true;
    return future_;
  }
  finished_ = true;
  nb::object result = future_.attr("result")();  // raises the operation's failure
  nb::object stop = nb::handle(PyExc_StopIteration)(result);
  PyErr_SetObject(PyExc_StopIteration, stop.ptr());
  throw nb::python_error();
}

nb::object AsyncOp::throw_(nb::handle type, nb::handle value, nb::handle traceback) {
  cancel();
  if (future_.is_valid() && !nb::cast<bool>(future_.attr("done")())) future_.attr("cancel")();
  finished_ = true;
  nb::object exc;
  if (PyExceptionInstance_Check(type.ptr()))
    exc = nb::borrow(type);
  else if (!value.is_none() && PyExceptionInstance_Check(value.ptr()))
    exc = nb::borrow(value);
  else
    exc = value.is_none() ? type() : type(value);
  if (!traceback.is_none()) PyException_SetTraceback(exc.ptr(), traceback.ptr());
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.ptr())), exc.ptr());
  throw nb::python_error();
}

void AsyncOp::close() {
  cancel();
  finished_ = true;
}

int AsyncOp::traverse(visitproc visit, void* arg) const {
  Py_VISIT(owner_.ptr());
  Py_VISIT(future_.ptr());
  return 0;
}

void AsyncOp::clear() {
  cancel();
  finished_ = true;
  owner_.reset();
  future_.reset();
}

std::string AsyncOp::repr() const {
  const char* state = finished_ ? "finished" : started_ ? "running" : "not started";
  return "<pyzelvo operation " + name_ + " (" + state + ")>";
}

// An operation, its future and the task awaiting it form a cycle (the future's callbacks hold the
// task, the task holds the operation); the collector can break it only if it sees the operation's
// references.
int traverseOperation(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(self));
  if (!nb::inst_ready(self)) return 0;
  return nb::inst_ptr<AsyncOp>(self)->traverse(visit, arg);
}

int clearOperation(PyObject* self) {
  if (nb::inst_ready(self)) nb::inst_ptr<AsyncOp>(self)->clear();
  return 0;
}

PyType_Slot kOperationSlots[] = {
    {Py_tp_traverse, reinterpret_cast<void*>(traverseOperation)},
    {Py_tp_clear, reinterpret_cast<void*>(clearOperation)},
    {0, nullptr},
};

void bindAwaitable(nb::module_& m) {
  nb::class_<LoopBridge>(m, "_LoopBridge", "Completes the futures of pyzelvo operations on one event loop.")
      .def("_drain", &LoopBridge::drain)
      .def("_close", &LoopBridge::close);

  nb::class_<AsyncOp>(m, "Operation",
                      "An awaitable device operation: await it, gather it or pass it to asyncio.create_task. "
                      "It starts when first awaited.",
                      nb::type_slots(kOperationSlots))
      .def("__await__", [](nb::handle self) { return nb::borrow(self); })
      .def("__iter__", [](nb::handle self) { return nb::borrow(self); })
      .def("__next__", [](AsyncOp& op) { return op.send(nb::none()); })
      .def("send", &AsyncOp::send, nb::arg("value"))
      .def("throw", &AsyncOp::throw_, nb::arg("type"), nb::arg("value") = nb::none(),
           nb::arg("traceback") = nb::none())
      .def("close", &AsyncOp::close)
      .def("__repr__", &AsyncOp::repr);
}

}  // namespace zelvo::py
