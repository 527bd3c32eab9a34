// The driver's USB client against emulated devices on the shim: opening by serial number,
// interface claims, padding of OUT transfers, reads that end on interrupt or unplug, release.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <future>
#include <optional>

#include "support/waits.hpp"
#include "zelvo/core/errors.hpp"
#include "zelvo/core/usb_client.hpp"
#include "zelvo/sim/usb_device.hpp"

namespace {

using namespace std::chrono_literals;
using zelvo::Bytes;
using zelvo::Err;
using zelvo::Error;
using zelvo::ReadStatus;
using zelvo::UsbClient;
namespace sim = zelvo::sim;

// The library error a call raises (nullopt: none).
std::optional<Err> errorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.id();
  }
  return std::nullopt;
}

class UsbClientTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sim::setUsbLibraryPath(ZELVO_USBSIM_FILE);
    ::setenv("ZELVO_LIBUSB", ZELVO_USBSIM_FILE, 1);
  }
  std::shared_ptr<sim::UsbEmulatedDevice> add(const std::string& serial) {
    sim::UsbDeviceOptions o;
    o.serial = serial;
    return sim::addUsbDevice("PellorK1D", o);
  }
  // One read with a buffer of USB_PKT_SIZE.
  static std::pair<zelvo::ReadResult, Bytes> readOnce(UsbClient& c) {
    Bytes buf(zelvo::USB_PKT_SIZE);
    auto r = c.read(buf.data(), buf.size());
    buf.resize(r.size);
    return {r, buf};
  }
};

TEST_F(UsbClientTest, OpensBySerialOrTheFirstFreeDevice) {
  auto a = add("PLR00001");
  auto b = add("PLR00002");
  UsbClient by_serial("PLR00002");
  EXPECT_EQ(by_serial.takeSerialNumber(), "PLR00002");
  EXPECT_EQ(by_serial.takeProductName(), "Pellor-K1-D");
  UsbClient first("default");
  EXPECT_EQ(first.takeSerialNumber(), "PLR00001");
  EXPECT_EQ(errorOf([] { UsbClient("default"); }), Err::USBConnectionError);  // both in use
  EXPECT_EQ(errorOf([] { UsbClient("PLR00001"); }), Err::USBConnectionError);
  EXPECT_EQ(errorOf([] { UsbClient("PLR00009"); }), Err::USBConnectionError);
  EXPECT_EQ(a->connectionCount(), 1u);
  EXPECT_EQ(b->connectionCount(), 1u);
}

// Frames shorter than a packet are padded with zeros to 64 bytes; longer ones go out as they are.
class UsbClientPadding : public UsbClientTest, public ::testing::WithParamInterface<std::pair<std::size_t, std::size_t>> {};

TEST_P(UsbClientPadding, OutTransfersArePaddedToOnePacket) {
  auto dev = add("PLR00001");
  UsbClient c("PLR00001");
  const auto [frame_size, transfer_size] = GetParam();
  Bytes frame(frame_size, 0x5A);
  c.send(frame);
  const auto transfers = dev->usb().outTransfers();
  ASSERT_EQ(transfers.size(), 1u);
  Bytes expected = frame;
  expected.resize(transfer_size, 0);
  EXPECT_EQ(transfers[0], expected);
}

INSTANTIATE_TEST_SUITE_P(Sizes, UsbClientPadding,
                         ::testing::Values(std::pair<std::size_t, std::size_t>{6, 64}, std::pair<std::size_t, std::size_t>{64, 64},
                                           std::pair<std::size_t, std::size_t>{70, 70}));

TEST_F(UsbClientTest, ARequestIsAnsweredOnTheInEndpoint) {
  auto dev = add("PLR00001");
  UsbClient c("PLR00001");
  c.send(Bytes{2, 0, 1, 122, 13, 10});  // GET_SERIAL_NUMBER
  auto [r, bytes] = readOnce(c);
  ASSERT_EQ(r.status, ReadStatus::Data);
  const auto frames = c.feed(bytes);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].code, 122);
  EXPECT_EQ(std::string(frames[0].payload.begin(), frames[0].payload.end()), "PLR00001");
}

TEST_F(UsbClientTest, AReadWithoutDataTimesOutOrEndsOnInterrupt) {
  auto dev = add("PLR00001");
  UsbClient c("PLR00001");
  EXPECT_EQ(readOnce(c).first.status, ReadStatus::Empty);  // the stand-alone time-out
  EXPECT_THROW(c.recvPacket(zelvo::USB_PKT_SIZE), zelvo::ReadTimeout);

  c.setReadTimeout(0);
  auto blocked = std::async(std::launch::async, [&] { return readOnce(c).first; });
  EXPECT_EQ(blocked.wait_for(100ms), std::future_status::timeout);  // waits for data, not a clock
  c.interrupt();
  ASSERT_EQ(blocked.wait_for(2s), std::future_status::ready);
  EXPECT_EQ(blocked.get().status, ReadStatus::Closed);
  EXPECT_FALSE(c.isOpen());
}

TEST_F(UsbClientTest, UnplugEndsTheReadAndLaterSendsRaise) {
  auto dev = add("PLR00001");
  UsbClient c("PLR00001");
  c.setReadTimeout(0);
  auto blocked = std::async(std::launch::async, [&] { return readOnce(c).first; });
  std::this_thread::sleep_for(20ms);
  dev->unplug();
  ASSERT_EQ(blocked.wait_for(2s), std::future_status::ready);
  const auto r = blocked.get();
  EXPECT_EQ(r.status, ReadStatus::Closed);  // the end of this client's stream
  EXPECT_NE(r.error.find("LIBUSB_ERROR_NO_DEVICE"), std::string::npos);
  EXPECT_TRUE(c.gone());
  EXPECT_EQ(errorOf([&] { c.send(Bytes{2, 0, 1, 122, 13, 10}); }), Err::USBConnectionError);
  dev->plug();  // a fresh device: the old client stays dead, a new one works
  EXPECT_EQ(readOnce(c).first.status, ReadStatus::Closed);
  EXPECT_EQ(UsbClient("PLR00001").takeSerialNumber(), "PLR00001");
}

TEST_F(UsbClientTest, CloseReleasesTheDeviceWhateverHoldsTheClient) {
  auto dev = add("PLR00001");
  auto c = std::make_shared<UsbClient>("PLR00001");
  auto other_reference = c;
  c->close();
  EXPECT_EQ(dev->connectionCount(), 0u);
  EXPECT_EQ(errorOf([&] { other_reference->send(Bytes{1}); }), Err::USBConnectionError);
  EXPECT_EQ(readOnce(*other_reference).first.status, ReadStatus::Closed);
  EXPECT_EQ(errorOf([&] { other_reference->takeSerialNumber(); }), Err::USBConnectionError);
  UsbClient again("PLR00001");  // the interface is free again
  EXPECT_EQ(dev->connectionCount(), 1u);
}

}  // namespace
