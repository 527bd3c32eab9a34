#include "binding/pyconv.hpp"

#include <limits>

#include "zelvo/core/errors.hpp"

namespace zelvo::py {

void wrongType(const char*, const char*, nb::handle) {
  // The library's own text for a wrong argument type, as every check of argument types gives it.
  throw Error(Err::InputTypeNotCorrectError);
}

nb::object integerOrNull(nb::handle h) {
  if (PyLong_Check(h.ptr())) return nb::borrow(h);
  if (!PyIndex_Check(h.ptr())) return {};
  nb::object i = nb::steal(PyNumber_Index(h.ptr()));  // refused by numpy's bool, for one
  if (!i.is_valid()) PyErr_Clear();
  return i;
}

std::int64_t Arg<std::int64_t>::from(nb::handle h, const char* name) {
  const nb::object i = integerOrNull(h);
  if (!i.is_valid()) wrongType(name, "an int", h);
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(i.ptr(), &overflow);
  if (overflow != 0)
    throw Error(Err::InputDataNotInRangeError, std::string(name) + " does not fit in 64 bits.");
  return v;
}

int Arg<int>::from(nb::handle h, const char* name) {
  const std::int64_t v = Arg<std::int64_t>::from(h, name);
  if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
    throw Error(Err::InputDataNotInRangeError, std::string(name) + " = " + std::to_string(v) + " is out of range.");
  return static_cast<int>(v);
}

double Arg<double>::from(nb::handle h, const char* name) {
  if (PyFloat_Check(h.ptr())) {
    const double v = PyFloat_AsDouble(h.ptr());
    if (v != v) throw Error(Err::InputDataNotInRangeError, std::string(name) + " is not a number.");
    return v;
  }
  if (const nb::object i = integerOrNull(h); i.is_valid()) {
    const double v = PyLong_AsDouble(i.ptr());
    if (v == -1.0 && PyErr_Occurred()) {
      PyErr_Clear();
      throw Error(Err::InputDataNotInRangeError, std::string(name) + " is out of range.");
    }
    return v;
  }
  wrongType(name, "a number", h);
}

bool Arg<bool>::from(nb::handle h, const char* name) {
  if (PyBool_Check(h.ptr())) return h.ptr() == Py_True;
  if (integerOrNull(h).is_valid()) return Arg<std::int64_t>::from(h, name) != 0;
  wrongType(name, "a bool", h);
}

std::string Arg<std::string>::from(nb::handle h, const char* name) {
  if (!PyUnicode_Check(h.ptr())) wrongType(name, "a str", h);
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(h.ptr(), &size);
  if (!data) {
    PyErr_Clear();  // lone surrogates cannot be sent
    throw Error(Err::InputDataNotInRangeError, std::string(name) + " is not encodable text.");
  }
  return std::string(data, static_cast<std::size_t>(size));
}

std::vector<std::int64_t> Arg<std::vector<std::int64_t>>::from(nb::handle h, const char* name) {
  std::vector<std::int64_t> out;
  if (PyBytes_Check(h.ptr()) || PyByteArray_Check(h.ptr())) {
    const auto b = nb::borrow<nb::object>(h);
    const char* data = PyBytes_Check(h.ptr()) ? PyBytes_AsString(h.ptr()) : PyByteArray_AsString(h.ptr());
    const Py_ssize_t n = PyObject_Size(h.ptr());
    out.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) out.push_back(static_cast<unsigned char>(data[i]));
    return out;
  }
  if (!PyList_Check(h.ptr()) && !PyTuple_Check(h.ptr())) wrongType(name, "a list of ints", h);
  const nb::sequence seq = nb::borrow<nb::sequence>(h);
  out.reserve(nb::len(seq));
  for (nb::handle item : seq) out.push_back(Arg<std::int64_t>::from(item, name));
  return out;
}

std::vector<int> Arg<std::vector<int>>::from(nb::handle h, const char* name) {
  std::vector<int> out;
  for (std::int64_t v : Arg<std::vector<std::int64_t>>::from(h, name)) {
    if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
      throw Error(Err::InputDataNotInRangeError, std::string(name) + " holds a value out of range.");
    out.push_back(static_cast<int>(v));
  }
  return out;
}

std::vector<double> Arg<std::vector<double>>::from(nb::handle h, const char* name) {
  if (!PyList_Check(h.ptr()) && !PyTuple_Check(h.ptr())) wrongType(name, "a list of numbers", h);
  std::vector<double> out;
  for (nb::handle item : nb::borrow<nb::sequence>(h)) out.push_back(Arg<double>::from(item, name));
  return out;
}

PinSelection Arg<PinSelection>::from(nb::handle h, const char* name) {
  if (integerOrNull(h).is_valid()) return PinSelection::mask(Arg<std::int64_t>::from(h, name));
  if (!PyList_Check(h.ptr())) wrongType(name, "an int or a list of ints", h);
  std::vector<std::int64_t> items;
  for (nb::handle item : nb::borrow<nb::list>(h)) items.push_back(Arg<std::int64_t>::from(item, name));
  return PinSelection::list(std::move(items));
}

std::vector<std::string> Arg<std::vector<std::string>>::from(nb::handle h, const char* name) {
  if (!PyList_Check(h.ptr()) && !PyTuple_Check(h.ptr())) wrongType(name, "a list of str", h);
  std::vector<std::string> out;
  for (nb::handle item : nb::borrow<nb::sequence>(h)) out.push_back(Arg<std::string>::from(item, name));
  return out;
}

Bytes Arg<Bytes>::from(nb::handle h, const char* name) {
  return toPayload(Arg<std::vector<std::int64_t>>::from(h, name), name);
}

nb::object Result<std::vector<std::pair<int, int>>>::to(const std::vector<std::pair<int, int>>& v) {
  nb::list out;
  for (const auto& [a, b] : v) out.append(nb::make_tuple(a, b));
  return out;
}

nb::object Result<std::set<Bytes>>::to(const std::set<Bytes>& v) {
  nb::set s;
  for (const auto& b : v) s.add(Result<Bytes>::to(b));
  return s;
}

nb::object Result<std::vector<int>>::to(const std::vector<int>& v) {
  nb::list l;
  for (int i : v) l.append(nb::int_(i));
  return l;
}

nb::object Result<std::vector<double>>::to(const std::vector<double>& v) {
  nb::list l = nb::steal<nb::list>(PyList_New(static_cast<Py_ssize_t>(v.size())));
  for (std::size_t i = 0; i < v.size(); ++i) PyList_SET_ITEM(l.ptr(), static_cast<Py_ssize_t>(i), PyFloat_FromDouble(v[i]));
  return l;
}

nb::object Result<std::vector<std::int64_t>>::to(const std::vector<std::int64_t>& v) {
  nb::list l;
  for (std::int64_t i : v) l.append(nb::int_(i));
  return l;
}

nb::object Result<std::vector<std::string>>::to(const std::vector<std::string>& v) {
  nb::list l;
  for (const auto& s : v) l.append(Result<std::string>::to(s));
  return l;
}

nb::object Result<std::vector<std::vector<std::string>>>::to(const std::vector<std::vector<std::string>>& v) {
  nb::list out;
  for (const auto& row : v) out.append(Result<std::vector<std::string>>::to(row));
  return out;
}

nb::object Result<StreamItems>::to(const StreamItems& v) {
  if (v.items.size() == 1) return byteList(v.items[0]);
  nb::list out;
  for (const auto& b : v.items) out.append(Result<Bytes>::to(b));
  return out;
}

nb::list byteList(ByteView b) {
  nb::list l;
  for (Byte x : b) l.append(nb::int_(x));
  return l;
}

}  // namespace zelvo::py
