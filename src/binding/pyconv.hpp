// Conversions between Python values and the C++ types operations take and return. Type checks
// raise the library's InputTypeNotCorrectError (a Python bool counts as an int, a float does not);
// value checks are the operations' own business.
#pragma once

#include <nanobind/nanobind.h>

#include <concepts>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "zelvo/core/bytes.hpp"
#include "zelvo/dio/pin_selection.hpp"

namespace zelvo::py {

namespace nb = nanobind;

// InputTypeNotCorrectError for an argument `name` that is not `expected`.
[[noreturn]] void wrongType(const char* name, const char* expected, nb::handle got);
// The value as a Python int when it is an integer (an int, a bool, or an integer scalar of numpy
// and the like, through __index__); null otherwise.
nb::object integerOrNull(nb::handle h);

// --- Python -> C++ -------------------------------------------------------------------------------

template <class T>
struct Arg;

template <>
struct Arg<std::int64_t> {
  static constexpr const char* pyName = "int";
  static std::int64_t from(nb::handle h, const char* name);
};
template <>
struct Arg<int> {
  static constexpr const char* pyName = "int";
  static int from(nb::handle h, const char* name);
};
template <>
struct Arg<double> {
  static constexpr const char* pyName = "float";
  static double from(nb::handle h, const char* name);  // int or float
};
template <>
struct Arg<bool> {
  static constexpr const char* pyName = "bool";
  static bool from(nb::handle h, const char* name);
};
template <>
struct Arg<std::string> {
  static constexpr const char* pyName = "str";
  static std::string from(nb::handle h, const char* name);
};
// A list (or tuple) of ints; bytes and bytearray are accepted too.
template <>
struct Arg<std::vector<std::int64_t>> {
  static constexpr const char* pyName = "list[int]";
  static std::vector<std::int64_t> from(nb::handle h, const char* name);
};
template <>
struct Arg<std::vector<int>> {
  static constexpr const char* pyName = "list[int]";
  static std::vector<int> from(nb::handle h, const char* name);
};
// A list (or tuple) of numbers, each an int or a float.
template <>
struct Arg<std::vector<double>> {
  static constexpr const char* pyName = "list[float]";
  static std::vector<double> from(nb::handle h, const char* name);
};
// A list of texts.
template <>
struct Arg<std::vector<std::string>> {
  static constexpr const char* pyName = "list[str]";
  static std::vector<std::string> from(nb::handle h, const char* name);
};
// A payload: a list of byte values (each 0..255, else InputDataNotInRangeError).
template <>
struct Arg<Bytes> {
  static constexpr const char* pyName = "list[int]";
  static Bytes from(nb::handle h, const char* name);
};
// An int or a list of ints (pin bitmask or index list; level word or level list). A tuple is
// neither.
template <>
struct Arg<PinSelection> {
  static constexpr const char* pyName = "int | list[int]";
  static PinSelection from(nb::handle h, const char* name);
};
template <class T>
struct Arg<std::optional<T>> {
  static constexpr const char* pyName = Arg<T>::pyName;  // "| None" added by the signature builder
  static std::optional<T> from(nb::handle h, const char* name) {
    if (h.is_none()) return std::nullopt;
    return Arg<T>::from(h, name);
  }
};

// --- C++ -> Python -------------------------------------------------------------------------------

template <class T>
struct Result;

template <>
struct Result<void> {
  static constexpr const char* pyName = "None";
};
template <>
struct Result<int> {
  static constexpr const char* pyName = "int";
  static nb::object to(int v) { return nb::int_(v); }
};
// Counts, masks and other integers of any width.
template <std::integral T>
struct Result<T> {
  static constexpr const char* pyName = "int";
  static nb::object to(T v) { return nb::int_(v); }
};
template <>
struct Result<bool> {
  static constexpr const char* pyName = "bool";
  static nb::object to(bool v) { return nb::bool_(v); }
};
template <>
struct Result<double> {
  static constexpr const char* pyName = "float";
  static nb::object to(double v) { return nb::float_(v); }
};
template <>
struct Result<std::string> {
  static constexpr const char* pyName = "str";
  static nb::object to(const std::string& v) { return nb::str(v.data(), v.size()); }
};
template <>
struct Result<Bytes> {
  static constexpr const char* pyName = "bytes";
  static nb::object to(const Bytes& v) { return nb::bytes(reinterpret_cast<const char*>(v.data()), v.size()); }
};
template <>
struct Result<std::optional<Bytes>> {
  static constexpr const char* pyName = "bytes | None";
  static nb::object to(const std::optional<Bytes>& v) { return v ? Result<Bytes>::to(*v) : nb::none(); }
};
template <>
struct Result<std::set<Bytes>> {
  static constexpr const char* pyName = "set[bytes]";
  static nb::object to(const std::set<Bytes>& v);
};
template <>
struct Result<std::vector<int>> {
  static constexpr const char* pyName = "list[int]";
  static nb::object to(const std::vector<int>& v);
};
template <>
struct Result<std::vector<double>> {
  static constexpr const char* pyName = "list[float]";
  static nb::object to(const std::vector<double>& v);
};
template <>
struct Result<std::vector<std::int64_t>> {
  static constexpr const char* pyName = "list[int]";
  static nb::object to(const std::vector<std::int64_t>& v);
};
// Pin references as (port, pin) tuples.
template <>
struct Result<std::vector<std::pair<int, int>>> {
  static constexpr const char* pyName = "list[tuple[int, int]]";
  static nb::object to(const std::vector<std::pair<int, int>>& v);
};
template <>
struct Result<std::vector<std::string>> {
  static constexpr const char* pyName = "list[str]";
  static nb::object to(const std::vector<std::string>& v);
};
template <>
struct Result<std::vector<std::vector<std::string>>> {
  static constexpr const char* pyName = "list[list[str]]";
  static nb::object to(const std::vector<std::vector<std::string>>& v);
};
// Items taken from a stream queue: one item comes back as the list of its elements, several as a
// list of items.
struct StreamItems {
  std::vector<Bytes> items;
};
template <>
struct Result<StreamItems> {
  static constexpr const char* pyName = "list";
  static nb::object to(const StreamItems& v);
};
template <>
struct Result<nb::object> {
  static constexpr const char* pyName = "typing.Any";
  static nb::object to(nb::object v) { return v; }
};
template <>
struct Result<nb::list> {
  static constexpr const char* pyName = "list";
  static nb::object to(nb::list v) { return v; }
};

template <class T>
nb::object toPy(T&& v) {
  return Result<std::decay_t<T>>::to(std::forward<T>(v));
}

// Bytes as a list of ints.
nb::list byteList(ByteView b);

// A tuple of results as a Python tuple of their conversions.
template <class... T>
struct Result<std::tuple<T...>> {
  static inline const std::string pyName = [] {
    std::string s;
    ((s += (s.empty() ? "" : ", ") + std::string(Result<T>::pyName)), ...);
    return "tuple[" + s + "]";
  }();
  static nb::object to(const std::tuple<T...>& v) {
    return std::apply([](const auto&... item) { return nb::object(nb::make_tuple(toPy(item)...)); }, v);
  }
};
// A value that may be missing: None then.
template <class T>
struct Result<std::optional<T>> {
  static inline const std::string pyName = std::string(Result<T>::pyName) + " | None";
  static nb::object to(const std::optional<T>& v) { return v ? toPy(*v) : nb::none(); }
};
// A map keyed by int as a dict.
template <class V>
struct Result<std::map<int, V>> {
  static inline const std::string pyName = "dict[int, " + std::string(Result<V>::pyName) + "]";
  static nb::object to(const std::map<int, V>& m) {
    nb::dict d;
    for (const auto& [key, value] : m) d[nb::int_(key)] = toPy(value);
    return d;
  }
};

}  // namespace zelvo::py
