#include "zelvo/core/console.hpp"

#include <atomic>
#include <iostream>
#include <mutex>

namespace zelvo::console {
namespace {

struct Hooks {
  std::mutex m;
  PrintFn print;
  WarnFn warn;
  UnlockFn unlock;
  ResourceWarnFn resource;
  std::atomic<bool> silenced{false};
};

Hooks& hooks() {
  static Hooks* h = new Hooks();  // never destroyed: threads may report during process exit
  return *h;
}

template <class F>
F copyHook(F Hooks::*member) {
  Hooks& h = hooks();
  std::lock_guard lock(h.m);
  return h.*member;
}

}  // namespace

void setPrinter(PrintFn fn) {
  std::lock_guard lock(hooks().m);
  hooks().print = std::move(fn);
}

void setWarner(WarnFn fn) {
  std::lock_guard lock(hooks().m);
  hooks().warn = std::move(fn);
}

void setUnlocker(UnlockFn fn) {
  std::lock_guard lock(hooks().m);
  hooks().unlock = std::move(fn);
}

void setResourceWarner(ResourceWarnFn fn) {
  std::lock_guard lock(hooks().m);
  hooks().resource = std::move(fn);
}

void silence() {
  Hooks& h = hooks();
  std::lock_guard lock(h.m);
  h.silenced = true;
  h.print = nullptr;
  h.warn = nullptr;
  h.unlock = nullptr;
  h.resource = nullptr;
}

void print(const std::string& line) {
  if (hooks().silenced) return;
  if (auto fn = copyHook(&Hooks::print))
    fn(line);
  else
    std::cout << line << std::endl;
}

std::string genericErrorText(const std::string& class_name, const std::string& text) {
  return class_name + ": " + text;
}

void printGenericError(const Error& e) { print(genericErrorText(e.info().name, e.what())); }

void warn(Err kind, const std::string& msg) {
  if (hooks().silenced) return;
  if (auto fn = copyHook(&Hooks::warn))
    fn(kind, msg);
  else
    std::cerr << warningText(errorInfo(kind).code, msg) << std::endl;
}

void warn(Err kind) { warn(kind, errorInfo(kind).message); }

void resourceWarning(const std::string& msg) {
  if (hooks().silenced) return;
  if (auto fn = copyHook(&Hooks::resource)) fn(msg);
}

void withoutInterpreterLock(const std::function<void()>& f) {
  if (auto fn = copyHook(&Hooks::unlock))
    fn(f);
  else
    f();
}

}  // namespace zelvo::console
