// Operation results as text, so that one table of cases holds operations of every result type:
// numbers in decimal, lists joined by ',', tuples by '|'.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "zelvo/core/op.hpp"

namespace ztest {

inline std::string format(std::string s) { return s; }
inline std::string format(int v) { return std::to_string(v); }
inline std::string format(std::int64_t v) { return std::to_string(v); }
inline std::string format(bool v) { return v ? "true" : "false"; }
// Nine significant digits: every single-precision device real reads back as itself.
inline std::string format(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", v);
  return text;
}

template <class T>
std::string format(const std::optional<T>& v);

template <class T>
std::string format(const std::vector<T>& items) {
  std::string out;
  for (const auto& i : items) out += (out.empty() ? "" : ",") + format(i);
  return out;
}

template <class T>
std::string format(const std::optional<T>& v) {
  return v ? format(*v) : "None";
}

template <class... T>
std::string format(const std::tuple<T...>& parts) {
  std::string out;
  std::apply([&](const auto&... p) { ((out += (out.empty() ? "" : "|") + format(p)), ...); }, parts);
  return out;
}

template <class T>
zelvo::Op<std::string> asText(zelvo::Op<T> op) {
  co_return format(co_await std::move(op));
}

}  // namespace ztest
