// One helper per kind of member a module adds to a product class, each a row in its binder:
//   defOp     a device operation (a C++ coroutine), as two Python methods:
//               NAME(args..., timeout=3)  blocking: runs the operation on the calling thread,
//                                         interpreter lock released for the whole wait;
//               NAME_async(args...)       awaitable: returns an Operation that starts when awaited;
//   defCheck  a check or another local member: one method that sends nothing and waits for nothing;
//   defState  a read-only attribute of the module's state.
// Arguments are converted (and type-checked) by Arg<T> before anything runs; every argument is
// named (keywords work) and accepts None, so that the library's own type check reports it.
#pragma once

#include <nanobind/nanobind.h>

#include <array>
#include <exception>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "binding/awaitable.hpp"
#include "binding/errors.hpp"
#include "binding/property.hpp"
#include "binding/pyconv.hpp"
#include "zelvo/core/call.hpp"
#include "zelvo/core/device.hpp"

namespace zelvo::py {

namespace nb = nanobind;

// The module object of a device; APINotSupportError when the product has no such module.
template <class M>
M& moduleOf(Device& d) {
  M* m = d.module<M>();
  if (!m) throw Error(Err::APINotSupportError);
  return *m;
}

// Describes a module operation given as a member function pointer Op<R> (M::*)(Call&, A...).
template <auto Fn>
struct ModuleOp;
template <class M, class R, class... A, Op<R> (M::*Fn)(Call&, A...)>
struct ModuleOp<Fn> {
  using Result = R;
  using Args = std::tuple<std::decay_t<A>...>;
  static Op<R> run(Device& d, Call& c, std::decay_t<A>... a) { return (moduleOf<M>(d).*Fn)(c, std::move(a)...); }
};

// Describes a device-level operation given as a function Op<R> (*)(Device&, Call&, A...).
template <auto Fn>
struct DeviceOp;
template <class R, class... A, Op<R> (*Fn)(Device&, Call&, A...)>
struct DeviceOp<Fn> {
  using Result = R;
  using Args = std::tuple<std::decay_t<A>...>;
  static Op<R> run(Device& d, Call& c, std::decay_t<A>... a) { return Fn(d, c, std::move(a)...); }
};

template <std::size_t>
using HandleAt = nb::handle;

// How an operation's Python methods look beyond its arguments.
template <std::size_t N>
struct OpSignature {
  OpSignature() = default;
  explicit OpSignature(const std::array<const char*, N>& n) : names(n) {}
  std::array<const char*, N> names{};
  // Default values (a null object: the argument is required).
  std::array<nb::object, N> defaults{};
  // Whether the blocking method ends with timeout=3 (exchanges do; local operations do not).
  bool timeout = true;
  // Runs first, with the interpreter lock, before the arguments are taken: a refusal that must
  // come before the operation consumes anything (a package its result needs is missing).
  void (*precheck)() = nullptr;
};

// "name: type[ = default], ..." for the parameters of an operation.
template <class Args, std::size_t... I>
std::string paramList(const OpSignature<sizeof...(I)>& sig, std::index_sequence<I...>) {
  std::string s;
  [[maybe_unused]] auto one = [&](const char* name, const char* type, const nb::object& def) {
    s += std::string(", ") + name + ": " + type;
    if (def.is_valid()) s += " = " + std::string(nb::repr(def).c_str());
  };
  (one(sig.names[I], Arg<std::tuple_element_t<I, Args>>::pyName, sig.defaults[I]), ...);
  return s;
}

template <class Args, std::size_t... I>
Args convertArgs(const std::array<const char*, sizeof...(I)>& names, std::index_sequence<I...>,
                 const std::array<nb::handle, sizeof...(I)>& h) {
  return Args{Arg<std::tuple_element_t<I, Args>>::from(h[I], names[I])...};
}

// The argument descriptions for nanobind: every argument accepts None (so the library's own type
// check reports it), with its default where it has one.
template <std::uint32_t F, bool L>
nb::arg_v_t<F, L> withDefault(const nb::arg_t<F, L>& a, const nb::object& def) {
  return nb::arg_v_t<F, L>(a, nb::object(def));  // a null default leaves the argument required
}
inline auto argOf(const char* name, const nb::object& def) { return withDefault(nb::arg(name).none(), def); }

template <class OpT, class Tuple>
auto invoke(Device& d, Call& c, Tuple& args) {
  return std::apply([&](auto&... a) { return OpT::run(d, c, std::move(a)...); }, args);
}

// Runs the operation `make` creates for a blocking call, without the interpreter lock, and
// converts its result. Ctrl-C stops the wait within 100 ms and raises KeyboardInterrupt (or what
// the signal handler raised). The interpreter lock is taken back outside any unwinding: a thread
// the exiting interpreter will not let in again parks there instead of being torn down.
template <class R, class Make>
nb::object runBlockingWith(Device& self, double timeout, Make&& make) {
  SignalCheck signals;
  std::optional<std::conditional_t<std::is_void_v<R>, bool, R>> result;
  std::exception_ptr failure;
  {
    Unlocked release;
    try {
      Call call = Call::blocking(self, timeout);
      call.setInterrupt(signals.active());
      if constexpr (std::is_void_v<R>) {
        make(call).runBlocking();
        result.emplace(true);
      } else {
        result.emplace(make(call).runBlocking());
      }
    } catch (...) {
      failure = std::current_exception();
    }
  }
  signals.raiseIfFired();
  if (failure) std::rethrow_exception(failure);
  if constexpr (std::is_void_v<R>)
    return nb::none();
  else
    return toPy(std::move(*result));
}

// Runs an operation of the blocking family and converts its result.
template <class OpT>
nb::object runBlocking(Device& self, double timeout, typename OpT::Args& args) {
  return runBlockingWith<typename OpT::Result>(self, timeout, [&](Call& c) { return invoke<OpT>(self, c, args); });
}

template <class OpT>
nb::object startAwaitable(const std::string& name, nb::handle self_obj, std::shared_ptr<Call> call,
                          typename OpT::Args args) {
  using R = typename OpT::Result;
  Device& self = nb::cast<Device&>(self_obj);
  return makeAwaitable<R>(name, self_obj, std::move(call),
                          [&self, args = std::move(args)](Call& c) mutable { return invoke<OpT>(self, c, args); });
}

template <class OpT, std::size_t... I>
void defBlockingImpl(nb::handle cls, const std::string& name, const OpSignature<sizeof...(I)>& sig, const char* doc,
                     std::index_sequence<I...> seq) {
  using Args = typename OpT::Args;
  const std::string text = "def " + name + "(self" + paramList<Args>(sig, seq) +
                           (sig.timeout ? ", timeout: float = 3) -> " : ") -> ") +
                           Result<typename OpT::Result>::pyName;
  const auto names = sig.names;
  const auto precheck = sig.precheck;
  nb::object f;
  if (sig.timeout) {
    auto fn = [names, precheck, name](Device& self, HandleAt<I>... h, nb::handle timeout) -> nb::object {
      if (precheck) precheck();
      const double t = noting(name, self, DEFAULT_TIMEOUT, [&] { return Arg<double>::from(timeout, "timeout"); });
      return noting(name, self, t, [&] {
        Args args = convertArgs<Args>(names, std::index_sequence<I...>{}, {h...});
        return runBlocking<OpT>(self, t, args);
      });
    };
    f = nb::cpp_function(fn, nb::scope(cls), nb::name(name.c_str()), nb::is_method(),
                         argOf(sig.names[I], sig.defaults[I])..., nb::arg("timeout").none() = DEFAULT_TIMEOUT,
                         nb::sig(text.c_str()), doc);
  } else {
    auto fn = [names, precheck, name](Device& self, HandleAt<I>... h) -> nb::object {
      if (precheck) precheck();
      return noting(name, self, DEFAULT_TIMEOUT, [&] {
        Args args = convertArgs<Args>(names, std::index_sequence<I...>{}, {h...});
        return runBlocking<OpT>(self, DEFAULT_TIMEOUT, args);
      });
    };
    f = nb::cpp_function(fn, nb::scope(cls), nb::name(name.c_str()), nb::is_method(),
                         argOf(sig.names[I], sig.defaults[I])..., nb::sig(text.c_str()), doc);
  }
  nb::setattr(cls, name.c_str(), f);
}

template <class OpT, std::size_t... I>
void defAwaitableImpl(nb::handle cls, const std::string& name, const OpSignature<sizeof...(I)>& sig, const char* doc,
                      std::index_sequence<I...> seq) {
  using Args = typename OpT::Args;
  const std::string text = "def " + name + "(self" + paramList<Args>(sig, seq) +
                           ") -> collections.abc.Coroutine[typing.Any, typing.Any, " +
                           Result<typename OpT::Result>::pyName + "]";
  const auto names = sig.names;
  const auto precheck = sig.precheck;
  auto fn = [names, name, precheck](nb::handle self_obj, HandleAt<I>... h) -> nb::object {
    if (precheck) precheck();
    Device& self = nb::cast<Device&>(self_obj);
    return noting(name, self, PACKET_TIMEOUT, [&] {
      Args args = convertArgs<Args>(names, std::index_sequence<I...>{}, {h...});
      return startAwaitable<OpT>(name, self_obj, Call::awaitable(self), std::move(args));
    });
  };
  nb::object f = nb::cpp_function(fn, nb::scope(cls), nb::name(name.c_str()), nb::is_method(),
                                  argOf(sig.names[I], sig.defaults[I])..., nb::sig(text.c_str()), doc);
  nb::setattr(cls, name.c_str(), f);
}

// A module operation (a member of a module) or a device operation (a function of the device).
template <auto Fn>
using OpOf = std::conditional_t<std::is_member_function_pointer_v<decltype(Fn)>, ModuleOp<Fn>, DeviceOp<Fn>>;

// Both methods of an operation, with defaults or without a time-out (see OpSignature).
template <auto Fn, std::size_t N = std::tuple_size_v<typename OpOf<Fn>::Args>>
void defOpWith(nb::handle cls, const char* name, const OpSignature<N>& sig, const char* doc) {
  using OpT = OpOf<Fn>;
  static_assert(N == std::tuple_size_v<typename OpT::Args>, "one name per argument");
  defBlockingImpl<OpT>(cls, name, sig, doc, std::make_index_sequence<N>{});
  defAwaitableImpl<OpT>(cls, std::string(name) + "_async", sig, doc, std::make_index_sequence<N>{});
}

// Both methods of a module operation whose arguments are all required:
//   defOp<&SystemModule::getRTC>(cls, "Sys_getRTC", {}, doc)
template <auto Fn, std::size_t N = std::tuple_size_v<typename OpOf<Fn>::Args>>
void defOp(nb::handle cls, const char* name, const std::array<const char*, N>& names, const char* doc) {
  defOpWith<Fn, N>(cls, name, OpSignature<N>(names), doc);
}

// --- local members -------------------------------------------------------------------------------

// Describes a local member: a member function of a module (const or not), a function of its
// arguments only (a static member, a free function), or a function of the device and its
// arguments (first parameter Device&).
template <auto Fn>
struct LocalOf;
template <class M, class R, class... A, R (M::*Fn)(A...) const>
struct LocalOf<Fn> {
  using Result = R;
  using Args = std::tuple<std::decay_t<A>...>;
  static R run(Device& d, std::decay_t<A>&... a) { return (moduleOf<M>(d).*Fn)(std::move(a)...); }
};
template <class M, class R, class... A, R (M::*Fn)(A...)>
struct LocalOf<Fn> {
  using Result = R;
  using Args = std::tuple<std::decay_t<A>...>;
  static R run(Device& d, std::decay_t<A>&... a) { return (moduleOf<M>(d).*Fn)(std::move(a)...); }
};
template <auto Fn, class R, class... A>
struct FunctionOfArgs {
  using Result = R;
  using Args = std::tuple<std::decay_t<A>...>;
  static R run(Device&, std::decay_t<A>&... a) { return Fn(std::move(a)...); }
};
template <auto Fn, class R, class... A>
struct FunctionOfDevice;
template <auto Fn, class R, class... A>
struct FunctionOfDevice<Fn, R, Device&, A...> {
  using Result = R;
  using Args = std::tuple<std::decay_t<A>...>;
  static R run(Device& d, std::decay_t<A>&... a) { return Fn(d, std::move(a)...); }
};
template <class... A>
constexpr bool kTakesDevice = false;
template <class... A>
constexpr bool kTakesDevice<Device&, A...> = true;
template <class R, class... A, R (*Fn)(A...)>
struct LocalOf<Fn>
    : std::conditional_t<kTakesDevice<A...>, FunctionOfDevice<Fn, R, A...>, FunctionOfArgs<Fn, R, A...>> {};

template <class R>
nb::object resultOf(auto&& run) {
  if constexpr (std::is_void_v<R>) {
    run();
    return nb::none();
  } else {
    return toPy(run());
  }
}

template <class L, std::size_t... I>
void defCheckImpl(nb::handle cls, const char* name, const OpSignature<sizeof...(I)>& sig, const char* doc,
                  std::index_sequence<I...> seq) {
  using Args = typename L::Args;
  const std::string text =
      std::string("def ") + name + "(self" + paramList<Args>(sig, seq) + ") -> " + Result<typename L::Result>::pyName;
  const auto names = sig.names;
  auto fn = [names](Device& self, HandleAt<I>... h) -> nb::object {
    Args args = convertArgs<Args>(names, std::index_sequence<I...>{}, {h...});
    return resultOf<typename L::Result>([&]() -> decltype(auto) { return L::run(self, std::get<I>(args)...); });
  };
  nb::setattr(cls, name,
              nb::cpp_function(fn, nb::scope(cls), nb::name(name), nb::is_method(),
                               argOf(sig.names[I], sig.defaults[I])..., nb::sig(text.c_str()), doc));
}

// A local member with defaults (OpSignature's names and defaults; its time-out flag and precheck
// do not apply).
template <auto Fn, std::size_t N = std::tuple_size_v<typename LocalOf<Fn>::Args>>
void defCheckWith(nb::handle cls, const char* name, const OpSignature<N>& sig, const char* doc) {
  static_assert(N == std::tuple_size_v<typename LocalOf<Fn>::Args>, "one name per argument");
  defCheckImpl<LocalOf<Fn>>(cls, name, sig, doc, std::make_index_sequence<N>{});
}

// A local member whose arguments are all required:
//   defCheck<&AIModule::checkPort>(cls, "_checkAIPort", {"port"}, doc)
template <auto Fn, std::size_t N = std::tuple_size_v<typename LocalOf<Fn>::Args>>
void defCheck(nb::handle cls, const char* name, const std::array<const char*, N>& names, const char* doc) {
  defCheckWith<Fn, N>(cls, name, OpSignature<N>(names), doc);
}

// --- state -----------------------------------------------------------------------------------------

// A read-only attribute computed by `get` from the module M (or from the device, for M = Device):
//   defState<SystemModule>(cls, "rtc_time", [](const SystemModule& s) { return s.state().rtc_time; }, doc)
template <class M, class Get>
void defState(nb::handle cls, const char* name, Get get, const char* doc) {
  using R = std::decay_t<std::invoke_result_t<Get, M&>>;
  const std::string text = std::string("def ") + name + "(self) -> " + Result<R>::pyName;
  nb::object getter = nb::cpp_function(
      [get](Device& d) -> nb::object {
        if constexpr (std::is_same_v<M, Device>) {
          return toPy(get(d));
        } else {
          return toPy(get(moduleOf<M>(d)));
        }
      },
      nb::is_method(), nb::sig(text.c_str()));
  setProperty(cls, name, getter, nb::none(), doc);
}

// The same from a member function of the module without arguments:
//   defState<&AIModule::mode>(cls, "ai_mode", "Last mode set by AI_setMode.")
template <auto Get>
void defState(nb::handle cls, const char* name, const char* doc) {
  using L = LocalOf<Get>;
  static_assert(std::tuple_size_v<typename L::Args> == 0, "a state getter takes no argument");
  defState<Device>(cls, name, [](Device& d) { return L::run(d); }, doc);
}

}  // namespace zelvo::py
