// The emulated firmware's System commands, exercised over raw TCP.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <thread>

#include "test_sim_client.hpp"
#include "zelvo/sim/emulator.hpp"

namespace {

using simtest::Bytes;
using simtest::RawClient;
using simtest::text;
using namespace std::chrono_literals;
namespace sim = zelvo::sim;

// One emulated device and a client connected to its command channel.
struct Bench {
  explicit Bench(const std::string& cls, sim::DeviceOptions opts = {})
      : dev(emu.add(cls, opts)), client(dev->host(), dev->port()) {}
  sim::Emulator emu;
  std::shared_ptr<sim::EmulatedDevice> dev;
  RawClient client;
};

struct FixedReply {
  const char* name;
  const char* product;
  int code;
  Bytes payload;
  Bytes reply;
};

class SimFixedReply : public ::testing::TestWithParam<FixedReply> {};

TEST_P(SimFixedReply, Answers) {
  const auto& c = GetParam();
  Bench b(c.product);
  EXPECT_EQ(b.client.exchange(c.code, c.payload), c.reply);
}

const Bytes kFreshPage(64, 0xFF);

INSTANTIATE_TEST_SUITE_P(
    Sim, SimFixedReply,
    ::testing::Values(
        FixedReply{"driver_info", "TavraA", 240, {0}, text("Tavra-A_APP_1.0.0")},
        FixedReply{"driver_info_any_mode", "AerisR3AH", 240, {7}, text("Aeris-R3-AH_APP_1.0.0")},
        FixedReply{"default_alias", "PellorK1DSNK", 2056, {}, text("Pellor-K1-D-SNK\r\n")},
        FixedReply{"unknown_command", "TavraA", 9999, {1, 2}, {80}},
        FixedReply{"slot_modes_without_slots", "TavraD", 2054, {}, {0}},
        FixedReply{"set_slot_without_slots", "TavraD", 2055, {0, 1}, {0, 10}},
        FixedReply{"koru_slot_modes_idle", "Koru", 2054, {}, {8, 0, 0, 0, 0}},
        FixedReply{"koru_odd_slot_byte", "Koru", 2055, {1, 1}, {0, 80}},
        FixedReply{"koru_slot_past_four", "Koru", 2055, {8, 1}, {0, 80}},
        FixedReply{"koru_mode_past_switch", "Koru", 2055, {0, 7}, {0, 80}},
        FixedReply{"alarm_off_at_start", "TavraA", 2214, {0}, {0, 0}},
        FixedReply{"alarm_config_at_start", "TavraA", 2215, {0}, {0, 0, 0, 0, 0, 0, 0}},
        FixedReply{"alarm_bad_minute", "TavraA", 2212, {0, 1, 2, 3, 60, 5}, {0, 20}},
        FixedReply{"reboot", "TavraA", 250, {250}, {0}},
        FixedReply{"bootloader", "TavraA", 251, {251}, {0}},
        FixedReply{"eeprom_device", "TavraA", 249, {1}, {1, 0x24, 1, 0, 64, 0, 0, 0}},
        FixedReply{"eeprom_fresh_page", "TavraA", 247, {255}, kFreshPage},
        FixedReply{"eeprom_byte_index_out_of_page", "TavraA", 255, {0, 64, 1}, {40}},
        FixedReply{"eeprom_page_too_long", "TavraA", 248, Bytes(66, 1), {40}},
        FixedReply{"serial_too_short", "TavraA", 123, text("ZS12345"), {80}},
        FixedReply{"alias_too_long", "TavraA", 2057, Bytes(33, 'a'), {80}},
        FixedReply{"rtc_month_13", "TavraA", 242, {124, 13, 1, 0, 0, 0}, {20}},
        FixedReply{"rtc_day_0", "TavraA", 242, {124, 1, 0, 0, 0, 0}, {20}},
        FixedReply{"rtc_hour_24", "TavraA", 242, {124, 1, 1, 24, 0, 0}, {20}},
        FixedReply{"rtc_second_60", "TavraA", 242, {124, 1, 1, 0, 0, 60}, {20}},
        FixedReply{"rtc_aeris_before_2000", "AerisR3A", 242, {99, 1, 1, 0, 0, 0}, {20}},
        FixedReply{"rtc_short_payload", "TavraA", 242, {124, 1}, {80}},
        FixedReply{"pins_unknown_port", "TavraA", 127, {9}, {9, 0}},
        FixedReply{"pins_sparse_port", "PellorK1D", 127, {2}, {2, 8, 0x11, 0x11, 0x00, 0x11}},
        FixedReply{"pins_half_named_port", "PellorK1DSNK", 127, {3}, {3, 8, 0x11, 0x11, 0x00, 0x00}},
        FixedReply{"pins_pair_map_only", "TavraA", 127, {1}, {1, 12, 0, 0, 0, 0, 0, 0x10}},
        FixedReply{"pins_full_port", "Koru", 127, {7}, {7, 12, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(SimSystem, AliasRoundTripAndFactoryReset) {
  Bench b("TavraO");
  EXPECT_EQ(b.client.exchange(2057, text("bench-7 Ω")), Bytes{0});
  EXPECT_EQ(b.client.exchange(2056), text("bench-7 Ω\r\n"));
  EXPECT_EQ(b.dev->firmware().alias(), "bench-7 Ω");
  // Too long: refused, the old alias stays.
  EXPECT_EQ(b.client.exchange(2057, Bytes(40, 'x')), Bytes{80});
  EXPECT_EQ(b.client.exchange(2056), text("bench-7 Ω\r\n"));
  EXPECT_EQ(b.client.exchange(121), Bytes{0});
  EXPECT_EQ(b.client.exchange(2056), text("Tavra-O\r\n"));
}

TEST(SimSystem, SerialNumbersAreUniqueAndSettable) {
  sim::Emulator emu;
  auto a = emu.add("TavraA");
  auto b = emu.add("TavraA");
  RawClient ca(a->host(), a->port());
  const Bytes sa = ca.exchange(122);
  const std::string serial(sa.begin(), sa.end());
  ASSERT_EQ(serial.size(), 8u);
  EXPECT_EQ(serial.substr(0, 2), "ZS");
  EXPECT_TRUE(std::all_of(serial.begin() + 2, serial.end(), [](char c) { return std::isxdigit(c) && !std::islower(c); }));
  EXPECT_NE(a->firmware().serialNumber(), b->firmware().serialNumber());
  EXPECT_EQ(ca.exchange(123, text("AB12CD34")), Bytes{0});
  EXPECT_EQ(ca.exchange(122), text("AB12CD34"));
}

// Seconds since the epoch of a GET_DATE_TIME reply.
std::time_t rtcSeconds(const Bytes& r, int year_base) {
  std::tm tm{};
  tm.tm_year = r.at(0) + year_base - 1900;
  tm.tm_mon = r.at(1) - 1;
  tm.tm_mday = r.at(2);
  tm.tm_hour = r.at(3);
  tm.tm_min = r.at(4);
  tm.tm_sec = r.at(5);
  return ::timegm(&tm);
}

TEST(SimSystem, ClockStartsAtHostUtcAndRuns) {
  Bench b("TavraA");
  const std::time_t reported = rtcSeconds(b.client.exchange(241, Bytes(6, 0)), 1900);
  EXPECT_LE(std::abs(reported - std::time(nullptr)), 2);

  // Set just before a new year, so the running clock must carry into every field.
  EXPECT_EQ(b.client.exchange(242, {123, 12, 31, 23, 59, 59}), Bytes{0});
  std::this_thread::sleep_for(1200ms);
  const Bytes later = b.client.exchange(241, Bytes(6, 0));
  EXPECT_EQ(Bytes(later.begin(), later.begin() + 5), (Bytes{124, 1, 1, 0, 0}));
  EXPECT_LE(later[5], 1);
}

TEST(SimSystem, AerisClockCountsYearsFrom2000) {
  Bench b("AerisR3A");
  EXPECT_EQ(b.client.exchange(242, {124, 5, 6, 7, 8, 9}), Bytes{0});
  const Bytes r = b.client.exchange(241, Bytes(6, 0));
  EXPECT_EQ(Bytes(r.begin(), r.begin() + 5), (Bytes{24, 5, 6, 7, 8}));
  // A reboot does not stop or reset the clock.
  EXPECT_EQ(b.client.exchange(250, {250}), Bytes{0});
  EXPECT_EQ(b.dev->system().rebootCount(), 1);
  EXPECT_EQ(b.client.exchange(241, Bytes(6, 0))[0], 24);
}

TEST(SimSystem, AlarmLifecycle) {
  Bench b("TavraA");
  EXPECT_EQ(b.client.exchange(2212, {0, 1, 15, 8, 30, 0}), (Bytes{0, 0}));
  EXPECT_EQ(b.client.exchange(2214, {0}), (Bytes{0, 1}));
  EXPECT_EQ(b.client.exchange(2215, {0}), (Bytes{0, 1, 15, 8, 30, 0, 0}));
  EXPECT_EQ(b.client.exchange(2213, {0}), (Bytes{0, 0}));
  EXPECT_EQ(b.client.exchange(2214, {0}), (Bytes{0, 0}));
}

TEST(SimSystem, EepromRoundTripAndErase) {
  Bench b("PellorK1D");
  const Bytes data = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  Bytes write = {3};
  write.insert(write.end(), data.begin(), data.end());
  EXPECT_EQ(b.client.exchange(248, write), Bytes{0});
  EXPECT_EQ(b.client.exchange(255, {3, 63, 0x5A}), Bytes{0});
  Bytes expected = kFreshPage;
  std::copy(data.begin(), data.end(), expected.begin());
  expected[63] = 0x5A;
  EXPECT_EQ(b.client.exchange(247, {3}), expected);
  EXPECT_EQ(b.client.exchange(247, {4}), kFreshPage);  // the neighbour is untouched
  EXPECT_EQ(b.client.exchange(121), Bytes{0});
  EXPECT_EQ(b.client.exchange(247, {3}), kFreshPage);
}

TEST(SimSystem, KoruSlotModesAreKept) {
  Bench b("Koru");
  EXPECT_EQ(b.client.exchange(2055, {6, 1}), (Bytes{0, 0}));  // slot 4 -> DI
  EXPECT_EQ(b.client.exchange(2055, {2, 6}), (Bytes{0, 0}));  // slot 2 -> Switch
  EXPECT_EQ(b.client.exchange(2054), (Bytes{8, 0, 6, 0, 1}));
  EXPECT_EQ(b.dev->system().slotMode(3), sim::SlotMode::DI);
}

TEST(SimSystem, ThreadListNamesTheProductsTasks) {
  Bench usb("PellorK1CD");
  const Bytes r = usb.client.exchange(126);
  const std::string tasks(r.begin(), r.end());
  EXPECT_EQ(tasks.rfind("main\r\n", 0), 0u);
  EXPECT_NE(tasks.find("usb_cdc\r\n"), std::string::npos);
  EXPECT_NE(tasks.find("can_rx\r\n"), std::string::npos);
  EXPECT_EQ(tasks.find("ai_stream"), std::string::npos);
}

// A product with an odd pin count, and pin modes changed the way a peripheral module does.
TEST(SimSystem, PinModesPackOddCountsAndFollowChanges) {
  zelvo::ProductSpec prod;
  prod.class_name = "Bench5";
  prod.model = "Bench-5";
  prod.base = zelvo::DeviceBase::ETH;
  prod.dio = zelvo::DIOData{{{0, {0, 1, 2, 3, 4}}}, {}, 0};
  sim::EmulatedDevice dev(prod);
  RawClient c(dev.host(), dev.port());
  EXPECT_EQ(c.exchange(127, {0}), (Bytes{0, 5, 0x11, 0x11, 0x01}));
  dev.firmware().setPinMode(0, 4, sim::PinMode::ADC);
  dev.firmware().setPinMode(0, 1, sim::PinMode::DO);
  EXPECT_EQ(c.exchange(127, {0}), (Bytes{0, 5, 0x31, 0x11, 0x09}));
  EXPECT_THROW(dev.firmware().setPinMode(0, 5, sim::PinMode::DI), std::out_of_range);
}

// Later modules hook their commands in per code.
TEST(SimSystem, RegisteredHandlerAnswersItsCode) {
  Bench b("TavraD");
  b.dev->firmware().registerHandler(8200, [](const sim::Request& r) {
    Bytes echo = r.payload;
    echo.insert(echo.begin(), 0);
    return sim::answer(r, echo);
  });
  EXPECT_EQ(b.client.exchange(8200, {4, 5}), (Bytes{0, 4, 5}));
}

}  // namespace
