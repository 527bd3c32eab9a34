// Digital I/O operations against a scripted device: the bytes each sends and how it decodes the
// reply, in both families; the checks that stop a request before anything is sent.
#include <gtest/gtest.h>

#include <map>
#include <thread>
#include <tuple>

#include "support/as_text.hpp"
#include "support/bench.hpp"
#include "zelvo/dio/dio_module.hpp"
#include "zelvo/system/system_module.hpp"

namespace {

using zelvo::Bytes;
using zelvo::Call;
using zelvo::DIOModule;
using zelvo::Op;
using zelvo::PinSelection;
using namespace std::chrono_literals;

constexpr int kPinModes = 127;
const Bytes kAllIdle = {8, 0x11, 0x11, 0x11, 0x11};  // after the port: 8 pins, all Idle

using ztest::asText;
using ztest::format;

// Answers each command with its entry of `replies`; the pin-mode query with the port and kAllIdle
// unless listed.
ztest::Script replies(std::map<int, Bytes> table) {
  return [table](const ztest::Request& r, int) {
    if (const auto it = table.find(r.code); it != table.end()) return ztest::Answer{ztest::wireFrame(r.code, it->second)};
    Bytes modes{r.payload.empty() ? std::uint8_t{0} : r.payload[0]};
    modes.insert(modes.end(), kAllIdle.begin(), kAllIdle.end());
    return ztest::Answer{ztest::wireFrame(r.code, modes)};
  };
}

// A product's DIO module (and the system module it asks for pin modes) on a scripted device.
struct DioBench {
  DioBench(const char* product, ztest::Script script)
      : b(std::move(script), zelvo::product(product).model),
        sys(b.dev, zelvo::product(product).system),
        dio(b.dev, *zelvo::product(product).dio) {
    b.dev.registerModule(&sys);
    b.dev.registerModule(&dio);
  }
  ztest::Bench b;
  zelvo::SystemModule sys;
  DIOModule dio;
};

PinSelection pins(std::vector<std::int64_t> list) { return PinSelection::list(std::move(list)); }
PinSelection mask(std::int64_t bits) { return PinSelection::mask(bits); }

struct Sent {
  int code;
  Bytes payload;
  friend bool operator==(const Sent&, const Sent&) = default;
};
void PrintTo(const Sent& s, std::ostream* os) { *os << s.code << ":" << format(std::vector<int>(s.payload.begin(), s.payload.end())); }

struct DioCase {
  const char* name;
  std::map<int, Bytes> replies;
  std::function<Op<std::string>(DIOModule&, Call&)> run;
  std::string result;
  std::vector<Sent> sent;
};
void PrintTo(const DioCase& c, std::ostream* os) { *os << c.name; }

class DioOp : public ::testing::TestWithParam<std::tuple<DioCase, bool>> {};

TEST_P(DioOp, SendsItsRequestsAndDecodesTheReply) {
  const auto& [c, blocking] = GetParam();
  DioBench t("TavraEXD", replies(c.replies));  // inputs on ports 2 and 3, outputs on 0 and 1
  EXPECT_EQ(ztest::runIn(blocking, t.b.dev, 2.0, [&](Call& call) { return c.run(t.dio, call); }), c.result);
  std::vector<Sent> sent;
  for (const auto& r : t.b.peer.requests()) sent.push_back({r.code, r.payload});
  EXPECT_EQ(sent, c.sent);
}

#define OP(expr) [](DIOModule & d, Call & c) { return asText(expr); }

const Bytes kOpenInputs035 = {2, 0x00, 0x23, 0xFF, 0xFF, 0, 0, 0, 0};

const DioCase kCases[] = {
    {"open_inputs_by_list", {{227, {2, 0}}}, OP(d.openDIPins(c, 2, pins({0, 1, 5}))), "0",
     {{kPinModes, {2}}, {227, kOpenInputs035}}},
    {"open_inputs_by_mask", {{227, {2, 0}}}, OP(d.openDIPins(c, 2, mask(35))), "0", {{kPinModes, {2}}, {227, kOpenInputs035}}},
    {"open_output_port", {{227, {0, 0}}}, OP(d.openDOPort(c, 0)), "0",
     {{kPinModes, {0}}, {227, {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}}}},
    {"close_without_mode_query", {{227, {3, 0}}}, OP(d.closeDIPins(c, 3, pins({1}))), "0", {{227, {3, 0, 2, 0, 0, 0, 0, 0, 0}}}},
    {"firmware_status_as_code", {{227, {1, 11}}}, OP(d.closeDOPort(c, 1)), "-7001",
     {{227, {1, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}}}},
    {"read_in_requested_order", {{233, {2, 0x00, 0x20}}}, OP(d.readDIPins(c, 2, pins({5, 0}))), "1,0", {{233, {2, 0x00, 0x21}}}},
    {"read_port", {{233, {3, 0x80, 0x81}}}, OP(d.readDIPort(c, 3)), "1,0,0,0,0,0,0,1", {{233, {3, 0xFF, 0xFF}}}},
    {"write_pins_by_list", {{234, {0, 0, 3}}}, OP(d.writeDOPins(c, 0, pins({0, 1, 5}), pins({1, 1, 0}))), "0",
     {{234, {0, 0x00, 0x23, 0x00, 0x03}}}},
    {"write_pins_by_mask", {{234, {1, 0, 1}}}, OP(d.writeDOPins(c, 1, mask(0x81), mask(0x80))), "0",
     {{234, {1, 0x00, 0x81, 0x00, 0x80}}}},
    {"write_port_levels_clamped", {{234, {0, 0, 5}}}, OP(d.writeDOPort(c, 0, pins({1, 0, 7}))), "0",
     {{234, {0, 0xFF, 0xFF, 0x00, 0x05}}}},
    {"toggle_pins", {{238, {0, 0, 2}}}, OP(d.toggleDOPins(c, 0, pins({1}))), "0,1,0,0,0,0,0,0", {{238, {0, 0, 2}}}},
    {"load_startup", {{224, {0, 0, 3, 0, 1, 0, 2}}}, OP(d.loadStartup(c, 0)),
     "1,1,0,0,0,0,0,0|1,0,0,0,0,0,0,0|0,1,0,0,0,0,0,0", {{224, {0, 1, 1, 1, 1, 1, 1}}}},
    {"current_configuration", {{226, {0, 0, 1, 0, 1, 0, 0}}}, OP(d.getDIOCurrent(c, 0, 0xFFFF)),
     "1,0,0,0,0,0,0,0|1,0,0,0,0,0,0,0|0,0,0,0,0,0,0,0", {{226, {0, 0xFF, 0xFF, 1, 1, 1, 1, 1, 1}}}},
    {"save_startup", {{225, {0, 0}}}, OP(d.saveStartup(c, 0, 3, 1, 0x102)), "0", {{225, {0, 0, 3, 0, 1, 1, 2}}}},
    {"toggle_direction", {{228, {0, 0}}}, OP(d.toggleDIODirection(c, 0, 4, 4)), "0", {{228, {0, 0, 4, 0, 4}}}},
    {"get_state", {{229, {0, 0, 4}}}, OP(d.getDIOState(c, 0, 6)), "0,0,1,0,0,0,0,0", {{229, {0, 0, 6}}}},
    {"port_idle_on_an_output_port", {{237, {1, 0}}}, OP(d.setPortIdle(c, 1)), "0", {{237, {1, 0}}}},
    {"port_as_inputs", {{235, {3, 50}}}, OP(d.setPortDI(c, 3)), "-7015", {{235, {3, 0}}}},
};

#undef OP

INSTANTIATE_TEST_SUITE_P(Ops, DioOp, ::testing::Combine(::testing::ValuesIn(kCases), ::testing::Bool()),
                         [](const auto& p) {
                           return std::string(std::get<0>(p.param).name) + (std::get<1>(p.param) ? "_blocking" : "_awaitable");
                         });

// --- refusals before the configuration packet ----------------------------------------------------

struct Refusal {
  const char* name;
  std::function<Op<std::string>(DIOModule&, Call&)> run;
  zelvo::Err error;
  std::vector<int> codes_sent;  // nothing, or only the pin-mode query
};
void PrintTo(const Refusal& c, std::ostream* os) { *os << c.name; }

class DioRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(DioRefusal, RaisesBeforeChangingAnything) {
  const auto& c = GetParam();
  // Port 0 pin 1 busy with a UART; port 1 reports modes for two pins only.
  DioBench t("TavraEXD", [](const ztest::Request& r, int) {
    const Bytes modes = r.payload.at(0) == 0 ? Bytes{0, 8, 0x41, 0x11, 0x11, 0x11} : Bytes{1, 2, 0x11};
    return ztest::Answer{ztest::wireFrame(r.code, modes)};
  });
  try {
    ztest::runIn(true, t.b.dev, 2.0, [&](Call& call) { return c.run(t.dio, call); });
    ADD_FAILURE() << "accepted";
  } catch (const zelvo::Error& e) {
    EXPECT_EQ(e.id(), c.error) << e.what();
  }
  std::this_thread::sleep_for(20ms);
  std::vector<int> codes;
  for (const auto& r : t.b.peer.requests()) codes.push_back(r.code);
  EXPECT_EQ(codes, c.codes_sent);
}

#define OP(expr) [](DIOModule & d, Call & c) { return asText(expr); }
using zelvo::Err;

INSTANTIATE_TEST_SUITE_P(
    Checks, DioRefusal,
    ::testing::Values(
        Refusal{"input_port_not_in_map", OP(d.openDIPins(c, 0, pins({0}))), Err::DIPortNotAvaliableError, {}},
        Refusal{"pin_not_in_map", OP(d.openDOPins(c, 0, pins({8}))), Err::PinsNotExistError, {}},
        Refusal{"negative_mask", OP(d.closeDIPins(c, 2, mask(-1))), Err::PinsNotExistError, {}},
        Refusal{"negative_index", OP(d.writeDOPins(c, 0, pins({-1}), pins({1}))), Err::PinsNotExistError, {}},
        Refusal{"toggle_checks_pins", OP(d.toggleDOPins(c, 0, mask(0x100))), Err::PinsNotExistError, {}},
        Refusal{"value_count", OP(d.writeDOPins(c, 0, pins({0, 1}), pins({1}))), Err::PinsValueNotDefineError, {}},
        Refusal{"list_pins_int_value", OP(d.writeDOPins(c, 0, pins({0}), mask(1))), Err::InputTypeNotConsistentError, {}},
        Refusal{"level_word_too_wide", OP(d.writeDOPort(c, 0, mask(0x10000))), Err::InputDataNotInRangeError, {}},
        Refusal{"level_list_too_long", OP(d.writeDOPort(c, 0, pins(std::vector<std::int64_t>(17, 1)))),
                Err::PinsValueNotDefineError, {}},
        Refusal{"word_argument_too_wide", OP(d.setDIOCurrent(c, 0, 0x10000, 0, 0, 0)), Err::InputDataNotInRangeError, {}},
        Refusal{"idle_needs_an_output_port", OP(d.setPortIdle(c, 2)), Err::DOPortNotAvaliableError, {}},
        Refusal{"pin_busy_with_uart", OP(d.openDOPins(c, 0, pins({0, 1}))), Err::DOPortNotAvaliableError, {kPinModes}},
        Refusal{"port_with_busy_pin", OP(d.openDOPort(c, 0)), Err::DOPortNotAvaliableError, {kPinModes}},
        Refusal{"pin_without_reported_mode", OP(d.openDOPins(c, 1, pins({5}))), Err::DOPortNotAvaliableError,
                {kPinModes}}),
    [](const auto& p) { return std::string(p.param.name); });

#undef OP

}  // namespace
