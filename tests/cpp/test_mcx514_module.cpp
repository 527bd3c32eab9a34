// The four-axis motion module against a scripted device: the register requests each operation
// sends (written out by hand) and what it returns, in both families; the checks that refuse a
// request before anything is sent; statuses combined over steps; Koru's slots.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <thread>

#include "support/as_text.hpp"
#include "support/bench.hpp"
#include "zelvo/motion/mcx514_module.hpp"

namespace {

using zelvo::Bytes;
using zelvo::Call;
using zelvo::MCX514Module;
using zelvo::Op;
using namespace std::chrono_literals;
using ztest::asText;

// What the scripted chip answers: reads from `words` by register (0 otherwise), writes with
// `fail` as the status of the n-th write (counted from 0) or 0.
struct Chip {
  std::map<int, std::uint32_t> words;
  int fail_at = -1;
  int fail_status = 0;
};

// A chip whose reads answer these words (built by a call: GCC 12 misreads maps aggregate-built in
// static tables).
Chip reads(std::initializer_list<std::pair<const int, std::uint32_t>> words, int fail_at = -1, int fail_status = 0) {
  Chip c;
  c.words = words;
  c.fail_at = fail_at;
  c.fail_status = fail_status;
  return c;
}

ztest::Script chip(Chip c) {
  auto writes = std::make_shared<int>(0);
  return [c, writes](const ztest::Request& r, int) {
    Bytes p(r.payload.begin(), r.payload.begin() + 3);
    const int reg = r.payload.at(1);
    const bool read = (reg >= 0x30 && reg <= 0x48) || (reg >= 0xE8 && reg <= 0xEF);
    if (read) {
      const std::uint32_t w = c.words.contains(reg) ? c.words.at(reg) : 0;
      p.insert(p.end(), {std::uint8_t(w >> 24), std::uint8_t(w >> 16), std::uint8_t(w >> 8), std::uint8_t(w)});
    } else {
      const int n = (*writes)++;
      p.insert(p.end(), {0, 0, 0, std::uint8_t(n == c.fail_at ? c.fail_status : 0)});
    }
    return ztest::Answer{ztest::wireFrame(r.code, p)};
  };
}

struct MotionBench {
  MotionBench(const char* product, Chip c)
      : b(chip(std::move(c)), zelvo::product(product).model), m(b.dev, *zelvo::product(product).motion) {
    b.dev.registerModule(&m);
  }
  std::vector<Bytes> sent() const {
    std::vector<Bytes> out;
    for (const auto& r : b.peer.requests()) out.push_back(r.payload);
    return out;
  }
  ztest::Bench b;
  MCX514Module m;
};

// A payload on port 0: register, axis byte, data word.
Bytes f(int reg, int axis_byte, std::uint32_t data = 0, int port = 0) {
  return {std::uint8_t(port), std::uint8_t(reg), std::uint8_t(axis_byte), std::uint8_t(data >> 24),
          std::uint8_t(data >> 16), std::uint8_t(data >> 8), std::uint8_t(data)};
}
// A read, then the write of its changed word.
std::vector<Bytes> rmw(int read, int write, int axis_byte, std::uint32_t written) {
  return {f(read, axis_byte), f(write, axis_byte, written)};
}

std::vector<Bytes> join(std::initializer_list<std::vector<Bytes>> parts) {
  std::vector<Bytes> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

struct Case {
  const char* name;
  Chip chip;
  std::function<Op<std::string>(MCX514Module&, Call&)> run;
  std::string result;
  std::vector<Bytes> sent;
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class MotionOp : public ::testing::TestWithParam<std::tuple<Case, bool>> {};

TEST_P(MotionOp, SendsItsStepsAndReturns) {
  const auto& [c, blocking] = GetParam();
  MotionBench t("Kinora", c.chip);
  EXPECT_EQ(ztest::runIn(blocking, t.b.dev, 2.0, [&](Call& call) { return c.run(t.m, call); }), c.result);
  EXPECT_EQ(t.sent(), c.sent);
}

#define OP(expr) [](MCX514Module & m, Call & c) { return asText(expr); }

// WR2 / WR3 registers: read 0x3E / 0x3F, write 0xE2 / 0xE3.
constexpr int R2 = 0x3E, W2 = 0xE2, R3 = 0x3F, W3 = 0xE3;
const Chip kQuiet = reads({});

const Case kCases[] = {
    {"open", kQuiet, OP(m.open(c, 0)), "0", {f(0x21, 15, 0x00005505)}},
    {"close_sends_nothing", kQuiet, OP(m.close(c, 0)), "0", {}},
    {"cfg_axis_one_pulse_inverted", reads({{R3, 0x0807}}), OP(m.cfgAxis(c, 0, 1, 0, 1, 1, 0)), "0",
     join({rmw(R3, W3, 2, 0x0858), rmw(R3, W3, 2, 0x0807 | 0x0800)})},
    {"cfg_axis_two_pulse", kQuiet, OP(m.cfgAxis(c, 0, 0, 1, 1, 0, 1)), "0",
     join({rmw(R3, W3, 1, 0x0080), rmw(R3, W3, 1, 0)})},
    {"cfg_limit", reads({{R2, 0x1000}}), OP(m.cfgLimit(c, 0, 3, 0, 1, 1)), "0",
     join({rmw(R2, W2, 8, 0x0800), rmw(R2, W2, 8, 0x1400)})},
    {"cfg_home", kQuiet, OP(m.cfgHome(c, 0, 0, 1, 1)), "0", join({rmw(R2, W2, 1, 0x08), rmw(R2, W2, 1, 0x04)})},
    {"cfg_inposi", kQuiet, OP(m.cfgInposi(c, 0, 0, 1, 1)), "0", join({rmw(R2, W2, 1, 0x80), rmw(R2, W2, 1, 0x40)})},
    {"cfg_alarm", kQuiet, OP(m.cfgAlarm(c, 0, 0, 1, 1)), "0", join({rmw(R2, W2, 1, 0x200), rmw(R2, W2, 1, 0x100)})},
    {"cfg_encoder_z_active_low_sets_bit_4", kQuiet, OP(m.cfgEncoder(c, 0, 2, 0)), "0", rmw(R2, W2, 4, 0x10)},
    {"cfg_jerk_sends_nothing", kQuiet, OP(m.cfgJerkAndAccelMode(c, 0, 0, 9, 1)), "0", {}},
    // Acceleration recorded before SV is derived: sqrt(10000) * 1.1 = 110.
    {"cfg_axis_move", kQuiet, OP(m.cfgAxisMove(c, 0, 1, 2, -300, -5000, 10000, 10000)), "0",
     join({{f(0x06, 2, 0xFFFFFED4), f(0x05, 2, 5000), f(0x04, 2, 110), f(0x02, 2, 10000), f(0x03, 2, 10000)},
           rmw(R3, W3, 2, 0), rmw(R2, W2, 2, 0x1000)})},
    {"asymmetric_ramp_sets_bit_1", reads({{R3, 0x0004}}), OP(m.writeAcceleration(c, 0, 0, 200, 100)), "0",
     join({{f(0x02, 1, 200), f(0x03, 1, 100)}, rmw(R3, W3, 1, 0x0002)})},
    {"equal_rates_clear_s_curve_and_asymmetric", reads({{R3, 0x0806}}), OP(m.writeAcceleration(c, 0, 0, 500, 500)), "0",
     join({{f(0x02, 1, 500), f(0x03, 1, 500)}, rmw(R3, W3, 1, 0x0800)})},
    {"start_single_default_absolute", kQuiet, OP(m.startSingleAxisMove(c, 0, 3)), "0", {f(0x54, 8)}},
    {"stop_decelerating_and_at_once", kQuiet, OP(m.stop(c, 0, 1, 1)), "0", {f(0x57, 2)}},
    {"override_position", kQuiet, OP(m.overrideAxisPosi(c, 0, 0, 77)), "0", {f(0x06, 1, 77)}},
    {"override_speed_of_a_position_move", kQuiet, OP(m.overrideAxisVelocity(c, 0, 0, -900)), "0", {f(0x05, 1, 900)}},
    {"find_ref", kQuiet, OP(m.findRef(c, 0, 2)), "0", {f(0x5A, 4)}},
    {"break_point_on_and_capture_off", kQuiet,
     [](MCX514Module& m, Call& c) -> Op<std::string> {
       const int a = co_await m.enableBreakPoint(c, 0, 0, 1);
       const int b = co_await m.enableCapture(c, 0, 0, 0);
       co_return std::to_string(a + b);
     },
     "0", {f(0x81, 1), f(0x98, 1)}},
    {"capture_mode_0_type_1", kQuiet, OP(m.cfgCapture(c, 0, 1, 1, 0)), "0", {f(0x29, 2, 91)}},
    {"capture_mode_1_type_0", kQuiet, OP(m.cfgCapture(c, 0, 1, 0, 1)), "0", {f(0x29, 2, 106)}},
    {"break_point_relative", reads({{0x30, 1000}, {0x42, 0x0400}, {0x40, 0x0007}}),
     OP(m.cfgBreakPoint(c, 0, 0, 1, 1, 50, 10, 20, 3)), "0",
     join({{f(0x17, 1, 0x000A0014), f(0x18, 1, 3)}, rmw(0x42, 0x22, 1, 0x0800), rmw(0x40, 0x20, 1, 0x0008),
           {f(0x30, 1), f(0x10, 1, 1050), f(0x26, 1, 369)}})},
    {"rst_encoder", kQuiet, OP(m.rstEncoderPosi(c, 0, 2, -1)), "0", {f(0x09, 4, 0xFFFFFFFF), f(0x0A, 4, 0xFFFFFFFF)}},
    {"set_logical", kQuiet, OP(m.setLogicalPosi(c, 0, 0, 5)), "0", {f(0x09, 1, 5)}},
    {"servo_on_writes_back_the_position", reads({{0x30, 0xFFFFFFFE}}), OP(m.enableServoOn(c, 0, 1)), "0",
     {f(0x1C, 2, 0x0101), f(0x30, 2), f(0x09, 2, 0xFFFFFFFE)}},
    {"servo_off", kQuiet, OP(m.enableServoOff(c, 0, 0)), "0", {f(0x1C, 1, 0x0100), f(0x30, 1), f(0x09, 1, 0)}},
    {"logical_position_signed", reads({{0x30, 0xFFFFFFFB}}), OP(m.getLogicalPosi(c, 0, 3)), "-5", {f(0x30, 8)}},
    {"encoder_position", reads({{0x31, 7}}), OP(m.getEncoderPosi(c, 0, 0)), "7", {f(0x31, 1)}},
    {"move_status_1_when_stopped", reads({{0xE8, 0b1011}}), OP(m.getMoveStatus(c, 0, 2)), "1", {f(0xE8, 0)}},
    {"check_ref_0_while_searching", reads({{0xE8, 0b0100}}), OP(m.checkRef(c, 0, 2)), "0", {f(0xE8, 0)}},
    {"home_status_active_low", kQuiet, OP(m.getHomeStatus(c, 0, 1)), "1", {f(0xEB, 2)}},
    {"limit_status", reads({{0xEB, 0x0080}}), OP(m.getLimitStatus(c, 0, 0)), "1,0", {f(0xEB, 1)}},
    {"capture_point_signed", reads({{0x37, 0xFFFFFF00}}), OP(m.readCapturePoint(c, 0, 0)), "-256", {f(0x37, 1)}},
    {"two_axis_line_sorted", kQuiet, OP(m.cfg2AxisLinearInterpo(c, 0, 3, -10, 1, 20, 500, 400, 300)), "0",
     join({rmw(R3, W3, 2, 0x0018), rmw(R3, W3, 8, 0x0018),
           {f(0x2A, 0, 0x004A), f(0x04, 2, 22), f(0x05, 2, 500), f(0x02, 2, 400), f(0x03, 2, 300),
            f(0x06, 2, 20), f(0x06, 8, 0xFFFFFFF6), f(0x6D, 0)}})},
    {"start_line_of_the_record", kQuiet, OP(m.startLinearInterpo(c, 0)), "0", {f(0x61, 0)}},
    {"circle_x_above_y", kQuiet, OP(m.cfgCircularInterpo(c, 0, 1, 0, 100, 0, 200, 0, 1, 1000, 100, 100)), "0",
     join({rmw(R3, W3, 2, 0x0018), rmw(R3, W3, 1, 0x0018),
           {f(0x2A, 0, 0x0053), f(0x04, 1, 11), f(0x05, 1, 1000), f(0x02, 1, 100), f(0x03, 1, 100),
            f(0x08, 2, 100), f(0x06, 2, 200), f(0x08, 1, 0), f(0x06, 1, 0)}})},
    {"start_circle_clockwise", kQuiet, OP(m.startCircularInterpo(c, 0)), "0", {f(0x64, 0)}},
    {"home_words_type_2", kQuiet, OP(m.setAutoHome1(c, 0, 0, 2, 1, 0, 20.0, 5)), "0",
     join({{f(0x23, 1, 0x807B)}, rmw(R2, W2, 1, 0x1000)})},
    {"home_words_type_1_no_offset", kQuiet, OP(m.setAutoHome1(c, 0, 0, 1, 1, 1, 0, 0)), "0",
     join({{f(0x23, 1, 0x000C)}, rmw(R2, W2, 1, 0x1000)})},
    {"home_reset_word", kQuiet, OP(m.setAutoHome2(c, 0, 0, 1)), "0", {f(0x24, 1, 6)}},
    {"home_low_speed_truncated", kQuiet, OP(m.writeHomeSpeed(c, 0, 0, 12.5, -999)), "0", {f(0x14, 1, 124)}},
    {"home_low_speed_at_least_1", kQuiet, OP(m.writeHomeSpeed(c, 0, 0, 0.01, 50)), "0", {f(0x14, 1, 1)}},
    {"offset_negated_for_forward_search", kQuiet, OP(m.writeOffsetPosition(c, 0, 0, 7, 0)), "0",
     {f(0x06, 1, 0xFFFFFFF9)}},
    {"drive_mode_velocity_backward", kQuiet, OP(m.writeDriveMode(c, 0, 1, 2, -3)), "0", {f(0x53, 2)}},
    {"first_failing_step_wins", reads({}, 1, 54), OP(m.cfgHome(c, 0, 0, 1, 1)), "-7019",
     join({rmw(R2, W2, 1, 0x08), rmw(R2, W2, 1, 0x04)})},
};

#undef OP

INSTANTIATE_TEST_SUITE_P(Ops, MotionOp, ::testing::Combine(::testing::ValuesIn(kCases), ::testing::Bool()),
                         [](const auto& p) {
                           return std::string(std::get<0>(p.param).name) + (std::get<1>(p.param) ? "_blocking" : "_awaitable");
                         });

// --- steps that depend on the records --------------------------------------------------------------

TEST(MotionModule, NegativeVelocityMoveStartsTheBackwardContinuousDrive) {
  MotionBench t("Kinora", kQuiet);
  ztest::runIn(true, t.b.dev, 2.0, [&](Call& c) { return t.m.cfgAxisMove(c, 0, 1, 2, 0, -10, 100, 100); });
  const std::size_t before = t.sent().size();
  ztest::runIn(false, t.b.dev, 2.0, [&](Call& c) { return t.m.startSingleAxisMove(c, 0, 1); });
  EXPECT_EQ(t.sent().size(), before + 1);
  EXPECT_EQ(t.sent().back(), f(0x53, 2));
  EXPECT_EQ(t.m.records().snapshot().axes[1].velocity_move_direction, 1);
}

TEST(MotionModule, MultiAxisStartHoldsEachAndReleasesTogether) {
  MotionBench t("Kinora", kQuiet);
  EXPECT_EQ(ztest::runIn(true, t.b.dev, 2.0, [&](Call& c) { return t.m.startMultiAxisMove(c, 0, {0, 2}); }), 0);
  const auto sent = t.sent();
  std::vector<Bytes> holds_and_drives;
  for (const Bytes& p : sent)
    if (p[1] == 0x77 || p[1] == 0x54 || p[1] == 0x78) holds_and_drives.push_back(p);
  EXPECT_EQ(holds_and_drives, (std::vector<Bytes>{f(0x77, 1), f(0x54, 1), f(0x77, 4), f(0x54, 4), f(0x78, 5)}));
}

TEST(MotionModule, MultiAxisStartFailingOnAnAxisStopsAndReleasesTheHeldOnes) {
  MotionBench t("Kinora", kQuiet);
  t.m.records().with([](zelvo::MCX514Records& r) { r.axes[3].velocity = 0; });  // refused when prepared
  try {
    ztest::runIn(false, t.b.dev, 2.0, [&](Call& c) { return t.m.startMultiAxisMove(c, 0, {1, 3}); });
    ADD_FAILURE() << "accepted";
  } catch (const zelvo::Error& e) {
    EXPECT_EQ(e.id(), zelvo::Err::InputDataNotInRangeError);
  }
  const auto sent = t.sent();
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(sent[sent.size() - 2], f(0x57, 2));  // axis 1 stopped at once
  EXPECT_EQ(sent.back(), f(0x78, 2));            // and released
}

TEST(MotionModule, VelocityOverrideReversesOnlyBelowZero) {
  MotionBench t("Kinora", kQuiet);
  ztest::runIn(true, t.b.dev, 2.0, [&](Call& c) { return t.m.cfgAxisMove(c, 0, 0, 2, 0, 100, 100, 100); });
  ztest::runIn(true, t.b.dev, 2.0, [&](Call& c) { return t.m.startSingleAxisMove(c, 0, 0); });
  std::size_t n = t.sent().size();
  ztest::runIn(true, t.b.dev, 2.0, [&](Call& c) { return t.m.overrideAxisVelocity(c, 0, 0, 300); });
  EXPECT_EQ(t.sent().size(), n + 1);  // same direction: the speed only
  n = t.sent().size();
  ztest::runIn(true, t.b.dev, 2.0, [&](Call& c) { return t.m.overrideAxisVelocity(c, 0, 0, -300); });
  const auto sent = t.sent();
  EXPECT_EQ(std::vector<Bytes>(sent.begin() + static_cast<std::ptrdiff_t>(n), sent.end()),
            (std::vector<Bytes>{f(0x00, 1, 0), f(0x27, 1, 230), f(0x82, 1), f(0x56, 1), f(0x05, 1, 300)}));
}

TEST(MotionModule, HelicalCalculationThatDoesNotFinishKeepsTheEarlierResult) {
  MotionBench t("Kinora", reads({{0xE8, 1}, {0x3B, 1234}}));
  t.m.records().with([](zelvo::MCX514Records& r) { r.helical_interpo.calculation_result = 99; });
  for (bool blocking : {true, false}) {
    const int st = ztest::runIn(blocking, t.b.dev, 2.0, [&](Call& c) {
      return t.m.cfgHelicalInterpo(c, 0, 100, 0, 0, 0, 1, 10, 0, 0, 1, 1000, 0, 20.0);
    });
    EXPECT_EQ(st, -8004);
    EXPECT_EQ(t.m.records().snapshot().helical_interpo.calculation_result, 99);
  }
}

TEST(MotionModule, HelicalCalculationResultIsKept) {
  MotionBench t("Kinora", reads({{0xE8, 0}, {0x3B, 1234}}));
  EXPECT_EQ(ztest::runIn(true, t.b.dev, 2.0, [&](Call& c) {
              return t.m.cfgHelicalInterpo(c, 0, 100, 0, 0, 0, 1, 10, 0, 0, 1, 1000, 1, 0.0);
            }),
            0);
  EXPECT_EQ(t.m.records().snapshot().helical_interpo.calculation_result, 1234);
  const auto sent = t.sent();
  EXPECT_EQ(sent.back(), f(0x3B, 0));
  EXPECT_EQ(sent[sent.size() - 3], f(0x6C, 0));  // counter-clockwise calculation, then RR0
}

// --- Koru: slots at the public entry, wire ports inside ----------------------------------------------

TEST(MotionModule, KoruTranslatesSlotsOnceAndChecksThem) {
  MotionBench t("Koru", kQuiet);
  ztest::runIn(true, t.b.dev, 2.0, [&](Call& c) { return t.m.rstEncoderPosi(c, 4, 0, 3); });  // slot 4: port 3
  ztest::runIn(true, t.b.dev, 2.0, [&](Call& c) { return t.m.setHomePolarity(c, 1, 0, 1); });  // internal: port 1
  const auto sent = t.sent();
  EXPECT_EQ(sent[0], f(0x09, 1, 3, 3));
  EXPECT_EQ(sent[1], f(0x0A, 1, 3, 3));
  EXPECT_EQ(sent[2], f(R2, 1, 0, 1));
  for (int slot : {0, 3, 5}) {
    try {
      ztest::runIn(true, t.b.dev, 2.0, [&](Call& c) { return t.m.open(c, slot); });
      ADD_FAILURE() << "slot " << slot << " accepted";
    } catch (const zelvo::Error& e) {
      EXPECT_EQ(e.id(), zelvo::Err::MotionPortNotAvaliable);
    }
  }
}

// --- refusals before anything is sent ---------------------------------------------------------------

struct Refusal {
  const char* name;
  std::function<Op<std::string>(MCX514Module&, Call&)> run;
  zelvo::Err error;
};
void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }

class MotionRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(MotionRefusal, RaisesAndSendsNothing) {
  const Refusal& r = GetParam();
  MotionBench t("Kinora", kQuiet);
  try {
    ztest::runIn(true, t.b.dev, 2.0, [&](Call& c) { return r.run(t.m, c); });
    ADD_FAILURE() << "accepted";
  } catch (const zelvo::Error& e) {
    EXPECT_EQ(e.id(), r.error) << e.what();
  }
  std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(t.sent().empty());
}

#define OP(expr) [](MCX514Module & m, Call & c) { return asText(expr); }
using zelvo::Err;

INSTANTIATE_TEST_SUITE_P(
    Checks, MotionRefusal,
    ::testing::Values(
        Refusal{"axis_4", OP(m.cfgAxis(c, 0, 4, 0, 0, 0, 0)), Err::MotionAxisError},
        Refusal{"port_1", OP(m.cfgHome(c, 1, 0, 0, 0)), Err::MotionPortNotAvaliable},
        Refusal{"stepper_output_2", OP(m.cfgAxis(c, 0, 0, 2, 0, 0, 0)), Err::MotionStepperOutputError},
        Refusal{"enable_2", OP(m.cfgLimit(c, 0, 0, 2, 0, 0)), Err::MotionEnableError},
        Refusal{"polarity_2", OP(m.cfgEncoder(c, 0, 0, 2)), Err::MotionPolarityError},
        Refusal{"stop_mode", OP(m.stop(c, 0, 0, 2)), Err::MotionStopModeError},
        Refusal{"operation_mode", OP(m.cfgAxisMove(c, 0, 0, 3, 0, 1, 1, 1)), Err::MotionOperationModeError},
        Refusal{"acceleration_mode", OP(m.cfgJerkAndAccelMode(c, 0, 0, 1, 3)), Err::MotionAccelerationModeError},
        Refusal{"search_type", OP(m.cfgFindRef(c, 0, 0, 3, 0, 1, 1, 0, 0, 0)), Err::MotionSearchTypeError},
        Refusal{"search_direction", OP(m.cfgFindRef(c, 0, 0, 0, 2, 1, 1, 0, 0, 0)), Err::MotionSearchDirectionError},
        Refusal{"capture_type", OP(m.cfgCapture(c, 0, 0, 2, 0)), Err::MotionCaptureTypeError},
        Refusal{"capture_mode", OP(m.cfgCapture(c, 0, 0, 0, 2)), Err::MotionCaptureModeError},
        Refusal{"break_point_mode", OP(m.cfgBreakPoint(c, 0, 0, 2, 0, 0, 0, 0, 0)), Err::MotionBreakPointModeError},
        Refusal{"servo_enable", OP(m.enableServoOnAt(c, 0, 0, 3)), Err::MotionEnableError},
        Refusal{"acceleration_0", OP(m.cfgAxisMove(c, 0, 0, 0, 0, 100, 0, 100)), Err::InputDataNotInRangeError},
        Refusal{"velocity_0", OP(m.cfgAxisMove(c, 0, 0, 0, 0, 0, 100, 100)), Err::InputDataNotInRangeError},
        Refusal{"speed_beyond_32_bits", OP(m.overrideAxisVelocity(c, 0, 0, 1LL << 32)), Err::InputDataNotInRangeError},
        Refusal{"target_beyond_32_bits", OP(m.overrideAxisPosi(c, 0, 0, 1LL << 31)), Err::InputDataNotInRangeError},
        Refusal{"negative_percent", OP(m.cfgFindRef(c, 0, 0, 0, 0, 100, 100, -1, 0, 0)), Err::InputDataNotInRangeError},
        Refusal{"pulse_width_17_bits", OP(m.cfgBreakPoint(c, 0, 0, 0, 0, 0, 1 << 16, 0, 0)), Err::InputDataNotInRangeError},
        Refusal{"repeated_interpolation_axis", OP(m.cfg2AxisLinearInterpo(c, 0, 1, 5, 1, 6, 10, 10, 10)),
                Err::MotionAxisError},
        Refusal{"repeated_circle_axis", OP(m.cfgCircularInterpo(c, 0, 2, 2, 0, 0, 0, 0, 0, 1, 1, 1)), Err::MotionAxisError},
        Refusal{"repeated_multi_start_axis", OP(m.startMultiAxisMove(c, 0, {0, 0})), Err::MotionAxisError},
        Refusal{"helical_direction", OP(m.cfgHelicalInterpo(c, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 5)),
                Err::MotionDirectionError},
        Refusal{"helical_negative_timeout", OP(m.cfgHelicalInterpo(c, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, -1)),
                Err::InputDataNotInRangeError},
        Refusal{"helical_turns_17_bits", OP(m.cfgHelicalInterpo(c, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1 << 16, 1, 0, 5)),
                Err::InputDataNotInRangeError}),
    [](const auto& p) { return std::string(p.param.name); });

#undef OP

}  // namespace
