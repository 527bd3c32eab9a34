// The motion chip's register layer: the table itself, the payload of every data form against
// frames written out by hand, and the two reply conventions (status at byte 6, values from byte 3
// or 5 with their signs) in both families.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "support/bench.hpp"
#include "zelvo/motion/mcx514_driver.hpp"

namespace {

using zelvo::Bytes;
using zelvo::mcx514::Fit;
using zelvo::mcx514::kRegisterOps;
using zelvo::mcx514::RegisterOp;

const RegisterOp& named(const char* name) {
  for (const RegisterOp& op : kRegisterOps)
    if (std::strcmp(op.name, name) == 0) return op;
  throw std::invalid_argument(name);
}

TEST(MCX514Table, HasEveryOperationOnceAndConstantsNamedByTheirCode) {
  EXPECT_EQ(std::size(kRegisterOps), 182u);
  std::set<std::string> names;
  for (const RegisterOp& op : kRegisterOps) EXPECT_TRUE(names.insert(op.name).second) << op.name;
  // MOTION_<two hex digits>_<mnemonic>: the digits are the code.
  for (const auto& r : zelvo::mcx514::kRegisterNames) {
    const std::string name = r.name;
    ASSERT_EQ(name.substr(0, 7), "MOTION_") << name;
    EXPECT_EQ(std::stoi(name.substr(7, 2), nullptr, 16), r.code) << name;
    EXPECT_EQ(name[9], '_') << name;
  }
  EXPECT_EQ(std::size(zelvo::mcx514::kRegisterNames), 199u);
}

struct Frame {
  const char* op;
  int port, axis;
  std::int64_t first, second;
  Fit fit;
  Bytes payload;
};
void PrintTo(const Frame& f, std::ostream* os) { *os << f.op; }

class MCX514Payload : public ::testing::TestWithParam<Frame> {};

TEST_P(MCX514Payload, MatchesTheFrameWrittenOut) {
  const Frame& f = GetParam();
  EXPECT_EQ(zelvo::mcx514::registerPayload(named(f.op), f.port, f.axis, f.first, f.second, f.fit), f.payload);
}

constexpr auto W = Fit::Wrap;
constexpr auto C = Fit::Check;
INSTANTIATE_TEST_SUITE_P(
    DataForms, MCX514Payload,
    ::testing::Values(
        Frame{"_Motion_setDriveSpeed", 0, 2, 1000, 0, W, {0, 5, 4, 0, 0, 3, 232}},
        Frame{"_Motion_setDrivePositionFinishPoint", 1, 0, -1, 0, W, {1, 6, 1, 255, 255, 255, 255}},
        Frame{"_Motion_writeWR0", 3, 0, 0x1234, 0, W, {3, 224, 0, 0, 0, 0x12, 0x34}},
        Frame{"_Motion_setAccelerationCounterOffset", 0, 1, -2, 0, W, {0, 0x0D, 2, 0, 0, 0xFF, 0xFE}},
        Frame{"_Motion_splitPulse1", 0, 3, 10, 0x0120, W, {0, 0x17, 8, 0, 10, 1, 0x20}},
        Frame{"_Motion_splitPulse2", 0, 0, 7, 0, W, {0, 0x18, 1, 0, 0, 0, 7}},
        Frame{"_Motion_setGPIOValue", 0, 1, 1, 1, W, {0, 0x1C, 2, 0, 0, 1, 1}},
        Frame{"_Motion_setPIOSignal1", 0, 15, 7, 0, W, {0, 0x21, 15, 0, 0, 85, 5}},
        Frame{"_Motion_enableSoftwareLimit", 0, 0, 1, 0, W, {0, 0xCD, 1, 0, 0, 0, 1}},
        Frame{"_Motion_instantStop", 0, 3, 0, 0, W, {0, 0x57, 8, 0, 0, 0, 0}},
        Frame{"_Motion_releaseDrivingStart", 0, 5, 0, 0, W, {0, 0x78, 5, 0, 0, 0, 0}},
        Frame{"_Motion_reset", 2, 0, 0, 0, W, {2, 0xFE, 0, 0, 0, 0, 0}},
        Frame{"_Motion_resetHardware", 2, 3, 0, 0, W, {2, 0xFE, 0, 0, 0, 0, 0}},
        Frame{"_Motion_setHelicalRotationNumber", 0, 0, 3, 0, W, {0, 0x1A, 0, 0, 0, 0, 3}},
        Frame{"_Motion_writeRR3", 0, 1, 1, 0, W, {0, 0xEB, 2, 0, 0, 0, 1}},
        Frame{"_Motion_getMultiPurposeRegister0", 1, 3, 0, 0, W, {1, 0x34, 8, 0, 0, 0, 0}},
        Frame{"_Motion_enableActionSYNC0SYNC1SYNC2SYNC3", 0, 0, 0, 0, W, {0, 0x8F, 1, 0, 0, 0, 0}},
        // Service operations wrap to the field; the module's steps refuse what does not fit.
        Frame{"_Motion_setDriveSpeed", 0, 0, (std::int64_t{1} << 32) + 5, 0, W, {0, 5, 1, 0, 0, 0, 5}},
        Frame{"_Motion_setHomeSearchSpeed", 0, 0, -1, 0, W, {0, 0x14, 1, 255, 255, 255, 255}},
        Frame{"_Motion_setMultiPurposeMode", 0, 0, 0x12345, 0, W, {0, 0x20, 1, 0, 0, 0x23, 0x45}},
        Frame{"_Motion_setDrivePositionFinishPoint", 0, 0, INT32_MIN, 0, C, {0, 6, 1, 0x80, 0, 0, 0}}),
    [](const auto& p) { return std::string(p.param.op).substr(1) + "_" + std::to_string(p.index); });

struct Refused {
  const char* op;
  int port, axis;
  std::int64_t first;
};
void PrintTo(const Refused& r, std::ostream* os) { *os << r.op; }

class MCX514PayloadRefused : public ::testing::TestWithParam<Refused> {};

TEST_P(MCX514PayloadRefused, RaisesInputDataNotInRange) {
  const Refused& r = GetParam();
  try {
    zelvo::mcx514::registerPayload(named(r.op), r.port, r.axis, r.first, 0, Fit::Check);
    ADD_FAILURE() << "accepted";
  } catch (const zelvo::Error& e) {
    EXPECT_EQ(e.id(), zelvo::Err::InputDataNotInRangeError) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, MCX514PayloadRefused,
    ::testing::Values(Refused{"_Motion_setDriveSpeed", 0, 0, std::int64_t{1} << 32},
                      Refused{"_Motion_setDriveSpeed", 0, 0, -1},
                      Refused{"_Motion_setDrivePositionFinishPoint", 0, 0, std::int64_t{INT32_MAX} + 1},
                      Refused{"_Motion_setPIOSignal2", 0, 0, 0x10000},
                      Refused{"_Motion_setAccelerationCounterOffset", 0, 0, -32769},
                      Refused{"_Motion_enableHardwareLimit", 0, 0, 256},
                      Refused{"_Motion_setDriveSpeed", 256, 0, 1},          // the port is a byte
                      Refused{"_Motion_setDriveSpeed", 0, 8, 1},            // the mask of axis 8 is no byte
                      Refused{"_Motion_releaseDrivingStart", 0, 300, 0}),  // a raw axis byte
    [](const auto& p) { return std::string(p.param.op).substr(1) + "_" + std::to_string(p.index); });

// --- replies ---------------------------------------------------------------------------------------

// Answers a motion request with its first three bytes followed by `tail`.
ztest::Script answering(Bytes tail) {
  return [tail](const ztest::Request& r, int) {
    Bytes p(r.payload.begin(), r.payload.begin() + 3);
    p.insert(p.end(), tail.begin(), tail.end());
    return ztest::Answer{ztest::wireFrame(r.code, p)};
  };
}

struct Decoded {
  const char* op;
  Bytes tail;  // reply bytes 3..
  std::int64_t value;
};
void PrintTo(const Decoded& d, std::ostream* os) { *os << d.op; }

class MCX514Reply : public ::testing::TestWithParam<std::tuple<Decoded, bool>> {};

TEST_P(MCX514Reply, DecodesTheValueOrStatus) {
  const auto& [d, blocking] = GetParam();
  ztest::Bench b(answering(d.tail), "Kinora");
  const RegisterOp& op = named(d.op);
  const std::int64_t got = ztest::runIn(blocking, b.dev, 2.0, [&](zelvo::Call& c) -> zelvo::Op<std::int64_t> {
    if (op.reads()) co_return co_await zelvo::mcx514::readRegister(c, op, 0, 1);
    co_return co_await zelvo::mcx514::writeRegister(c, op, 0, 1, 5, 0, Fit::Wrap);
  });
  EXPECT_EQ(got, d.value);
}

INSTANTIATE_TEST_SUITE_P(
    Conventions, MCX514Reply,
    ::testing::Combine(
        ::testing::Values(Decoded{"_Motion_getCurrentDriveSpeed", {0, 0, 1, 0}, 256},
                          Decoded{"_Motion_getDriveSpeed", {0xFF, 0xFF, 0xFF, 0xFE}, 4294967294},
                          Decoded{"_Motion_getMultiPurposeRegister0", {255, 255, 255, 254}, -2},
                          Decoded{"_Motion_getDrivePulseNumberPoint", {0x80, 0, 0, 0}, INT32_MIN},
                          Decoded{"_Motion_getWR2", {9, 9, 0x12, 0x34}, 0x1234},
                          Decoded{"_Motion_writeRR3", {0, 0, 0x01, 0x80, 0}, 0x180},  // a trailing byte is fine
                          Decoded{"_Motion_setDriveSpeed", {0, 0, 0, 0}, 0},
                          Decoded{"_Motion_setDriveSpeed", {0, 0, 0, 54}, -7019},
                          Decoded{"_Motion_setDriveSpeed", {0, 0}, -7028}),  // too short for its status
        ::testing::Bool()),
    [](const auto& p) {
      return std::string(std::get<0>(p.param).op).substr(1) + "_" + std::to_string(p.index) +
             (std::get<1>(p.param) ? "_blocking" : "_awaitable");
    });

TEST(MCX514Reply, ReadTooShortRaisesNamingTheOperation) {
  ztest::Bench b(answering({0, 0, 1}), "Kinora");
  try {
    ztest::runIn(true, b.dev, 2.0, [&](zelvo::Call& c) { return zelvo::mcx514::readRegister(c, named("_Motion_getAcceleration"), 0, 0); });
    ADD_FAILURE() << "accepted";
  } catch (const zelvo::Error& e) {
    EXPECT_EQ(e.id(), zelvo::Err::FirmwareOtherError);
    EXPECT_NE(std::string(e.what()).find("_Motion_getAcceleration"), std::string::npos) << e.what();
  }
}

// A write whose reply never comes reports the time-out's code in both families; a read raises it.
TEST(MCX514Reply, SilenceBecomesTheTimeOutCodeOfAWrite) {
  ztest::Bench b;  // answers nothing
  for (bool blocking : {true, false}) {
    const int got = ztest::runIn(blocking, b.dev, 0.2, [&](zelvo::Call& c) {
      return zelvo::mcx514::writeRegister(c, named("_Motion_setAcceleration"), 0, 0, 1, 0, Fit::Wrap);
    });
    EXPECT_EQ(got, -8004) << (blocking ? "blocking" : "awaitable");
  }
}

TEST(MCX514Reply, RelativeDriveIsSentOnceAndItsReplyKeyedByPortRegisterAxis) {
  ztest::Bench b(answering({0, 0, 0, 0}), "Kinora");
  ztest::runIn(true, b.dev, 2.0, [&](zelvo::Call& c) {
    return zelvo::mcx514::writeRegister(c, named("_Motion_relativePositionDriving"), 0, 2, 0, 0, Fit::Wrap);
  });
  const auto sent = b.peer.requests();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].code, 208);
  EXPECT_EQ(sent[0].payload, (Bytes{0, 0x50, 4, 0, 0, 0, 0}));
  EXPECT_EQ(zelvo::mcx514::exchangeRule(named("_Motion_relativePositionDriving")).sends, zelvo::Sends::Once);
  EXPECT_EQ(zelvo::mcx514::exchangeRule(named("_Motion_setDriveSpeed")).sends, zelvo::Sends::Resend);
}

}  // namespace
