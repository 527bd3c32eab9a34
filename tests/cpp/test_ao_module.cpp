// Analog-output operations against a scripted device: the bytes each sends and how it decodes the
// reply, in both families; the checks that refuse a request before anything is sent.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/product_bench.hpp"
#include "zelvo/analog/ao_module.hpp"

namespace zelvo {
// AO_openStreaming's answer as the tables write it: "mode,rate".
inline std::string format(const AOStreamingState& s) { return ztest::format(s.mode) + "," + ztest::format(s.rate); }
}  // namespace zelvo

namespace {

using zelvo::AOModule;
using zelvo::Call;
using zelvo::Err;
using ztest::asText;
using ztest::Bytes;
using ztest::cat;
using ztest::f32;

constexpr int kPinModes = ztest::kPinModeQuery;
// Port 3 of Aeris-R3-AOD, 12 pins: pin 11 (the analog output's) busy with a UART.
const Bytes kPort3Pin11Uart = {3, 12, 0x11, 0x11, 0x11, 0x11, 0x11, 0x41};

Bytes eightValues(std::initializer_list<float> first) {
  Bytes out;
  for (float v : first) out = cat(out, f32(v));
  while (out.size() < 32) out = cat(out, f32(0));
  return out;
}

Bytes oneShort(Bytes b) {
  b.pop_back();
  return b;
}

class AoOp : public ::testing::TestWithParam<std::tuple<ztest::OpCase, bool>> {};

TEST_P(AoOp, SendsItsRequestAndDecodesTheReply) { ztest::checkOp(std::get<0>(GetParam()), std::get<1>(GetParam())); }

#define OP(expr) [](zelvo::Device & d, Call & c) { auto& m = *d.module<AOModule>(); return asText(expr); }

const ztest::OpCase kCases[] = {
    {"write_one_channel", "PellorK1AOD", {}, OP(m.writeOneChannel(c, 0, 2, 1.5)), "0", {{197, cat(Bytes{0, 2}, f32(1.5))}}},
    {"write_all_pads_to_eight", "PellorK1AOD", {}, OP(m.writeAllChannels(c, 0, {1.0, 2.0})), "0",
     {{205, cat(Bytes{0}, eightValues({1, 2}))}}},
    {"write_all_cuts_to_eight", "TavraO", {}, OP(m.writeAllChannels(c, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10})), "0",
     {{205, cat(Bytes{0}, eightValues({1, 2, 3, 4, 5, 6, 7, 8}))}}},
    {"firmware_status_as_code", "PellorK1AOD", {{197, {0, 53}}}, OP(m.writeOneChannel(c, 0, 0, 5.0)), "-7018",
     {{197, cat(Bytes{0, 0}, f32(5))}}},
    {"open_checks_the_pins_first", "AerisR3AOD", {}, OP(m.open(c, 0)), "0",
     {{kPinModes, {3}}, {192, {0}}}},
    {"close", "AerisR3AOD", {}, OP(m.close(c, 0)), "0", {{207, {0}}}},
    {"open_sends_nothing_on_tavra_o", "TavraO", {}, OP(m.open(c, 0)), "0", {}},
    {"close_sends_nothing_on_koru", "Koru", {}, OP(m.close(c, 4)), "0", {}},
    {"koru_writes_take_slots", "Koru", {}, OP(m.writeOneChannel(c, 1, 7, -10.0)), "0", {{197, cat(Bytes{0, 7}, f32(-10))}}},
    {"koru_pushes_take_slots", "Koru", {}, OP(m.pushToBuffer(c, 4, 1, {2.0})), "0", {{8280, cat(Bytes{3, 0, 1}, f32(2))}}},
    {"koru_service_answers_none", "Koru", {}, OP(m.getState(c, 1)), "None", {}},
    {"open_streaming", "TavraO", {{8264, cat(Bytes{0, 2}, f32(1000))}}, OP(m.openStreaming(c, 0)), "2,1000", {{8264, {0}}}},
    {"start_awaits_nothing", "TavraO", {}, OP(m.startStreaming(c, 0)), "0", {{8265, {0}}}},
    {"stop", "TavraO", {}, OP(m.stopStreaming(c, 0)), "0", {{8266, {0}}}},
    {"close_streaming", "TavraO", {}, OP(m.closeStreaming(c, 0)), "0", {{8267, {0}}}},
    {"mode", "TavraO", {}, OP(m.setMode(c, 0, 1)), "0", {{8273, {0, 1}}}},
    {"rate_at_the_limit", "PellorK1AOD", {}, OP(m.setSamplingRate(c, 0, 16000)), "0", {{8274, cat(Bytes{0}, f32(16000))}}},
    {"num_samples", "TavraO", {}, OP(m.setNumSamples(c, 0, 1000)), "0", {{8275, {0, 0, 0, 0x03, 0xE8}}}},
    {"num_samples_largest", "TavraO", {}, OP(m.setNumSamples(c, 0, 0xFFFFFFFF)), "0", {{8275, {0, 0xFF, 0xFF, 0xFF, 0xFF}}}},
    {"enabled_channels_as_a_mask", "TavraO", {}, OP(m.setEnableChannels(c, 0, {0, 2, 7})), "0", {{8276, {0, 0, 133}}}},
    {"form", "TavraO", {}, OP(m.setForm(c, 0, 1, 3)), "0", {{8277, {0, 0, 1, 3}}}},
    {"form_parameters", "PellorK1AOD", {}, OP(m.setFormParam(c, 0, 1, 2.0, 2.5, 50.0, 0, 0.5)), "0",
     {{8278, cat(Bytes{0, 0, 1}, f32(2), f32(2.5), f32(50), f32(0), f32(0.5))}}},
    {"values", "TavraO", {{206, cat(Bytes{0, 0}, eightValues({1.5, -2, 0.25}))}}, OP(m.getValues(c, 0)),
     "1.5,-2,0.25,0,0,0,0,0", {{206, {0}}}},
    {"values_with_a_trailing_byte", "TavraO", {{206, cat(Bytes{0, 0}, eightValues({3}), Bytes{9})}},
     OP(m.getValues(c, 0)), "3,0,0,0,0,0,0,0", {{206, {0}}}},
    {"generation_mode", "TavraO", {{8290, {0, 2}}}, OP(m.getMode(c, 0)), "2", {{8290, {0}}}},
    {"generator_state", "TavraO", {{8291, {0, 1}}}, OP(m.getState(c, 0)), "1", {{8291, {0}}}},
    {"counters", "TavraO", {{204, {0, 0, 0, 0, 5, 0, 0, 0, 40}}}, OP(m.getCounters(c, 0)), "5,40", {{204, {0}}}},
    {"initial_buffer", "AerisR3AOD", {{202, {0, 0, 1, 0, 0, 0}}}, OP(m.initialBuffer(c, 0)), "65536,0", {{202, {0}}}},
    {"push_thirteen_values", "TavraO", {}, OP(m.pushToBuffer(c, 0, 13, std::vector<double>(13, 1.0))), "0",
     {{8280, [] {
         Bytes b{0, 0, 13};
         for (int i = 0; i < 13; ++i) b = cat(b, f32(1));
         return b;
       }()}}},
    {"push_nothing", "TavraO", {}, OP(m.pushToBuffer(c, 0, 0, {})), "0", {{8280, {0, 0, 0}}}},
    {"span_travels_after_the_port", "TavraO", {}, OP(m.setSpan(c, 0, 2)), "0", {{8272, {0, 2}}}},
    {"pin_state", "AerisR3AOD", {}, OP(m.checkPinState(c, 0, {"Idle"})), "true", {{kPinModes, {3}}}},
};

INSTANTIATE_TEST_SUITE_P(Ops, AoOp, ::testing::Combine(::testing::ValuesIn(kCases), ::testing::Bool()),
                         [](const auto& p) { return ztest::caseName(p); });

// --- refusals: nothing is sent (or only the pin-mode query); replies too short to decode --------

class AoRefused : public ::testing::TestWithParam<ztest::RefusalCase> {};

TEST_P(AoRefused, Raises) { ztest::checkRefused(GetParam()); }

using R = ztest::RefusalCase;
const double kTooBigForF32 = 1e39;
constexpr Err kRange = Err::InputDataNotInRangeError;
constexpr Err kShort = Err::FirmwareOtherError;

INSTANTIATE_TEST_SUITE_P(
    Checks, AoRefused,
    ::testing::Values(
        R{"port_not_in_map", "PellorK1AOD", {}, OP(m.writeOneChannel(c, 1, 0, 1)), Err::AOPortNotAvaliableError, {}},
        R{"channel_eight", "PellorK1AOD", {}, OP(m.writeOneChannel(c, 0, 8, 1)), Err::AOChannelNotAvaliableError, {}},
        R{"below_the_range", "PellorK1AOD", {}, OP(m.writeOneChannel(c, 0, 0, -0.1)), kRange, {}},
        R{"above_the_range", "TavraO", {}, OP(m.writeOneChannel(c, 0, 0, 10.01)), kRange, {}},
        R{"range_checked_before_cutting", "PellorK1AOD", {}, OP(m.writeAllChannels(c, 0, {1, 1, 1, 1, 1, 1, 1, 1, 5.5})),
          kRange, {}},
        R{"form_zero", "TavraO", {}, OP(m.setForm(c, 0, 1, 0)), Err::AOFormNotAvaliableError, {}},
        R{"form_four", "TavraO", {}, OP(m.setForm(c, 0, 1, 4)), Err::AOFormNotAvaliableError, {}},
        R{"mode_three", "TavraO", {}, OP(m.setMode(c, 0, 3)), Err::AOModeNotVaildError, {}},
        R{"span_five", "TavraO", {}, OP(m.setSpan(c, 0, 5)), Err::AOSpanNotVaildError, {}},
        R{"rate_over_the_limit", "PellorK1AOD", {}, OP(m.setSamplingRate(c, 0, 16000.1)), Err::AORateNotVaildError, {}},
        R{"rate_over_tavra_o_limit", "TavraO", {}, OP(m.setSamplingRate(c, 0, 15001)), Err::AORateNotVaildError, {}},
        R{"rate_zero", "TavraO", {}, OP(m.setSamplingRate(c, 0, 0)), Err::AORateNotVaildError, {}},
        R{"rate_negative", "TavraO", {}, OP(m.setSamplingRate(c, 0, -5)), Err::AORateNotVaildError, {}},
        R{"num_samples_negative", "TavraO", {}, OP(m.setNumSamples(c, 0, -1)), kRange, {}},
        R{"num_samples_beyond_32_bits", "TavraO", {}, OP(m.setNumSamples(c, 0, 0x100000000)), kRange, {}},
        R{"push_fourteen", "TavraO", {}, OP(m.pushToBuffer(c, 0, 14, std::vector<double>(14, 0.0))), kRange, {}},
        R{"push_negative_count", "TavraO", {}, OP(m.pushToBuffer(c, 0, -1, {})), kRange, {}},
        R{"push_count_differs", "TavraO", {}, OP(m.pushToBuffer(c, 0, 2, {1, 2, 3})), kRange, {}},
        R{"push_value_beyond_f32", "TavraO", {}, OP(m.pushToBuffer(c, 0, 1, {kTooBigForF32})), kRange, {}},
        R{"parameter_beyond_f32", "TavraO", {}, OP(m.setFormParam(c, 0, 0, kTooBigForF32, 0, 1, 0, 0.5)), kRange, {}},
        R{"enable_channel_eight", "TavraO", {}, OP(m.setEnableChannels(c, 0, {0, 8})), Err::AOChannelNotAvaliableError, {}},
        R{"open_with_a_busy_pin", "AerisR3AOD", {{kPinModes, kPort3Pin11Uart}}, OP(m.open(c, 0)),
          Err::AOPortNotAvaliableError, {kPinModes}},
        R{"koru_slot_three", "Koru", {}, OP(m.writeOneChannel(c, 3, 0, 1)), Err::AOPortNotAvaliableError, {}},
        R{"values_one_byte_short", "TavraO", {{206, oneShort(cat(Bytes{0, 0}, eightValues({})))}}, OP(m.getValues(c, 0)),
          kShort, {206}, "AO_getValues"},
        R{"rate_cut", "TavraO", {{8264, {0, 2, 0x44}}}, OP(m.openStreaming(c, 0)), kShort, {8264}, "AO_openStreaming"},
        R{"counters_cut", "TavraO", {{204, {0, 0, 0, 0, 5, 0}}}, OP(m.getCounters(c, 0)), kShort, {204}, "_AO_getCounters"},
        R{"buffer_flag_missing", "TavraO", {{202, {0, 0, 1, 0, 0}}}, OP(m.initialBuffer(c, 0)), kShort, {202},
          "_AO_initialBuffer"}),
    [](const auto& p) { return ztest::caseName(p); });

#undef OP

}  // namespace
