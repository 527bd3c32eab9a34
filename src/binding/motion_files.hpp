// The configuration-file operations both motion modules share the binding of: Motion_openCfgFile
// (its default shown as '...': a dotted text in a signature reads as a module to the stub
// generator) and Motion_loadCfgFile, whose port is keyword-only after the time-out.
#pragma once

#include <optional>
#include <string>

#include "binding/motion_views.hpp"
#include "binding/ops.hpp"

namespace zelvo::py {

template <class Module>
void bindOpenCfgFile(nb::handle cls) {
  const char* doc =
      "Names the configuration file (default 'test.ini'): IniFileNotFoundError when it does not exist,\n"
      "then IniFileExtensionNameError unless it ends in '.ini'. Returns 0.";
  nb::setattr(cls, "Motion_openCfgFile",
              nb::cpp_function(
                  [](Device& self, nb::handle filename) {
                    const std::string f = Arg<std::string>::from(filename, "filename");
                    return runBlockingWith<int>(self, DEFAULT_TIMEOUT,
                                                [&](Call& c) { return moduleOf<Module>(self).openCfgFile(c, f); });
                  },
                  nb::scope(cls), nb::name("Motion_openCfgFile"), nb::is_method(),
                  nb::arg("filename").none() = kDefaultIniFile,
                  nb::sig("def Motion_openCfgFile(self, filename: str = ...) -> int"), doc));
  nb::setattr(cls, "Motion_openCfgFile_async",
              nb::cpp_function(
                  [](nb::handle self_obj, nb::handle filename) {
                    const std::string f = Arg<std::string>::from(filename, "filename");
                    Device& self = nb::cast<Device&>(self_obj);
                    return makeAwaitable<int>("Motion_openCfgFile_async", self_obj, Call::awaitable(self),
                                              [&self, f](Call& c) { return moduleOf<Module>(self).openCfgFile(c, f); });
                  },
                  nb::scope(cls), nb::name("Motion_openCfgFile_async"), nb::is_method(),
                  nb::arg("filename").none() = kDefaultIniFile,
                  nb::sig("def Motion_openCfgFile_async(self, filename: str = ...) -> "
                          "collections.abc.Coroutine[typing.Any, typing.Any, int]"),
                  doc));
}

template <class Module>
void bindLoadCfgFile(nb::handle cls) {
  const char* doc =
      "Reads the file and re-programs each axis from it, on `port` (default: wire port 0); 0 or the first\n"
      "failing step's negative code. IniFileNotFoundError when the file cannot be read.";
  nb::setattr(cls, "Motion_loadCfgFile",
              nb::cpp_function(
                  [](Device& self, nb::handle timeout, nb::handle port) {
                    const double t = Arg<double>::from(timeout, "timeout");
                    const std::optional<int> p = Arg<std::optional<int>>::from(port, "port");
                    return runBlockingWith<int>(self, t,
                                                [&](Call& c) { return moduleOf<Module>(self).loadCfgFile(c, p); });
                  },
                  nb::scope(cls), nb::name("Motion_loadCfgFile"), nb::is_method(),
                  nb::arg("timeout").none() = DEFAULT_TIMEOUT, nb::kw_only(), nb::arg("port").none() = nb::none(),
                  nb::sig("def Motion_loadCfgFile(self, timeout: float = 3, *, port: int | None = None) -> int"),
                  doc));
  nb::setattr(cls, "Motion_loadCfgFile_async",
              nb::cpp_function(
                  [](nb::handle self_obj, nb::handle port) {
                    const std::optional<int> p = Arg<std::optional<int>>::from(port, "port");
                    Device& self = nb::cast<Device&>(self_obj);
                    return makeAwaitable<int>("Motion_loadCfgFile_async", self_obj, Call::awaitable(self),
                                              [&self, p](Call& c) { return moduleOf<Module>(self).loadCfgFile(c, p); });
                  },
                  nb::scope(cls), nb::name("Motion_loadCfgFile_async"), nb::is_method(), nb::kw_only(),
                  nb::arg("port").none() = nb::none(),
                  nb::sig("def Motion_loadCfgFile_async(self, *, port: int | None = None) -> "
                          "collections.abc.Coroutine[typing.Any, typing.Any, int]"),
                  doc));
}

}  // namespace zelvo::py
