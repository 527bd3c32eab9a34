// The emulated firmware of one device, independent of how bytes reach it. A transport (the TCP
// server, later a USB shim) parses frames, hands each request to Firmware::handle and sends back
// the replies it returns.
//
// The firmware is a table of command handlers plus the state every peripheral shares (identity,
// real-time clock, pin-mode table, stream output). Peripherals add their commands by installing
// a FirmwareModule, or one handler at a time with registerHandler.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "zelvo/core/bytes.hpp"
#include "zelvo/catalogue/catalogue.hpp"
#include "zelvo/sim/sim_clock.hpp"
#include "zelvo/sim/wire.hpp"

namespace zelvo::sim {

// Status bytes the firmware puts into replies.
namespace status {
inline constexpr Byte kOk = 0;
inline constexpr Byte kNotEnabled = 10;
inline constexpr Byte kRtc = 20;
inline constexpr Byte kEeprom = 40;
inline constexpr Byte kParser = 80;
}  // namespace status

enum class PinMode : Byte { Disabled = 0, Idle, DI, DO, UART, I2C, SPI, CAN, PWM, ADC };
inline constexpr int kPinModeCount = 10;

// A frame the firmware sends: a reply (same code as the request) or a stream packet.
struct Reply {
  int code = 0;
  Bytes payload;
};
using Replies = std::vector<Reply>;
using Handler = std::function<Replies(const Request&)>;

// The usual answer: one reply under the request's code.
inline Replies answer(const Request& req, Bytes payload) { return {Reply{req.code, std::move(payload)}}; }

struct DateTime {
  int year = 2000, month = 1, day = 1, hour = 0, minute = 0, second = 0;
  friend bool operator==(const DateTime&, const DateTime&) = default;
};

// The calendar date and time (UTC, whole seconds) of a point in time.
DateTime dateTimeOf(std::chrono::system_clock::time_point when);

// A running real-time clock: the time it was last set to plus the time elapsed since on the
// device's SimClock (so it runs faster when the device's time is scaled). Starts at the host's
// current UTC time.
class DeviceClock {
 public:
  explicit DeviceClock(const SimClock& time);
  DateTime now() const;
  // Fields must be in range (month 1..12, day 1..31, ...); a day past the month's end rolls over.
  void set(const DateTime& t);

 private:
  const SimClock& time_;
  std::chrono::system_clock::time_point base_;
  double anchor_;  // the SimClock's time when base_ was set
};

class Firmware;

// One peripheral's firmware side: owns that peripheral's state and registers its command handlers
// when installed. Handlers run with the firmware's lock held.
class FirmwareModule {
 public:
  virtual ~FirmwareModule() = default;
  virtual void install(Firmware& fw) = 0;
};

struct FirmwareConfig {
  std::string version = "1.0.0";
  std::string serial;  // 8 characters; empty picks a fresh one ("ZS" + 6 hex digits)
};

class SystemFirmware;

class Firmware {
 public:
  explicit Firmware(ProductSpec prod, FirmwareConfig cfg = {});
  virtual ~Firmware();
  Firmware(const Firmware&) = delete;
  Firmware& operator=(const Firmware&) = delete;

  // Answers one request: the handler registered for its code, or [80] (parser error) when there
  // is none or it fails (a handler failure is reported, never fatal to the transport). An empty
  // result means the command has no reply.
  virtual Replies handle(const Request& req);

  // Replaces any handler registered before for the code.
  void registerHandler(int code, Handler h);
  bool hasHandler(int code) const;
  // The handler registered for the code (empty when none): a peripheral that shares a command with
  // another one (the same digital command for different ports) passes on the requests it does not
  // serve.
  Handler handlerFor(int code) const;

  // Reboots (REBOOT): each peripheral puts back what it keeps only in working memory.
  void addRebootHook(std::function<void()> hook);
  void reboot();

  // Takes ownership of a module and installs it.
  template <class M, class... Args>
  M& addModule(Args&&... args) {
    auto owned = std::make_unique<M>(std::forward<Args>(args)...);
    M& m = *owned;
    std::lock_guard lock(mutex_);
    modules_.push_back(std::move(owned));
    m.install(*this);
    return m;
  }
  template <class M>
  M* findModule() const {
    std::lock_guard lock(mutex_);
    for (const auto& m : modules_)
      if (auto* hit = dynamic_cast<M*>(m.get())) return hit;
    return nullptr;
  }
  SystemFirmware& system() const { return *system_; }

  // Every accessor below is safe to call from any thread. Handlers may call them too (the lock is
  // recursive).
  std::recursive_mutex& mutex() const { return mutex_; }

  const ProductSpec& product() const { return product_; }
  const std::string& version() const { return version_; }
  // The year the model's clock counts from (1900, or 2000 on the Wi-Fi models).
  int rtcYearBase() const { return product_.system.rtc_year_base; }

  std::string alias() const;
  std::string defaultAlias() const { return product_.model; }
  // At most kMaxAliasBytes bytes; false (and no change) otherwise.
  bool setAlias(std::string alias);
  static constexpr std::size_t kMaxAliasBytes = 32;

  std::string serialNumber() const;
  // Exactly 8 printable ASCII characters; false (and no change) otherwise.
  bool setSerialNumber(std::string serial);

  // The device's time, which tests can run faster or advance (sim_clock.hpp).
  SimClock& time() const { return time_; }
  DateTime rtcNow() const;
  void setRtc(const DateTime& t);

  // Pin-mode table: every device port the product's maps name, with its pin count.
  std::vector<int> ports() const;
  int pinCount(int port) const;  // 0 for a port the device does not have
  std::vector<PinMode> pinModes(int port) const;
  // Throws std::out_of_range for a pin the device does not have.
  void setPinMode(int port, int pin, PinMode mode);

  // Stream output: packets the firmware sends without a request. The transport installs the sink;
  // without one, packets are dropped.
  void setStreamSink(std::function<void(Reply)> sink);
  void emitStream(Reply packet);

 private:
  const ProductSpec product_;
  const std::string version_;
  mutable std::recursive_mutex mutex_;
  std::map<int, Handler> handlers_;
  std::vector<std::function<void()>> reboot_hooks_;
  std::vector<std::unique_ptr<FirmwareModule>> modules_;
  SystemFirmware* system_ = nullptr;
  std::string alias_;
  std::string serial_;
  mutable SimClock time_;
  DeviceClock clock_{time_};
  std::map<int, std::vector<PinMode>> pins_;
  std::function<void(Reply)> stream_sink_;
};

// A serial number no other emulated device of this process has: "ZS" + 6 hex digits.
std::string freshSerialNumber();

// Initial pin-mode table of a product: every pin that one of its maps names is Idle, the other
// pins of those ports Disabled.
std::map<int, std::vector<PinMode>> initialPinModes(const ProductSpec& prod);

}  // namespace zelvo::sim
