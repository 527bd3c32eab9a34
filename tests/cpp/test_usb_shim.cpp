// The USB shim as a libusb-1.0 user sees it: enumeration, claims, packetised bulk reads,
// asynchronous transfers, hot-unplug. Devices are plugged in through the emulator's end
// (sim::UsbPlug), which loads the same file.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <ostream>
#include <thread>

#include "support/waits.hpp"
#include "zelvo/sim/usb_bus.hpp"
#include "zelvo/usbsim/libusb_abi.h"

namespace {

using namespace std::chrono_literals;
using zelvo::Bytes;
using zelvo::ByteView;
namespace sim = zelvo::sim;

void* shimLibrary() {
  static void* so = dlopen(ZELVO_USBSIM_FILE, RTLD_NOW | RTLD_LOCAL);
  return so;
}
template <class F>
F resolve(const char* name) {
  return reinterpret_cast<F>(dlsym(shimLibrary(), name));
}
// A libusb function of the shim: USB(libusb_open)(dev, &h).
#define USB(fn) (resolve<decltype(&fn)>(#fn))

constexpr unsigned char kIn = 0x81;
constexpr unsigned char kOut = 0x01;

Bytes sequence(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<zelvo::Byte>(i);
  return b;
}

// Records what the host writes to a plugged device.
struct Sink {
  std::mutex m;
  std::vector<Bytes> transfers;
  sim::UsbPlug::Receive receiver() {
    return [this](ByteView t) {
      std::lock_guard lock(m);
      transfers.emplace_back(t.begin(), t.end());
    };
  }
};

sim::UsbIdentity identity(const std::string& serial) {
  return {0x0483, 0x5750, 0x0100, "Zelvo", "Pellor-K1-D", serial};
}

class UsbShim : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { sim::setUsbLibraryPath(ZELVO_USBSIM_FILE); }
  void SetUp() override {
    ASSERT_NE(shimLibrary(), nullptr) << dlerror();
    ASSERT_EQ(USB(libusb_init)(&ctx), LIBUSB_SUCCESS);
  }
  void TearDown() override {
    for (auto* h : handles) USB(libusb_close)(h);
    USB(libusb_exit)(ctx);
  }

  // Opens the n-th listed device.
  libusb_device_handle* open(std::size_t n = 0) {
    libusb_device** list = nullptr;
    const ssize_t count = USB(libusb_get_device_list)(ctx, &list);
    libusb_device_handle* h = nullptr;
    if (static_cast<ssize_t>(n) < count) {
      EXPECT_EQ(USB(libusb_open)(list[n], &h), LIBUSB_SUCCESS);
    }
    USB(libusb_free_device_list)(list, 1);
    if (h) handles.push_back(h);
    return h;
  }
  // Opens, detaches the kernel driver and claims interface 0.
  libusb_device_handle* claimed(std::size_t n = 0) {
    libusb_device_handle* h = open(n);
    EXPECT_EQ(USB(libusb_detach_kernel_driver)(h, 0), LIBUSB_SUCCESS);
    EXPECT_EQ(USB(libusb_claim_interface)(h, 0), LIBUSB_SUCCESS);
    return h;
  }
  std::string text(libusb_device_handle* h, std::uint8_t index, int room = 256) {
    unsigned char buf[256] = {};
    const int n = USB(libusb_get_string_descriptor_ascii)(h, index, buf, room);
    return n < 0 ? USB(libusb_error_name)(n) : std::string(reinterpret_cast<char*>(buf), static_cast<std::size_t>(n));
  }
  // One synchronous read: (result code, bytes).
  std::pair<int, Bytes> readIn(libusb_device_handle* h, int length, unsigned timeout_ms = 1000) {
    Bytes buf(static_cast<std::size_t>(length));
    int got = -1;
    const int rc = USB(libusb_bulk_transfer)(h, kIn, buf.data(), length, &got, timeout_ms);
    buf.resize(static_cast<std::size_t>(std::max(got, 0)));
    return {rc, buf};
  }

  libusb_context* ctx = nullptr;
  std::vector<libusb_device_handle*> handles;
  Sink sink;
};

TEST_F(UsbShim, ListsPluggedDevicesWithTheirDescriptorsAndStrings) {
  auto a = std::make_unique<sim::UsbPlug>(identity("PLR00001"), sink.receiver());
  sim::UsbPlug b(identity("PLR00002"), sink.receiver());
  libusb_device** list = nullptr;
  ASSERT_EQ(USB(libusb_get_device_list)(ctx, &list), 2);
  EXPECT_EQ(list[2], nullptr);
  libusb_device_descriptor d{};
  ASSERT_EQ(USB(libusb_get_device_descriptor)(list[0], &d), LIBUSB_SUCCESS);
  EXPECT_EQ(d.bLength, 18);
  EXPECT_EQ(d.idVendor, 0x0483);
  EXPECT_EQ(d.idProduct, 0x5750);
  USB(libusb_free_device_list)(list, 1);

  libusb_device_handle* h = open(1);
  EXPECT_EQ(text(h, d.iSerialNumber), "PLR00002");
  EXPECT_EQ(text(h, d.iProduct), "Pellor-K1-D");
  EXPECT_EQ(text(h, d.iManufacturer), "Zelvo");
  EXPECT_EQ(text(h, d.iSerialNumber, 4), "PLR");  // cut to the room, terminated
  EXPECT_EQ(text(h, 0), "LIBUSB_ERROR_PIPE");     // no such string
  EXPECT_EQ(a->openHandles(), 0);
  EXPECT_EQ(b.openHandles(), 1);

  a.reset();  // unplugged: gone from the list
  ASSERT_EQ(USB(libusb_get_device_list)(ctx, &list), 1);
  USB(libusb_free_device_list)(list, 1);
}

TEST_F(UsbShim, ClaimsAreExclusiveAndNeedTheKernelDriverDetached) {
  sim::UsbPlug dev(identity("PLR00001"), sink.receiver());
  libusb_device_handle* first = open();
  libusb_device_handle* second = open();
  unsigned char byte = 0;
  int got = 0;
  EXPECT_EQ(USB(libusb_bulk_transfer)(first, kOut, &byte, 1, &got, 100), LIBUSB_ERROR_NOT_FOUND);  // unclaimed
  EXPECT_EQ(USB(libusb_kernel_driver_active)(first, 0), 1);
  EXPECT_EQ(USB(libusb_claim_interface)(first, 0), LIBUSB_ERROR_BUSY);
  EXPECT_EQ(USB(libusb_detach_kernel_driver)(first, 0), LIBUSB_SUCCESS);
  EXPECT_EQ(USB(libusb_kernel_driver_active)(second, 0), 0);
  EXPECT_EQ(USB(libusb_claim_interface)(first, 0), LIBUSB_SUCCESS);
  EXPECT_EQ(USB(libusb_claim_interface)(second, 0), LIBUSB_ERROR_BUSY);
  EXPECT_EQ(USB(libusb_release_interface)(second, 0), LIBUSB_ERROR_NOT_FOUND);
  EXPECT_EQ(USB(libusb_claim_interface)(first, 1), LIBUSB_ERROR_INVALID_PARAM);
  EXPECT_EQ(USB(libusb_bulk_transfer)(first, 0x82, &byte, 1, &got, 100), LIBUSB_ERROR_NOT_FOUND);  // no endpoint
  USB(libusb_close)(first);  // closing releases the claim
  handles.erase(handles.begin());
  EXPECT_EQ(USB(libusb_claim_interface)(second, 0), LIBUSB_SUCCESS);
}

TEST_F(UsbShim, OutTransfersReachTheDeviceWhole) {
  sim::UsbPlug dev(identity("PLR00001"), sink.receiver());
  libusb_device_handle* h = claimed();
  Bytes frame = sequence(70);
  int sent = 0;
  ASSERT_EQ(USB(libusb_bulk_transfer)(h, kOut, frame.data(), 70, &sent, 100), LIBUSB_SUCCESS);
  EXPECT_EQ(sent, 70);
  std::lock_guard lock(sink.m);
  EXPECT_EQ(sink.transfers, std::vector<Bytes>{frame});
}

// The device's bytes arrive in 64-byte packets; a read ends after a short packet or when full.
struct Packets {
  std::vector<std::size_t> sends;  // what the device sends, in order
  int read_length;
  std::vector<std::size_t> reads;  // what successive reads get
};

void PrintTo(const Packets& p, std::ostream* os) {
  *os << "sends";
  for (std::size_t n : p.sends) *os << ' ' << n;
  *os << ", reads of " << p.read_length;
}

class UsbShimPackets : public UsbShim, public ::testing::WithParamInterface<Packets> {};

TEST_P(UsbShimPackets, ReadsFollowThePacketBoundaries) {
  sim::UsbPlug dev(identity("PLR00001"), sink.receiver());
  libusb_device_handle* h = claimed();
  Bytes all;
  for (std::size_t n : GetParam().sends) {
    const Bytes b = sequence(n);
    dev.sendIn(b);
    all.insert(all.end(), b.begin(), b.end());
  }
  Bytes seen;
  for (std::size_t want : GetParam().reads) {
    auto [rc, got] = readIn(h, GetParam().read_length);
    ASSERT_EQ(rc, LIBUSB_SUCCESS);
    EXPECT_EQ(got.size(), want);
    seen.insert(seen.end(), got.begin(), got.end());
  }
  EXPECT_EQ(seen, all);
  EXPECT_EQ(dev.inQueued(), 0u);
  EXPECT_EQ(readIn(h, GetParam().read_length, 20).first, LIBUSB_ERROR_TIMEOUT);
}

INSTANTIATE_TEST_SUITE_P(Shapes, UsbShimPackets,
                         ::testing::Values(Packets{{150}, 64, {64, 64, 22}}, Packets{{150}, 128, {128, 22}},
                                           Packets{{10, 20}, 64, {10, 20}}, Packets{{64, 0}, 64, {64, 0}},
                                           Packets{{0}, 64, {0}}));

TEST_F(UsbShim, APacketBiggerThanTheReadOverflows) {
  sim::UsbPlug dev(identity("PLR00001"), sink.receiver());
  libusb_device_handle* h = claimed();
  dev.sendIn(sequence(64));
  auto [rc, got] = readIn(h, 16);
  EXPECT_EQ(rc, LIBUSB_ERROR_OVERFLOW);
  EXPECT_EQ(got, sequence(16));
}

// Asynchronous transfers, handled on one context by whichever thread runs the events.
struct Async {
  libusb_transfer* t = nullptr;
  Bytes buf = Bytes(64);
  std::atomic<int> done{0};  // set by the callback, on whichever thread runs the events
  static void finished(libusb_transfer* t) { static_cast<std::atomic<int>*>(t->user_data)->store(1); }
  Async(libusb_device_handle* h, unsigned timeout_ms = 0) : t(USB(libusb_alloc_transfer)(0)) {
    t->dev_handle = h;
    t->endpoint = kIn;
    t->type = LIBUSB_TRANSFER_TYPE_BULK;
    t->timeout = timeout_ms;
    t->buffer = buf.data();
    t->length = 64;
    t->callback = &finished;
    t->user_data = &done;
  }
  ~Async() { USB(libusb_free_transfer)(t); }
  Async(const Async&) = delete;
  Async& operator=(const Async&) = delete;
  // Runs events until this transfer completed (at most `limit`).
  bool wait(libusb_context* ctx, std::chrono::milliseconds limit = 3000ms) {
    const auto end = ztest::Clock::now() + limit;
    while (!done && ztest::Clock::now() < end) {
      timeval tv{0, 100000};
      USB(libusb_handle_events_timeout_completed)(ctx, &tv, nullptr);
    }
    return done != 0;
  }
};

TEST_F(UsbShim, AsyncReadCompletesWithDataOrCancelsOrTimesOut) {
  sim::UsbPlug dev(identity("PLR00001"), sink.receiver());
  libusb_device_handle* h = claimed();

  Async data(h);
  ASSERT_EQ(USB(libusb_submit_transfer)(data.t), LIBUSB_SUCCESS);
  EXPECT_EQ(USB(libusb_submit_transfer)(data.t), LIBUSB_ERROR_BUSY);  // in flight already
  dev.sendIn(sequence(5));
  ASSERT_TRUE(data.wait(ctx));
  EXPECT_EQ(data.t->status, LIBUSB_TRANSFER_COMPLETED);
  EXPECT_EQ(data.t->actual_length, 5);

  Async cancelled(h);
  ASSERT_EQ(USB(libusb_submit_transfer)(cancelled.t), LIBUSB_SUCCESS);
  EXPECT_EQ(USB(libusb_cancel_transfer)(cancelled.t), LIBUSB_SUCCESS);
  EXPECT_EQ(USB(libusb_cancel_transfer)(cancelled.t), LIBUSB_ERROR_NOT_FOUND);
  ASSERT_TRUE(cancelled.wait(ctx));
  EXPECT_EQ(cancelled.t->status, LIBUSB_TRANSFER_CANCELLED);

  Async timed(h, 30);
  ASSERT_EQ(USB(libusb_submit_transfer)(timed.t), LIBUSB_SUCCESS);
  ASSERT_TRUE(timed.wait(ctx));
  EXPECT_EQ(timed.t->status, LIBUSB_TRANSFER_TIMED_OUT);
}

// Two threads wait on one context; each sees its own transfer complete, whoever ran the callback.
TEST_F(UsbShim, ThreadsSharingAContextEachSeeTheirTransfer) {
  sim::UsbPlug one(identity("PLR00001"), sink.receiver());
  sim::UsbPlug two(identity("PLR00002"), sink.receiver());
  libusb_device_handle* h1 = claimed(0);
  libusb_device_handle* h2 = claimed(1);
  Async a(h1), b(h2);
  ASSERT_EQ(USB(libusb_submit_transfer)(a.t), LIBUSB_SUCCESS);
  ASSERT_EQ(USB(libusb_submit_transfer)(b.t), LIBUSB_SUCCESS);
  auto waiter_a = std::async(std::launch::async, [&] { return a.wait(ctx); });
  auto waiter_b = std::async(std::launch::async, [&] { return b.wait(ctx); });
  two.sendIn(sequence(2));
  EXPECT_TRUE(waiter_b.get());
  EXPECT_EQ(a.done, 0);
  one.sendIn(sequence(1));
  EXPECT_TRUE(waiter_a.get());
  EXPECT_EQ(a.t->actual_length, 1);
  EXPECT_EQ(b.t->actual_length, 2);
}

TEST_F(UsbShim, UnplugEndsPendingAndLaterTransfersWithNoDevice) {
  auto dev = std::make_unique<sim::UsbPlug>(identity("PLR00001"), sink.receiver());
  libusb_device_handle* h = claimed();
  Async pending(h);
  ASSERT_EQ(USB(libusb_submit_transfer)(pending.t), LIBUSB_SUCCESS);
  auto blocked = std::async(std::launch::async, [&] { return readIn(h, 64, 0).first; });
  std::this_thread::sleep_for(20ms);  // (a read that starts after the unplug fails the same way)
  dev.reset();

  EXPECT_EQ(blocked.get(), LIBUSB_ERROR_NO_DEVICE);
  ASSERT_TRUE(pending.wait(ctx));
  EXPECT_EQ(pending.t->status, LIBUSB_TRANSFER_NO_DEVICE);
  unsigned char byte = 0;
  int got = 0;
  EXPECT_EQ(USB(libusb_bulk_transfer)(h, kOut, &byte, 1, &got, 100), LIBUSB_ERROR_NO_DEVICE);
  EXPECT_EQ(readIn(h, 64).first, LIBUSB_ERROR_NO_DEVICE);
  EXPECT_EQ(USB(libusb_submit_transfer)(pending.t), LIBUSB_ERROR_NO_DEVICE);
  EXPECT_EQ(text(h, 3), "LIBUSB_ERROR_NO_DEVICE");
  libusb_device** list = nullptr;
  EXPECT_EQ(USB(libusb_get_device_list)(ctx, &list), 0);
  USB(libusb_free_device_list)(list, 1);
}

TEST_F(UsbShim, InjectedReadFailuresEndReadsWithAnIoError) {
  sim::UsbPlug dev(identity("PLR00001"), sink.receiver());
  libusb_device_handle* h = claimed();
  Async waiting(h);
  ASSERT_EQ(USB(libusb_submit_transfer)(waiting.t), LIBUSB_SUCCESS);
  dev.failIn(2);  // the waiting read fails at once, then one more
  ASSERT_TRUE(waiting.wait(ctx));
  EXPECT_EQ(waiting.t->status, LIBUSB_TRANSFER_ERROR);
  EXPECT_EQ(dev.inFailuresLeft(), 1);
  EXPECT_EQ(readIn(h, 64).first, LIBUSB_ERROR_IO);
  dev.sendIn(sequence(3));
  EXPECT_EQ(readIn(h, 64), std::make_pair(int{LIBUSB_SUCCESS}, sequence(3)));
}

}  // namespace
