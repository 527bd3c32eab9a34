// The public conversion and validation helpers: bit operations on integers of any width,
// fixed-width big-endian packing, texts and addresses, bit and index lists, list shaping and the
// argument checks.
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include <bit>
#include <cstring>

#include "binding/bindings.hpp"
#include "binding/pyconv.hpp"
#include "zelvo/system/address_text.hpp"

namespace zelvo::py {
namespace {

nb::object checked(PyObject* result) {
  if (!result) throw nb::python_error();
  return nb::steal(result);
}

nb::object intArg(nb::handle h, const char* name) {
  nb::object i = integerOrNull(h);
  if (!i.is_valid()) wrongType(name, "an int", h);
  return i;
}

// A bit position: a non-negative int.
nb::object indexArg(nb::handle h, const char* name) {
  nb::object i = intArg(h, name);
  if (PyObject_RichCompareBool(i.ptr(), nb::int_(0).ptr(), Py_LT) == 1)
    throw Error(Err::InputDataNotInRangeError, std::string(name) + " must not be negative.");
  return i;
}

nb::object bitAt(nb::handle index) { return checked(PyNumber_Lshift(nb::int_(1).ptr(), index.ptr())); }

nb::object clearBit(nb::handle number, nb::handle index) {
  nb::object n = intArg(number, "number");
  nb::object mask = checked(PyNumber_Invert(bitAt(indexArg(index, "index")).ptr()));
  return checked(PyNumber_And(n.ptr(), mask.ptr()));
}

nb::object fillBit(nb::handle number, nb::handle index) {
  nb::object n = intArg(number, "number");
  return checked(PyNumber_Or(n.ptr(), bitAt(indexArg(index, "index")).ptr()));
}

nb::object readBit(nb::handle number, nb::handle index) {
  nb::object n = intArg(number, "number");
  nb::object shifted = checked(PyNumber_Rshift(n.ptr(), indexArg(index, "index").ptr()));
  return checked(PyNumber_And(shifted.ptr(), nb::int_(1).ptr()));
}

// The low 64 bits of any Python int (two's complement for negative values).
std::uint64_t low64(nb::handle h, const char* name) {
  intArg(h, name);
  const unsigned long long v = PyLong_AsUnsignedLongLongMask(h.ptr());
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw nb::python_error();
  return v;
}

template <std::integral T>
nb::list packInt(nb::handle value) {
  return byteList(toBE(static_cast<T>(low64(value, "value"))));
}

template <std::integral T>
nb::object unpackInt(nb::handle list) {
  const Bytes b = Arg<Bytes>::from(list, "int_list");
  requireWidth(b, sizeof(T), "int_list");
  if constexpr (std::is_signed_v<T>)
    return nb::steal(PyLong_FromLongLong(readBE<T>(b)));
  else
    return nb::steal(PyLong_FromUnsignedLongLong(readBE<T>(b)));
}

nb::list binaryList(nb::handle value, nb::handle width) {
  nb::object v = intArg(value, "value_int");
  const int w = Arg<int>::from(width, "width");
  if (w < 0) throw Error(Err::InputDataNotInRangeError, "width must not be negative.");
  nb::list out;
  for (int i = 0; i < w; ++i) out.append(readBit(v, nb::int_(i)));
  return out;
}

nb::list indexList(nb::handle value) {
  nb::object v = intArg(value, "value");
  if (PyObject_RichCompareBool(v.ptr(), nb::int_(0).ptr(), Py_LT) == 1)
    throw Error(Err::InputDataNotInRangeError, "value must not be negative.");
  nb::list out;
  const std::size_t bits = nb::cast<std::size_t>(v.attr("bit_length")());
  for (std::size_t i = 0; i < bits; ++i)
    if (nb::cast<int>(readBit(v, nb::int_(i))) == 1) out.append(nb::int_(i));
  return out;
}

nb::object indexListToInt(nb::handle list) {
  if (!PyList_Check(list.ptr()) && !PyTuple_Check(list.ptr())) wrongType("index_list", "a list of ints", list);
  nb::object result = nb::int_(0);
  for (nb::handle i : nb::borrow<nb::sequence>(list)) result = checked(PyNumber_Or(result.ptr(), bitAt(indexArg(i, "index_list")).ptr()));
  return result;
}

nb::list coerce(nb::handle list, nb::handle lower, nb::handle upper) {
  if (!PyList_Check(list.ptr()) && !PyTuple_Check(list.ptr())) wrongType("list_", "a list", list);
  nb::list out;
  for (nb::handle x : nb::borrow<nb::sequence>(list)) {
    if (PyObject_RichCompareBool(x.ptr(), lower.ptr(), Py_LT) == 1)
      out.append(lower);
    else if (PyObject_RichCompareBool(x.ptr(), upper.ptr(), Py_GT) == 1)
      out.append(upper);
    else
      out.append(x);
    if (PyErr_Occurred()) throw nb::python_error();
  }
  return out;
}

nb::object indexAndBinaryToInt(nb::handle indices, nb::handle bits) {
  nb::list clamped = coerce(bits, nb::int_(0), nb::int_(1));
  if (!PyList_Check(indices.ptr()) && !PyTuple_Check(indices.ptr())) wrongType("index_list", "a list of ints", indices);
  const auto idx = nb::borrow<nb::sequence>(indices);
  const std::size_t n = std::min(nb::len(idx), nb::len(clamped));
  nb::object result = nb::int_(0);
  for (std::size_t k = 0; k < n; ++k) {
    nb::object bit = intArg(clamped[k], "binary_list");
    nb::object shifted = checked(PyNumber_Lshift(bit.ptr(), indexArg(idx[k], "index_list").ptr()));
    result = checked(PyNumber_Or(result.ptr(), shifted.ptr()));
  }
  return result;
}

nb::list adjustDataList(nb::handle list, nb::handle length, nb::handle padding) {
  if (!PyList_Check(list.ptr()) && !PyTuple_Check(list.ptr())) wrongType("data_list", "a list", list);
  const int n = Arg<int>::from(length, "list_length");
  const int pad = Arg<int>::from(padding, "padding_num");
  if (n < 0 || pad < 0) throw Error(Err::InputDataNotInRangeError, "list_length and padding_num must not be negative.");
  const auto seq = nb::borrow<nb::sequence>(list);
  const std::size_t have = nb::len(seq);
  nb::list out;
  if (have >= static_cast<std::size_t>(n)) {
    for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) out.append(seq[i]);
    return out;
  }
  // Shorter input: `padding_num` zeros in front, zeros at the end up to list_length entries of data.
  for (int i = 0; i < pad; ++i) out.append(nb::int_(0));
  for (std::size_t i = 0; i < have; ++i) out.append(seq[i]);
  for (std::size_t i = have; i < static_cast<std::size_t>(n); ++i) out.append(nb::int_(0));
  return out;
}

nb::list ipTo4U8(nb::handle ip) { return byteList(ipv4Bytes(Arg<std::string>::from(ip, "ip"), "ip")); }

nb::list macTo6U8(nb::handle mac) {
  const std::string text = Arg<std::string>::from(mac, "mac");
  nb::list out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t colon = text.find(':', start);
    const std::string field = text.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    nb::object value = nb::steal(PyLong_FromString(field.c_str(), nullptr, 16));
    if (!value.is_valid() || field.empty()) {
      PyErr_Clear();
      throw Error(Err::InputDataNotInRangeError, "'" + text + "' is not a MAC address.");
    }
    out.append(value);
    if (colon == std::string::npos) return out;
    start = colon + 1;
  }
}

nb::object typeTuple(nb::handle types) {
  if (PySet_Check(types.ptr()) || PyFrozenSet_Check(types.ptr()) || PyList_Check(types.ptr()))
    return nb::tuple(nb::borrow(types));
  return nb::borrow(types);
}

void checkInputType(nb::handle data, nb::handle types) {
  const int ok = PyObject_IsInstance(data.ptr(), typeTuple(types).ptr());
  if (ok < 0) throw nb::python_error();
  if (ok == 0) throw Error(Err::InputTypeNotCorrectError);
}

void checkInputTypeConsistent(nb::handle a, nb::handle b) {
  if (Py_TYPE(a.ptr()) != Py_TYPE(b.ptr())) throw Error(Err::InputTypeNotConsistentError);
}

void checkEachItemInRange(nb::handle list, nb::handle low, nb::handle high, nb::handle msg) {
  if (!PyList_Check(list.ptr()) && !PyTuple_Check(list.ptr())) wrongType("int_list", "a list", list);
  for (nb::handle x : nb::borrow<nb::sequence>(list)) {
    const int lo = PyObject_RichCompareBool(low.ptr(), x.ptr(), Py_LE);
    const int hi = PyObject_RichCompareBool(x.ptr(), high.ptr(), Py_LE);
    if (lo < 0 || hi < 0) throw nb::python_error();
    if (lo == 0 || hi == 0) {
      if (msg.is_none()) throw Error(Err::InputDataNotInRangeError);
      throw Error(Err::InputDataNotInRangeError, nb::cast<std::string>(nb::str(msg)));
    }
  }
}

bool checkFuncPinMap(nb::handle pinmap, nb::handle allowed, nb::handle cell) {
  nb::object pin = nb::steal(PySequence_GetItem(cell.ptr(), 1));
  if (!pin.is_valid()) throw nb::python_error();
  nb::object state = nb::steal(PyObject_GetItem(pinmap.ptr(), pin.ptr()));
  if (!state.is_valid()) {  // no such pin in the map: it cannot be in an allowed state
    PyErr_Clear();
    return false;
  }
  const int in = PySequence_Contains(allowed.ptr(), state.ptr());
  if (in < 0) throw nb::python_error();
  return in == 1;
}

bool checkPinMap(nb::handle pinmap, nb::handle allowed, nb::handle cells) {
  for (nb::handle cell : nb::borrow<nb::iterable>(cells))
    if (!checkFuncPinMap(pinmap, allowed, cell)) return false;
  return true;
}

}  // namespace

void bindHelpers(nb::module_& m) {
  m.def("clearBit", &clearBit, nb::arg("number").none(), nb::arg("index").none(),
        nb::sig("def clearBit(number: int, index: int) -> int"), "number with bit `index` cleared.");
  m.def("readBit", &readBit, nb::arg("number").none(), nb::arg("index").none(), nb::sig("def readBit(number: int, index: int) -> int"),
        "Bit `index` of number (0 or 1).");
  m.def("fillBit", &fillBit, nb::arg("number").none(), nb::arg("index").none(), nb::sig("def fillBit(number: int, index: int) -> int"),
        "number with bit `index` set.");
  m.def(
      "writeBit",
      [](nb::handle number, nb::handle index, nb::handle value) {
        const bool one = nb::cast<bool>(checked(PyObject_RichCompare(value.ptr(), nb::int_(1).ptr(), Py_EQ)));
        return one ? fillBit(number, index) : clearBit(number, index);
      },
      nb::arg("number").none(), nb::arg("index").none(), nb::arg("value").none(),
      nb::sig("def writeBit(number: int, index: int, value: int) -> int"),
      "fillBit when value is 1, else clearBit.");
  m.def(
      "changeToKORUPort", [](nb::handle slot) { return checked(PyNumber_Subtract(intArg(slot, "slot").ptr(), nb::int_(1).ptr())); },
      nb::arg("slot").none(), nb::sig("def changeToKORUPort(slot: int) -> int"), "The wire port of a Koru slot: slot - 1.");

  m.def("convert2U8ToU16", &unpackInt<std::uint16_t>, nb::arg("int_list").none(), nb::sig("def convert2U8ToU16(int_list: list[int]) -> int"));
  m.def("convert4U8ToU32", &unpackInt<std::uint32_t>, nb::arg("int_list").none(), nb::sig("def convert4U8ToU32(int_list: list[int]) -> int"));
  m.def("convert8U8ToU64", &unpackInt<std::uint64_t>, nb::arg("int_list").none(), nb::sig("def convert8U8ToU64(int_list: list[int]) -> int"));
  m.def("convert2U8ToI16", &unpackInt<std::int16_t>, nb::arg("int_list").none(), nb::sig("def convert2U8ToI16(int_list: list[int]) -> int"));
  m.def("convert4U8ToI32", &unpackInt<std::int32_t>, nb::arg("int_list").none(), nb::sig("def convert4U8ToI32(int_list: list[int]) -> int"));
  m.def("convert8U8ToI64", &unpackInt<std::int64_t>, nb::arg("int_list").none(), nb::sig("def convert8U8ToI64(int_list: list[int]) -> int"));
  m.def(
      "convert4U8ToF32",
      [](nb::handle l) {
        const Bytes b = Arg<Bytes>::from(l, "int_list");
        requireWidth(b, 4, "int_list");
        return static_cast<double>(readF32BE(b));
      },
      nb::arg("int_list").none(), nb::sig("def convert4U8ToF32(int_list: list[int]) -> float"));
  m.def(
      "convert8U8ToF64",
      [](nb::handle l) {
        const Bytes b = Arg<Bytes>::from(l, "int_list");
        requireWidth(b, 8, "int_list");
        return readF64BE(b);
      },
      nb::arg("int_list").none(), nb::sig("def convert8U8ToF64(int_list: list[int]) -> float"));
  m.def("convertU16To2U8", &packInt<std::uint16_t>, nb::arg("value").none(), nb::sig("def convertU16To2U8(value: int) -> list[int]"));
  m.def("convertU32To4U8", &packInt<std::uint32_t>, nb::arg("value").none(), nb::sig("def convertU32To4U8(value: int) -> list[int]"));
  m.def("convertU64To8U8", &packInt<std::uint64_t>, nb::arg("value").none(), nb::sig("def convertU64To8U8(value: int) -> list[int]"));
  m.def("convertI16To2U8", &packInt<std::int16_t>, nb::arg("value").none(), nb::sig("def convertI16To2U8(value: int) -> list[int]"));
  m.def("convertI32To4U8", &packInt<std::int32_t>, nb::arg("value").none(), nb::sig("def convertI32To4U8(value: int) -> list[int]"));
  m.def("convertI64To8U8", &packInt<std::int64_t>, nb::arg("value").none(), nb::sig("def convertI64To8U8(value: int) -> list[int]"));
  m.def(
      "convertF32To4U8",
      [](nb::handle v) {
        Bytes out;
        appendF32BE(out, Arg<double>::from(v, "value"));
        return byteList(out);
      },
      nb::arg("value").none(), nb::sig("def convertF32To4U8(value: float) -> list[int]"));
  m.def(
      "convertF64To8U8",
      [](nb::handle v) {
        Bytes out;
        appendF64BE(out, Arg<double>::from(v, "value"));
        return byteList(out);
      },
      nb::arg("value").none(), nb::sig("def convertF64To8U8(value: float) -> list[int]"));

  m.def(
      "convertU8ListToStr", [](nb::handle l) { return decodeText(Arg<Bytes>::from(l, "int_list")); }, nb::arg("int_list").none(),
      nb::sig("def convertU8ListToStr(int_list: list[int]) -> str"),
      "The bytes up to the first NUL decoded as UTF-8 (invalid bytes become U+FFFD).");
  m.def(
      "convertStrToU8List",
      [](nb::handle s) {
        nb::list out;
        for (std::int64_t c : codePoints(Arg<std::string>::from(s, "string"))) out.append(nb::int_(c));
        return out;
      },
      nb::arg("string").none(), nb::sig("def convertStrToU8List(string: str) -> list[int]"),
      "The character codes of the text.");
  m.def("convertIPAddrTo4U8", &ipTo4U8, nb::arg("ip").none(), nb::sig("def convertIPAddrTo4U8(ip: str) -> list[int]"),
        "The four bytes of a dotted IPv4 address.");
  m.def("convertMACAddrTo6U8", &macTo6U8, nb::arg("mac").none(), nb::sig("def convertMACAddrTo6U8(mac: str) -> list[int]"),
        "The hexadecimal fields of a colon-separated MAC address.");

  m.def("convertIntToBinaryList", &binaryList, nb::arg("value_int").none(), nb::arg("width").none(),
        nb::sig("def convertIntToBinaryList(value_int: int, width: int) -> list[int]"),
        "Exactly `width` bits of the value, least significant first.");
  m.def("convertIntToIndexList", &indexList, nb::arg("value").none(), nb::sig("def convertIntToIndexList(value: int) -> list[int]"),
        "Positions of the set bits, ascending.");
  m.def("convertIndexListToInt", &indexListToInt, nb::arg("index_list").none(),
        nb::sig("def convertIndexListToInt(index_list: list[int]) -> int"), "OR of 1 << index over the indices.");
  m.def("convertIndexAndBinaryListsToInt", &indexAndBinaryToInt, nb::arg("index_list").none(), nb::arg("binary_list").none(),
        nb::sig("def convertIndexAndBinaryListsToInt(index_list: list[int], binary_list: list[int]) -> int"),
        "OR of (bit << index) over the pairs, bits clamped to 0..1.");
  m.def("coerce", &coerce, nb::arg("list_").none(), nb::arg("lower").none() = 0, nb::arg("upper").none() = 1,
        nb::sig("def coerce(list_: list, lower: float = 0, upper: float = 1) -> list"),
        "Every entry clamped to [lower, upper].");
  m.def("adjustDataList", &adjustDataList, nb::arg("data_list").none(), nb::arg("list_length").none() = 8, nb::arg("padding_num").none() = 0,
        nb::sig("def adjustDataList(data_list: list, list_length: int = 8, padding_num: int = 0) -> list"),
        "Truncated or zero-padded to list_length entries (padding_num zeros in front of a short list).");

  m.def("checkInputType", &checkInputType, nb::arg("data").none(), nb::arg("correct_type").none(),
        nb::sig("def checkInputType(data: object, correct_type: type | tuple | set) -> None"),
        "InputTypeNotCorrectError unless data is an instance of correct_type.");
  m.def("checkInputTypeConsistent", &checkInputTypeConsistent, nb::arg("data").none(), nb::arg("data2").none(),
        nb::sig("def checkInputTypeConsistent(data: object, data2: object) -> None"),
        "InputTypeNotConsistentError unless both values have the same type.");
  m.def("checkEachItemInRange", &checkEachItemInRange, nb::arg("int_list").none(), nb::arg("low").none() = 0, nb::arg("high").none() = 255,
        nb::arg("msg").none() = nb::none(),
        nb::sig("def checkEachItemInRange(int_list: list, low: int = 0, high: int = 255, msg: str | None = None) -> None"),
        "InputDataNotInRangeError (with msg) at the first item outside low..high.");
  m.def("checkFuncPinMap", &checkFuncPinMap, nb::arg("pinmap_list").none(), nb::arg("allow_state_list").none(), nb::arg("cell").none(),
        nb::sig("def checkFuncPinMap(pinmap_list: list, allow_state_list: list, cell: tuple) -> bool"),
        "Whether the pin cell[1] of the map is in one of the allowed states.");
  m.def("checkPinMap", &checkPinMap, nb::arg("pinmap_list").none(), nb::arg("allow_state_list").none(), nb::arg("cell_list").none(),
        nb::sig("def checkPinMap(pinmap_list: list, allow_state_list: list, cell_list: list) -> bool"),
        "checkFuncPinMap for every cell.");
}

}  // namespace zelvo::py
