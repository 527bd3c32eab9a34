// The error table, the Error exception and the firmware status mapping.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "zelvo/core/errors.hpp"

namespace {

using zelvo::Err;
using zelvo::ErrorKind;

TEST(ErrorTable, NamesAndConstantsAreUniqueAndOnlyOneCodeIsShared) {
  std::set<std::string> names, constants;
  std::map<int, std::set<std::string>> by_code;
  for (const auto& row : zelvo::errorTable()) {
    EXPECT_TRUE(names.insert(row.name).second) << "duplicate class " << row.name;
    if (*row.constant) {
      EXPECT_TRUE(constants.insert(row.constant).second) << "duplicate constant " << row.constant;
    }
    by_code[row.code].insert(row.name);
    if (row.kind == ErrorKind::Error) {
      EXPECT_LT(row.code, 0) << row.name;
    }
  }
  for (const auto& [code, holders] : by_code) {
    if (code == -8900) {
      EXPECT_EQ(holders, (std::set<std::string>{"CANPortNotAvaliableError", "TVSTPortNotAvaliable"}));
    } else {
      EXPECT_EQ(holders.size(), 1U) << "code " << code << " shared by " << *holders.begin();
    }
  }
}

struct Row {
  Err id;
  const char* name;
  ErrorKind kind;
  const char* constant;
  int code;
  const char* message;
};
void PrintTo(const Row& r, std::ostream* os) { *os << r.name; }

class ErrorRow : public ::testing::TestWithParam<Row> {};

TEST_P(ErrorRow, MatchesTheDocumentedEntry) {
  const Row& r = GetParam();
  const auto& info = zelvo::errorInfo(r.id);
  EXPECT_STREQ(info.name, r.name);
  EXPECT_EQ(info.kind, r.kind);
  EXPECT_STREQ(info.constant, r.constant);
  EXPECT_EQ(info.code, r.code);
  EXPECT_STREQ(info.message, r.message);
}

INSTANTIATE_TEST_SUITE_P(
    Sample, ErrorRow,
    ::testing::Values(
        Row{Err::ReceivePacketTimeoutError, "ReceivePacketTimeoutError", ErrorKind::Error, "errPacketTimeout", -8004,
            "Receive packet timeout."},
        Row{Err::EncoderChannelNotAvaliableError, "EncoderChannelNotAvaliableError", ErrorKind::Error,
            "errEncoderChannel", -8106, "The encoder channel is not available"},
        Row{Err::TVSTPortNotAvaliable, "TVSTPortNotAvaliable", ErrorKind::Error, "", -8900,
            "The drive port is not available or is already occupied by another process."},
        Row{Err::MotionAxisError, "MotionAxisError", ErrorKind::Warning, "errMotionAxis", -9100,
            "The motion axis is not valid or is not recognized."},
        Row{Err::AIQueueOverflowWarning, "AIQueueOverflowWarning", ErrorKind::Warning, "warnAIOverflow", 520000,
            "Occurrence AI queue overflow."},
        Row{Err::ExtLibNotFoundWarning, "ExtLibNotFoundWarning", ErrorKind::Warning, "warnLibNotFound", 519000,
            "External library \"libusb-1.0.dll\" not found at indicated path will look at the default path "
            "instead"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(ErrorText, ErrorsAndWarningsFormatTheirCodeAndMessage) {
  EXPECT_STREQ(zelvo::Error(Err::ReceivePacketTimeoutError).what(), "Error -8004: Receive packet timeout.");
  const zelvo::Error custom(Err::InputDataNotInRangeError, "port 9 is not 0..3");
  EXPECT_EQ(custom.code(), -8009);
  EXPECT_EQ(custom.msg(), "port 9 is not 0..3");
  EXPECT_STREQ(custom.what(), "Error -8009: port 9 is not 0..3");
  EXPECT_STREQ(zelvo::Error(Err::AIQueueOverflowWarning).what(), "Warning 520000: Occurrence AI queue overflow.");
}

// Every firmware status with its error class, as the firmware documents them.
const std::map<int, Err> kStatuses = {
    {10, Err::FirmwareEnableError},     {11, Err::FirmwarePinIndexError}, {12, Err::FirmwareHALIndexError},
    {13, Err::FirmwareZelvoIndexError}, {20, Err::FirmwareRTCError},      {21, Err::FirmwareI2CError},
    {22, Err::FirmwareSPIError},        {23, Err::FirmwareUARTError},     {24, Err::FirmwareTIMError},
    {25, Err::FirmwarePWMError},        {26, Err::FirmwarePulseError},    {27, Err::FirmwareEncoderError},
    {40, Err::FirmwareEEPROMError},     {41, Err::FirmwareOLEDError},     {42, Err::FirmwareCoreError},
    {50, Err::FirmwareDIOError},        {51, Err::FirmwareRelayError},    {52, Err::FirmwareAIError},
    {53, Err::FirmwareAOError},         {54, Err::FirmwareMotionError},   {55, Err::FirmwareDriveError},
    {56, Err::FirmwareThermalError},    {57, Err::FirmwareCANError},      {70, Err::FirmwareUSBError},
    {71, Err::FirmwareTCPError},        {72, Err::FirmwareUDPError},      {73, Err::FirmwareBootloaderError},
    {80, Err::FirmwareParserError}};

TEST(FirmwareStatus, EveryByteMapsToItsClassAndTheRestToOther) {
  EXPECT_EQ(zelvo::checkFirmwareError(0), 0);
  EXPECT_EQ(zelvo::statusResult(0), 0);
  for (int status = 1; status <= 255; ++status) {
    const auto it = kStatuses.find(status);
    const Err expected = it == kStatuses.end() ? Err::FirmwareOtherError : it->second;
    try {
      zelvo::checkFirmwareError(status);
      ADD_FAILURE() << "status " << status << " did not raise";
    } catch (const zelvo::Error& e) {
      EXPECT_EQ(e.id(), expected) << "status " << status << " raised " << e.info().name;
    }
    EXPECT_EQ(zelvo::statusResult(status), zelvo::errorInfo(expected).code) << "status " << status;
  }
  EXPECT_EQ(zelvo::statusResult(13), -7003);
  EXPECT_EQ(zelvo::statusResult(99), -7028);
}

}  // namespace
