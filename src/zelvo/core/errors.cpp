#include "zelvo/core/errors.hpp"

#include <array>
#include <string_view>

namespace zelvo {
namespace {

// Rows without a code constant of their own say NoConstant in the table.
constexpr const char* constantName(const char* name) {
  return std::string_view(name) == "NoConstant" ? "" : name;
}

constexpr std::array kTable = {
#define ZELVO_ERROR(name, base, constant, code, message) \
  ErrorInfo{#name, ErrorKind::base, constantName(#constant), code, message},
#include "zelvo/core/error_table.def"
#undef ZELVO_ERROR
};

// Firmware status byte -> error kind. Statuses not listed are FirmwareOtherError.
struct StatusRow {
  int status;
  Err error;
};
constexpr StatusRow kFirmwareStatus[] = {
    {10, Err::FirmwareEnableError},   {11, Err::FirmwarePinIndexError},
    {12, Err::FirmwareHALIndexError}, {13, Err::FirmwareZelvoIndexError},
    {20, Err::FirmwareRTCError},      {21, Err::FirmwareI2CError},
    {22, Err::FirmwareSPIError},      {23, Err::FirmwareUARTError},
    {24, Err::FirmwareTIMError},      {25, Err::FirmwarePWMError},
    {26, Err::FirmwarePulseError},    {27, Err::FirmwareEncoderError},
    {40, Err::FirmwareEEPROMError},   {41, Err::FirmwareOLEDError},
    {42, Err::FirmwareCoreError},     {50, Err::FirmwareDIOError},
    {51, Err::FirmwareRelayError},    {52, Err::FirmwareAIError},
    {53, Err::FirmwareAOError},       {54, Err::FirmwareMotionError},
    {55, Err::FirmwareDriveError},    {56, Err::FirmwareThermalError},
    {57, Err::FirmwareCANError},      {70, Err::FirmwareUSBError},
    {71, Err::FirmwareTCPError},      {72, Err::FirmwareUDPError},
    {73, Err::FirmwareBootloaderError}, {80, Err::FirmwareParserError},
};

}  // namespace

static_assert(kTable.size() == static_cast<std::size_t>(Err::ExtLibNotFoundWarning) + 1);

std::span<const ErrorInfo> errorTable() { return kTable; }

const ErrorInfo& errorInfo(Err e) { return kTable[static_cast<std::size_t>(e)]; }

std::string errorText(int code, std::string_view msg) {
  return "Error " + std::to_string(code) + ": " + std::string(msg);
}

std::string warningText(int code, std::string_view msg) {
  return "Warning " + std::to_string(code) + ": " + std::string(msg);
}

Error::Error(Err e) : Error(e, errorInfo(e).message) {}

Error::Error(Err e, std::string msg) : id_(e), msg_(std::move(msg)) {
  text_ = info().kind == ErrorKind::Warning ? warningText(code(), msg_) : errorText(code(), msg_);
}

int checkFirmwareError(int status) {
  if (status == 0) return 0;
  for (const auto& row : kFirmwareStatus)
    if (row.status == status) throw Error(row.error);
  throw Error(Err::FirmwareOtherError);
}

int statusResult(int status) {
  try {
    return checkFirmwareError(status);
  } catch (const Error& e) {
    return e.code();
  }
}

}  // namespace zelvo
