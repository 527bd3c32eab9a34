// The emulated UART and CAN peripherals over raw TCP: received data paced on the device's time and
// streamed only while reading is on, the CAN controller's filters, registers and OPEN_CAN's form.
// Device time is slowed almost to a stop, then advanced, so what is checked does not depend on how
// fast this machine runs.
#include <gtest/gtest.h>


#include "support/waits.hpp"
#include "test_sim_client.hpp"
#include "zelvo/sim/can_firmware.hpp"
#include "zelvo/sim/emulator.hpp"
#include "zelvo/sim/uart_firmware.hpp"

namespace {

using simtest::Bytes;
namespace sim = zelvo::sim;
using namespace std::chrono_literals;

constexpr double kAlmostStopped = 1e-6;

constexpr auto kQuiet = 150ms;  // long enough for a packet that was due to arrive

struct Device {
  explicit Device(const char* product) : dev(emu.add(product)), client(dev->host(), dev->port()) {
    dev->firmware().time().setScale(kAlmostStopped);
  }
  void advance(double seconds) { dev->firmware().time().advance(seconds); }
  sim::Emulator emu;
  std::shared_ptr<sim::EmulatedDevice> dev;
  simtest::RawClient client;
};

// --- UART ----------------------------------------------------------------------------------------

constexpr int OPEN_UART = 128, START = 129, WRITE_UART = 130, STOP = 131, CLOSE_UART = 132, BAUD = 134;

TEST(SimUart, ReceivedBytesArriveAtTheLinesPaceWhileReadingIsOn) {
  Device d("PellorK1D");
  auto& uart = *d.dev->firmware().findModule<sim::UARTFirmware>();
  EXPECT_EQ(d.client.exchange(WRITE_UART, {1, 1, 'x'}), (Bytes{1, 23}));  // not open
  EXPECT_EQ(d.client.exchange(OPEN_UART, {1}), (Bytes{1, 0}));
  EXPECT_EQ(d.dev->firmware().pinModes(0).at(3), sim::PinMode::UART);
  EXPECT_EQ(d.client.exchange(BAUD, {1, 0, 0, 0x25, 0x80}), (Bytes{1, 0}));  // 9600
  EXPECT_NEAR(uart.byteTime(1), 10.0 / 9600, 1e-12);
  EXPECT_EQ(d.client.exchange(WRITE_UART, {1, 3, 'a', 'b', 'c'}), (Bytes{1, 0}));
  d.client.request(START, {1});                // no reply: the next frame answers the next request
  EXPECT_FALSE(d.client.readFrame(kQuiet));    // nothing is due yet
  d.advance(2.5 * uart.byteTime(1));           // two bytes are through
  auto packet = d.client.readFrame();
  ASSERT_TRUE(packet);
  EXPECT_EQ(packet->code, START);
  EXPECT_EQ(packet->payload, (Bytes{1, 0, 'a', 'b'}));
  d.advance(1.0);
  packet = d.client.readFrame();
  ASSERT_TRUE(packet);
  EXPECT_EQ(packet->payload, (Bytes{1, 0, 'c'}));
  EXPECT_EQ(uart.state(1).streamed, 3u);
}

TEST(SimUart, BytesWaitWhileReadingIsOffAndCloseDropsThem) {
  Device d("PellorK1D");
  auto& uart = *d.dev->firmware().findModule<sim::UARTFirmware>();
  EXPECT_EQ(d.client.exchange(OPEN_UART, {2}), (Bytes{2, 0}));
  uart.inject(2, Bytes{'f', 'a', 'r'});
  d.advance(1.0);
  EXPECT_EQ(uart.state(2).pending, 3u);
  d.client.request(START, {2});
  auto packet = d.client.readFrame();
  ASSERT_TRUE(packet);
  EXPECT_EQ(packet->payload, (Bytes{2, 0, 'f', 'a', 'r'}));
  EXPECT_EQ(d.client.exchange(STOP, {2}), (Bytes{2, 0}));
  uart.inject(2, Bytes{'!'});
  d.advance(1.0);
  EXPECT_FALSE(d.client.readFrame(kQuiet));
  EXPECT_EQ(d.client.exchange(CLOSE_UART, {2}), (Bytes{2, 0}));
  EXPECT_EQ(uart.state(2).pending, 0u);
  EXPECT_EQ(d.dev->firmware().pinModes(1).at(2), sim::PinMode::Idle);
}

TEST(SimUart, SettingsOutOfRangeAreRefused) {
  Device d("PellorK1D");
  for (const auto& [code, request] : std::vector<std::pair<int, Bytes>>{
           {BAUD, {1, 0, 0, 0, 0}}, {BAUD, {1, 0, 6, 0x1A, 0x81}}, {135, {1, 2}}, {136, {1, 4}}, {139, {1, 4}}})
    EXPECT_EQ(d.client.exchange(code, request), (Bytes{1, 23})) << code;
  EXPECT_EQ(d.client.exchange(OPEN_UART, {3}), (Bytes{3, 23}));  // no port 3
}

// A byte received while the pacer is between sending a packet and its next sleep must wake it:
// each round injects right after the previous packet arrived, where that window lies.
TEST(SimUart, AByteReceivedJustAfterAPacketLeftIsStillSent) {
  sim::Emulator emu;
  auto dev = emu.add("PellorK1D");
  simtest::RawClient client(dev->host(), dev->port());
  auto& uart = *dev->firmware().findModule<sim::UARTFirmware>();
  uart.setUnthrottled(true);
  EXPECT_EQ(client.exchange(OPEN_UART, {1}), (Bytes{1, 0}));
  client.request(START, {1});
  constexpr int kRounds = 400;
  for (int i = 0; i < kRounds; ++i) {
    const auto byte = static_cast<std::uint8_t>(i);
    uart.inject(1, Bytes{byte});
    const auto packet = client.readFrame(1000ms);
    ASSERT_TRUE(packet) << "round " << i;
    ASSERT_EQ(packet->payload, (Bytes{1, 0, byte}));
  }
}

// --- CAN -----------------------------------------------------------------------------------------

constexpr int OPEN_CAN_AS_PARSED = 0x3001, START_CAN = 49, WRITE_CAN = 50, STOP_CAN = 51, SET_FILTERING = 57,
              SET_FILTER = 58, GET_INTERRUPTS = 59, GET_ERRORS = 60, GET_COUNTERS = 61;

// The 12-byte row of a standard data frame (identifier in bits 21..31 of the word).
Bytes row(std::uint32_t id, std::uint8_t first = 0) {
  const std::uint32_t word = id << 21;
  return {std::uint8_t(word >> 24), std::uint8_t(word >> 16), 0, 0, first, 0, 0, 0, 0, 0, 0, 0};
}
Bytes with(Bytes head, const Bytes& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

TEST(SimCan, OpenAnswersInTheTwoByteFormAndWrittenFramesComeBackOneFrameTimeLater) {
  Device d("PellorK1CD");
  auto& can = *d.dev->firmware().findModule<sim::CANFirmware>();
  EXPECT_EQ(d.client.exchange(OPEN_CAN_AS_PARSED), (Bytes{0}));
  EXPECT_EQ(d.dev->firmware().pinModes(2).at(0), sim::PinMode::CAN);
  d.client.request(START_CAN, {1});
  EXPECT_EQ(d.client.exchange(WRITE_CAN, with({1, 0}, row(0x123, 7))), (Bytes{1, 0}));
  d.advance(0.9 * can.frameTime(false));
  EXPECT_FALSE(d.client.readFrame(kQuiet));  // still on the bus
  d.advance(0.1 * can.frameTime(false) + sim::StreamPacer::kMinGap);  // wake-ups are kMinGap apart
  auto packet = d.client.readFrame();
  ASSERT_TRUE(packet);
  EXPECT_EQ(packet->code, START_CAN);
  EXPECT_EQ(packet->payload, with({1, 0}, row(0x123, 7)));
  EXPECT_EQ(can.counters().frames_sent, 1u);
  EXPECT_EQ(d.client.exchange(STOP_CAN, {1}), (Bytes{1, 0}));
}

TEST(SimCan, FiltersAndMasksDecideWhatIsReceived) {
  Device d("PellorK1CD");
  auto& can = *d.dev->firmware().findModule<sim::CANFirmware>();
  d.client.exchange(OPEN_CAN_AS_PARSED);
  EXPECT_EQ(d.client.exchange(SET_FILTER, with({1, 6}, row(0x7F0))), (Bytes{1, 0}));  // mask 0
  EXPECT_EQ(d.client.exchange(SET_FILTER, with({1, 7}, row(0x7FF))), (Bytes{1, 0}));  // mask 1: filters 2..5 take id 0
  EXPECT_EQ(d.client.exchange(SET_FILTER, with({1, 0}, row(0x120))), (Bytes{1, 0}));  // filter 0
  EXPECT_EQ(d.client.exchange(SET_FILTER, with({1, 8}, row(0))), (Bytes{1, 57}));     // no index 8
  EXPECT_EQ(d.client.exchange(SET_FILTERING, {1, 1}), (Bytes{1, 0}));
  for (std::uint32_t id : {0x12Fu, 0x130u, 0x120u}) can.inject(sim::CanWireFrame{id, false, false, {}});
  d.advance(1.0);
  d.client.request(START_CAN, {1});
  auto packet = d.client.readFrame();
  ASSERT_TRUE(packet);
  EXPECT_EQ(packet->payload, with(with({1, 0}, row(0x12F)), row(0x120)));  // 0x130 differs under the mask
}

TEST(SimCan, RegistersAndGenerators) {
  Device d("PellorK1CD");
  auto& can = *d.dev->firmware().findModule<sim::CANFirmware>();
  d.client.exchange(OPEN_CAN_AS_PARSED);
  can.setErrorCounts(130, 97);
  EXPECT_EQ(d.client.exchange(GET_ERRORS, {1}), (Bytes{1, 130, 97}));
  EXPECT_EQ(d.client.exchange(54, {1, 0xA5}), (Bytes{1, 0}));
  EXPECT_EQ(d.client.exchange(GET_INTERRUPTS, {1}), (Bytes{1, 0xA5, 0x20, 0x17}));  // error; warnings, tx passive
  const int gen = can.addGenerator(sim::CanWireFrame{5, true, false, {0, 0, 0, 0, 9}}, 0.01, 3, true);
  d.advance(1.0);
  ASSERT_TRUE(ztest::eventually([&] { return can.state().rx_pending == 3; }));
  EXPECT_EQ(d.client.exchange(GET_INTERRUPTS, {1}).at(2) & 1, 1);  // frames wait
  d.client.request(START_CAN, {1});
  auto packet = d.client.readFrame();
  ASSERT_TRUE(packet);
  ASSERT_EQ(packet->payload.size(), 2u + 3 * sim::kCanRowBytes);
  EXPECT_EQ(packet->payload[2 + 2 * sim::kCanRowBytes + 7], 2);  // the third frame's running number
  EXPECT_EQ(packet->payload[2 + 2 * sim::kCanRowBytes + 8], 9);
  EXPECT_TRUE(can.generators().empty() || can.generators() == std::vector<int>{gen});
  const Bytes counters = d.client.exchange(GET_COUNTERS, {1});
  ASSERT_EQ(counters.size(), 25u);
  EXPECT_EQ(counters[8], 3);   // receive interrupts
  EXPECT_EQ(counters[20], 1);  // a bus error: the error counts rose
}

}  // namespace
