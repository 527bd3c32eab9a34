// Where the library's printed messages and warnings go. By default to the C++ standard streams;
// the Python binding routes them to sys.stdout and the warnings module, and tells the core how to
// step out of the interpreter lock around waits that other threads must be able to finish.
#pragma once

#include <functional>
#include <string>

#include "zelvo/core/errors.hpp"

namespace zelvo::console {

using PrintFn = std::function<void(const std::string&)>;
using WarnFn = std::function<void(Err kind, const std::string& msg)>;
using UnlockFn = std::function<void(const std::function<void()>&)>;
using ResourceWarnFn = std::function<void(const std::string& msg)>;

void setPrinter(PrintFn fn);
void setWarner(WarnFn fn);
void setUnlocker(UnlockFn fn);
void setResourceWarner(ResourceWarnFn fn);
// After this no hook is called again (the interpreter is going away); output goes nowhere.
void silence();

// One line of output (a newline is added).
void print(const std::string& line);
// "ClassName: text", for errors a thread reports instead of raising.
std::string genericErrorText(const std::string& class_name, const std::string& text);
void printGenericError(const Error& e);
// Emits a ZelvoWarning of this kind (printed stack and host warning).
void warn(Err kind, const std::string& msg);
void warn(Err kind);
// A resource left open (a device collected while connected): the host's ResourceWarning, which is
// silent unless the application turns warnings on. Nothing without the binding.
void resourceWarning(const std::string& msg);
// Runs f; when the calling thread holds the interpreter lock it is released meanwhile.
void withoutInterpreterLock(const std::function<void()>& f);

}  // namespace zelvo::console
