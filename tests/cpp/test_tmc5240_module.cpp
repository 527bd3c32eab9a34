// The stepper module against a scripted drive: the requests each operation sends (written out by
// hand) and what it returns, in both families; signed registers; statuses combined over steps;
// the checks that refuse a request before anything is sent.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <thread>

#include "support/as_text.hpp"
#include "support/bench.hpp"
#include "zelvo/motion/tmc5240_module.hpp"

namespace {

using zelvo::Bytes;
using zelvo::Call;
using zelvo::Err;
using zelvo::Op;
using zelvo::ResetFlag;
using zelvo::TMC5240Module;
using namespace std::chrono_literals;
using ztest::asText;

constexpr int kRead = 7172, kWrite = 7173, kParams = 7184, kProcState = 7296;
constexpr int kDI = 233, kDO = 234;

// What the scripted drive answers: register reads from `words` (0 otherwise) with `spi` as the
// status byte; the n-th register write (counted from 0) with result `fail_result`, others 0;
// procedures with `status`; DI reads with `di`; the parameters with `params` values.
struct Drive {
  std::map<int, std::uint32_t> words;
  int fail_at = -1;
  int fail_result = 0;
  int status = 0;
  int spi = 0;
  int di = 0;
  int params = 22;
};

Drive words(std::initializer_list<std::pair<const int, std::uint32_t>> w) {
  Drive d;
  d.words = w;
  return d;
}
Drive failingWrite(int nth, int result, std::initializer_list<std::pair<const int, std::uint32_t>> w = {}) {
  Drive d = words(w);
  d.fail_at = nth;
  d.fail_result = result;
  return d;
}
Drive status(int s) {
  Drive d;
  d.status = s;
  return d;
}

void be32(Bytes& b, std::uint32_t w) {
  b.insert(b.end(), {std::uint8_t(w >> 24), std::uint8_t(w >> 16), std::uint8_t(w >> 8), std::uint8_t(w)});
}

ztest::Script drive(Drive d) {
  auto writes = std::make_shared<int>(0);
  return [d, writes](const ztest::Request& r, int) {
    const std::uint8_t port = r.payload.at(0);
    Bytes p{port};
    switch (r.code) {
      case kRead: {
        const int reg = r.payload.at(1);
        p.insert(p.end(), {std::uint8_t(reg), std::uint8_t(d.spi)});
        be32(p, d.words.contains(reg) ? d.words.at(reg) : 0);
        break;
      }
      case kWrite: {
        const int n = (*writes)++;
        p.insert(p.end(), {r.payload.at(1), 0, 0, 0, 0, std::uint8_t(n == d.fail_at ? d.fail_result : 0)});
        break;
      }
      case kParams:
        p.insert(p.end(), {std::uint8_t(d.status), 0});
        for (int i = 0; i < d.params; ++i) be32(p, 0x01000000U + std::uint32_t(i));
        break;
      case kProcState:
        p.push_back(2);
        break;
      case kDI:
        p.insert(p.end(), {0, std::uint8_t(d.di)});
        break;
      case kDO:
        p.insert(p.end(), {0, 0});
        break;
      default:
        p.push_back(std::uint8_t(d.status));
    }
    return ztest::Answer{ztest::wireFrame(r.code, p)};
  };
}

struct StepperBench {
  explicit StepperBench(Drive d)
      : b(drive(std::move(d)), zelvo::product("TorvaneST").model), m(b.dev, *zelvo::product("TorvaneST").tvst_dict) {
    b.dev.registerModule(&m);
  }
  std::vector<std::pair<int, Bytes>> sent() const {
    std::vector<std::pair<int, Bytes>> out;
    for (const auto& r : b.peer.requests()) out.emplace_back(r.code, r.payload);
    return out;
  }
  ztest::Bench b;
  TMC5240Module m;
};

using Sent = std::vector<std::pair<int, Bytes>>;

// A register write on port 0 and a register read.
std::pair<int, Bytes> w(int reg, std::uint32_t v) {
  Bytes p{0, std::uint8_t(reg), 0};
  be32(p, v);
  return {kWrite, p};
}
std::pair<int, Bytes> r(int reg) { return {kRead, Bytes{0, std::uint8_t(reg)}}; }
// A procedure request: the code and the payload after the port byte (port 0).
std::pair<int, Bytes> proc(int code, std::initializer_list<std::uint8_t> rest) {
  Bytes p{0};
  p.insert(p.end(), rest);
  return {code, p};
}

struct Case {
  const char* name;
  Drive drive;
  std::function<Op<std::string>(TMC5240Module&, Call&)> run;
  std::string result;
  Sent sent;
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class StepperOp : public ::testing::TestWithParam<std::tuple<Case, bool>> {};

TEST_P(StepperOp, SendsItsStepsAndReturns) {
  const auto& [c, blocking] = GetParam();
  StepperBench t(c.drive);
  EXPECT_EQ(ztest::runIn(blocking, t.b.dev, 2.0, [&](Call& call) { return c.run(t.m, call); }), c.result);
  EXPECT_EQ(t.sent(), c.sent);
}

#define OP(expr) [](TMC5240Module & m, Call & c) { return asText(expr); }

constexpr int GCONF = 0x00, GSTAT = 0x01, RAMPMODE = 0x20, XACTUAL = 0x21, VACTUAL = 0x22, SWMODE = 0x34,
              XENC = 0x39, ENC_CONST = 0x3A;
const std::string kStatus55 = std::to_string(zelvo::statusResult(55));
const std::string kStatus3 = std::to_string(zelvo::statusResult(3));

// Built by calls: GCC 12 misreads maps aggregate-built in static tables.
const Drive kQuiet = words({});

const Case kCases[] = {
    // procedures
    {"velocity_move", kQuiet, OP(m.startVelocityMove(c, 0, 1000, 1, 500, 500)), "0",
     {proc(7312, {0, 0, 3, 232, 0, 0, 1, 244, 0, 0, 1, 244, 1})}},
    {"velocity_move_direction_masked", kQuiet, OP(m.startVelocityMove(c, 0, 1, 257, 2, 3)), "0",
     {proc(7312, {0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 1})}},
    {"velocity_move_refused", status(55), OP(m.startVelocityMove(c, 0, 1, 0, 1, 1)), kStatus55,
     {proc(7312, {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0})}},
    {"position_move_negative", kQuiet, OP(m.startPositionMove(c, 0, -2, 100, 10, 20, 1)), "0",
     {proc(7313, {255, 255, 255, 254, 0, 0, 0, 100, 0, 0, 0, 10, 0, 0, 0, 20, 1})}},
    {"scan_move", kQuiet, OP(m.startScanMove(c, 0, -1, 65536, 7, 9)), "0",
     {proc(7314, {255, 255, 255, 255, 0, 1, 0, 0, 0, 0, 0, 7, 0, 0, 0, 9})}},
    {"find_limit_reset_text", kQuiet, OP(m.startFindLimit(c, 0, 258, 300, 20, 40, -3, ResetFlag{true})), "0",
     {proc(7328, {2, 0, 0, 1, 44, 0, 0, 0, 20, 0, 0, 0, 40, 255, 255, 255, 253, 1})}},
    {"find_home_no_reset", kQuiet, OP(m.startFindHome(c, 0, 300, 20, 40, 1, 256, 5, ResetFlag{false})), "0",
     {proc(7329, {0, 0, 1, 44, 0, 0, 0, 20, 0, 0, 0, 40, 1, 0, 0, 0, 0, 5, 0})}},
    {"find_z", kQuiet, OP(m.startFindZPolarity(c, 0, 300, 20, 40, 0, 1, 0, ResetFlag{true})), "0",
     {proc(7330, {0, 0, 1, 44, 0, 0, 0, 20, 0, 0, 0, 40, 0, 1, 0, 0, 0, 0, 1})}},
    {"stop_process", kQuiet, OP(m.stopProcess(c, 0)), "0", {proc(7297, {})}},
    {"reset_factory", kQuiet, OP(m.resetFactory(c, 0)), "0", {proc(7188, {})}},
    {"process_state", kQuiet, OP(m.getProcessState(c, 0)), "2", {proc(kProcState, {})}},
    // register access
    {"write_raw_result", failingWrite(0, 7), OP(m.write(c, 0, 0x27, 4294967295)), "7", {w(0x27, 0xFFFFFFFF)}},
    {"write_negative", kQuiet, OP(m.write(c, 0, XACTUAL, -1)), "0", {w(XACTUAL, 0xFFFFFFFF)}},
    {"read_bytes", words({{0x27, 0x01020304}}), OP(m.read(c, 0, 0x27)), "1,2,3,4", {r(0x27)}},
    {"clear_fault", kQuiet, OP(m.clearFault(c, 0)), "0", {w(GSTAT, 31)}},
    {"set_ramp_in_table_order", kQuiet, OP(m.setRamp(c, 0)), "0",
     {w(0x23, 0), w(0x2B, 500), w(0x24, 100000), w(0x2F, 100000), w(0x26, 100000), w(0x2A, 100000), w(0x30, 100000),
      w(0x28, 100000)}},
    {"set_ramp_reports_first_failure", failingWrite(2, 3), OP(m.setRamp(c, 0)), kStatus3,
     {w(0x23, 0), w(0x2B, 500), w(0x24, 100000), w(0x2F, 100000), w(0x26, 100000), w(0x2A, 100000), w(0x30, 100000),
      w(0x28, 100000)}},
    // signed reads
    {"velocity_negative_24_bit", words({{VACTUAL, 0x00FFFFFE}}), OP(m.readCurrentVelocity(c, 0)), "-2", {r(VACTUAL)}},
    {"velocity_positive_24_bit", words({{VACTUAL, 0x007FFFFF}}), OP(m.readCurrentVelocity(c, 0)), "8388607",
     {r(VACTUAL)}},
    {"velocity_upper_byte_ignored", words({{VACTUAL, 0xAB800000}}), OP(m.readCurrentVelocity(c, 0)), "-8388608",
     {r(VACTUAL)}},
    {"encoder_and_position_signed", words({{XENC, 0xFFFFFFFF}, {XACTUAL, 0x80000000}}),
     OP(m.readEncoderPosition(c, 0)), "-1,-2147483648", {r(XENC), r(XACTUAL)}},
    {"alarm_bits_4_2_1", words({{GSTAT, 0b10110}}), OP(m.getAlarmStatus(c, 0)), "1,1,1", {r(GSTAT)}},
    {"alarm_bit_2_only", words({{GSTAT, 0b01101}}), OP(m.getAlarmStatus(c, 0)), "0,1,0", {r(GSTAT)}},
    // configuration
    {"cfg_limit_keeps_upper_bits", words({{SWMODE, 0x12345678}}), OP(m.cfgLimit(c, 0, 1, 0, 1)), "0",
     {r(SWMODE), w(SWMODE, 0x567E)}},
    {"cfg_limit_reverse_low", words({{SWMODE, 0x0000001F}}), OP(m.cfgLimit(c, 0, 0, 1, 0)), "0",
     {r(SWMODE), w(SWMODE, 0x11)}},
    {"axis_direction_inverse", words({{GCONF, 0x00010008}, {SWMODE, 0x3}}), OP(m.cfgAxisDirection(c, 0, 1)), "0",
     {r(GCONF), w(GCONF, 0x00010018), r(SWMODE), w(SWMODE, 0x13)}},
    {"axis_direction_normal", words({{GCONF, 0x18}, {SWMODE, 0x13}}), OP(m.cfgAxisDirection(c, 0, 0)), "0",
     {r(GCONF), w(GCONF, 0x08), r(SWMODE), w(SWMODE, 0x03)}},
    {"cfg_encoder_reversed_holds_first", kQuiet, OP(m.cfgEncoder(c, 0, 1, -5)), "0",
     {w(RAMPMODE, 3), w(XACTUAL, 0xFFFFFFFB), w(XENC, 0xFFFFFFFB), w(ENC_CONST, 0xFFFF0000)}},
    {"cfg_encoder_forward_unit", kQuiet, OP(m.cfgEncoder(c, 0, 0, 7)), "0",
     {w(RAMPMODE, 3), w(XACTUAL, 7), w(XENC, 7), w(ENC_CONST, 65536)}},
    {"cfg_encoder_runs_every_step_after_a_failure", failingWrite(1, 3), OP(m.cfgEncoder(c, 0, 0, 7)), kStatus3,
     {w(RAMPMODE, 3), w(XACTUAL, 7), w(XENC, 7), w(ENC_CONST, 65536)}},
    {"reset_encoder_position", kQuiet, OP(m.rstEncoderPosi(c, 0, 9)), "0", {w(RAMPMODE, 3), w(XACTUAL, 9), w(XENC, 9)}},
    // the drive's digital I/O
    {"servo_on_low", kQuiet, OP(m.enableServoOn(c, 0)), "0", {{kDO, Bytes{2, 0, 1, 0, 0}}}},
    {"servo_off_high", kQuiet, OP(m.enableServoOff(c, 0)), "0", {{kDO, Bytes{2, 0, 1, 0, 1}}}},
    {"limit_status", [] { Drive d; d.di = 0b101; return d; }(), OP(m.getLimitStatus(c, 0)), "1,0,1",
     {{kDI, Bytes{1, 0, 7}}}},
    {"open_sends_nothing", kQuiet, OP(m.open(c, 0)), "0", {}},
};

#undef OP

INSTANTIATE_TEST_SUITE_P(Ops, StepperOp, ::testing::Combine(::testing::ValuesIn(kCases), ::testing::Bool()),
                         [](const auto& p) {
                           return std::string(std::get<0>(p.param).name) + (std::get<1>(p.param) ? "_blocking" : "_awaitable");
                         });

// --- state kept by the module -----------------------------------------------------------------------

TEST(StepperModule, ReadDecodesTheSPIStatusByte) {
  Drive d = words({{XACTUAL, 1}});
  d.spi = 0x21;
  StepperBench t(d);
  ztest::runIn(true, t.b.dev, 2.0, [&](Call& c) { return t.m.read(c, 0, XACTUAL); });
  EXPECT_EQ(t.m.spiStatus(), (zelvo::SPIStatus{1, 0, 0, 0, 0, 1, 0, 0}));
  EXPECT_EQ(ztest::runIn(false, t.b.dev, 2.0, [&](Call& c) { return t.m.getInpositionStatus(c, 0); }), 1);
}

TEST(StepperModule, ParametersAreStoredOnlyFromAFullAnswerWithStatusZero) {
  struct Row {
    Drive drive;
    bool stored;
  };
  Drive refused = status(55);
  Drive short_reply;
  short_reply.params = 21;
  for (const Row& row : {Row{{}, true}, Row{refused, false}, Row{short_reply, false}}) {
    for (bool blocking : {true, false}) {
      StepperBench t(row.drive);
      const auto before = t.m.defaultTable();
      try {
        const int st = ztest::runIn(blocking, t.b.dev, 2.0, [&](Call& c) { return t.m.getParameters(c, 0); });
        EXPECT_EQ(st, row.stored ? 0 : zelvo::statusResult(55));
      } catch (const zelvo::Error& e) {
        EXPECT_EQ(e.id(), Err::FirmwareOtherError);
        EXPECT_NE(std::string(e.what()).find("Motion_getParameters"), std::string::npos);
      }
      const auto after = t.m.defaultTable();
      ASSERT_EQ(after.size(), 22u);
      for (std::size_t i = 0; i < after.size(); ++i) {
        EXPECT_EQ(after[i].reg, before[i].reg);
        EXPECT_EQ(after[i].value, row.stored ? std::int64_t(0x01000000 + i) : before[i].value) << after[i].key;
      }
    }
  }
}

TEST(StepperModule, ConfigurationIsRecordedForTheFile) {
  StepperBench t({});
  ztest::runIn(true, t.b.dev, 2.0, [&](Call& c) { return t.m.cfgAxisDirection(c, 0, 1); });
  ztest::runIn(false, t.b.dev, 2.0, [&](Call& c) { return t.m.cfgEncoder(c, 0, 1, 0); });
  ztest::runIn(true, t.b.dev, 2.0, [&](Call& c) { return t.m.cfgLimit(c, 0, 1, 0, 1); });
  const auto s = t.m.axis().snapshot().motion_dict;
  using zelvo::Setting;
  EXPECT_EQ(s.integer(Setting::InverseMotionDirection), 1);
  EXPECT_EQ(s.integer(Setting::InverseEncoderDirection), 1);
  EXPECT_EQ(s.integer(Setting::ForwardEnable), 1);
  EXPECT_EQ(s.integer(Setting::ReverseEnable), 0);
  EXPECT_EQ(s.integer(Setting::ForwardPolarity), 1);
}

TEST(StepperModule, ResendAfterALoadWritesTheEncoderFactorNotTheFlag) {
  StepperBench t({});
  ztest::runIn(true, t.b.dev, 2.0, [&](Call& c) { return t.m.cfgEncoder(c, 0, 1, 0); });
  const std::size_t n = t.sent().size();
  EXPECT_EQ(ztest::runIn(true, t.b.dev, 2.0, [&](Call& c) { return t.m.sendAllConfiguration(c, 0); }), 0);
  EXPECT_EQ(t.sent().at(n), w(ENC_CONST, 0xFFFF0000));
}

// --- refusals before anything is sent ---------------------------------------------------------------

struct Refusal {
  const char* name;
  std::function<Op<std::string>(TMC5240Module&, Call&)> run;
  Err error;
};
void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }

class StepperRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(StepperRefusal, RaisesAndSendsNothing) {
  const Refusal& r = GetParam();
  StepperBench t({});
  try {
    ztest::runIn(true, t.b.dev, 2.0, [&](Call& c) { return r.run(t.m, c); });
    ADD_FAILURE() << "accepted";
  } catch (const zelvo::Error& e) {
    EXPECT_EQ(e.id(), r.error) << e.what();
  }
  std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(t.sent().empty());
}

#define OP(expr) [](TMC5240Module & m, Call & c) { return asText(expr); }

INSTANTIATE_TEST_SUITE_P(
    Checks, StepperRefusal,
    ::testing::Values(
        Refusal{"port_1", OP(m.stopProcess(c, 1)), Err::TVSTPortNotAvaliable},
        Refusal{"port_1_register", OP(m.read(c, 1, 0)), Err::TVSTPortNotAvaliable},
        Refusal{"port_1_servo", OP(m.enableServoOn(c, 1)), Err::TVSTPortNotAvaliable},
        Refusal{"speed_0", OP(m.startVelocityMove(c, 0, 0, 0, 1, 1)), Err::InputDataNotInRangeError},
        Refusal{"deceleration_2_32", OP(m.startPositionMove(c, 0, 0, 1, 1, 4294967296, 0)), Err::InputDataNotInRangeError},
        Refusal{"position_2_31", OP(m.startPositionMove(c, 0, 2147483648, 1, 1, 1, 0)), Err::InputDataNotInRangeError},
        Refusal{"mode_256", OP(m.startPositionMove(c, 0, 0, 1, 1, 1, 256)), Err::InputDataNotInRangeError},
        Refusal{"scan_acceleration_0", OP(m.startScanMove(c, 0, 0, 1, 1, 0)), Err::InputDataNotInRangeError},
        Refusal{"offset_below_i32", OP(m.startFindLimit(c, 0, 0, 1, 1, 1, -2147483649, ResetFlag{})),
                Err::InputDataNotInRangeError},
        Refusal{"register_data_2_32", OP(m.write(c, 0, 0, 4294967296)), Err::InputDataNotInRangeError},
        Refusal{"limit_enable_2", OP(m.cfgLimit(c, 0, 2, 0, 0)), Err::MotionEnableError},
        Refusal{"limit_polarity_2", OP(m.cfgLimit(c, 0, 0, 0, 2)), Err::MotionPolarityError},
        Refusal{"axis_direction_2", OP(m.cfgAxisDirection(c, 0, 2)), Err::MotionDirectionError},
        Refusal{"encoder_direction_minus_1", OP(m.cfgEncoder(c, 0, -1, 0)), Err::MotionDirectionError},
        Refusal{"encoder_position_2_31", OP(m.rstEncoderPosi(c, 0, 2147483648)), Err::InputDataNotInRangeError}),
    [](const auto& p) { return std::string(p.param.name); });

#undef OP

}  // namespace
