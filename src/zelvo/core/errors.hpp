// The library's failure vocabulary: one table of error and warning kinds (error_table.def), the
// Error exception that carries an entry of it, and the firmware status mapping.
#pragma once

#include <cstdint>
#include <exception>
#include <span>
#include <string>
#include <string_view>

namespace zelvo {

enum class ErrorKind : std::uint8_t { Error, Warning };

// One row of the table.
struct ErrorInfo {
  const char* name;      // class name, e.g. "ReceivePacketTimeoutError"
  ErrorKind kind;        // raised error or ZelvoWarning
  const char* constant;  // code constant name, e.g. "errPacketTimeout"; "" when the class has none
  int code;
  const char* message;   // default message
};

enum class Err : std::uint16_t {
#define ZELVO_ERROR(name, base, constant, code, message) name,
#include "zelvo/core/error_table.def"
#undef ZELVO_ERROR
};

std::span<const ErrorInfo> errorTable();
const ErrorInfo& errorInfo(Err e);

// The exception every library failure is thrown as. The binding turns it into the Python class
// named by info().name.
class Error : public std::exception {
 public:
  explicit Error(Err e);
  Error(Err e, std::string msg);

  Err id() const noexcept { return id_; }
  const ErrorInfo& info() const noexcept { return errorInfo(id_); }
  int code() const noexcept { return info().code; }
  const std::string& msg() const noexcept { return msg_; }
  // "Error {code}: {msg}", the text form of every error.
  const char* what() const noexcept override { return text_.c_str(); }

 private:
  Err id_;
  std::string msg_;
  std::string text_;
};

// Text form shared by every error: "Error {code}: {msg}".
std::string errorText(int code, std::string_view msg);
// Text form of a warning: "Warning {code}: {msg}".
std::string warningText(int code, std::string_view msg);

// Firmware status byte -> 0 when it is 0, otherwise throws the firmware error class of that status.
int checkFirmwareError(int status);

// The status convention: the firmware status run through checkFirmwareError; a failure becomes its
// negative code instead of an exception.
int statusResult(int status);

// An awaitable operation that was cancelled by its caller.
struct Cancelled : std::exception {
  const char* what() const noexcept override { return "operation cancelled"; }
};

}  // namespace zelvo
