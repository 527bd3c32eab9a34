#include "zelvo/sim/firmware.hpp"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <random>
#include <set>
#include <stdexcept>

#include "zelvo/sim/peripherals.hpp"
#include "zelvo/sim/system_firmware.hpp"

namespace zelvo::sim {

// --- clock ---------------------------------------------------------------------------------------

DeviceClock::DeviceClock(const SimClock& time)
    : time_(time), base_(std::chrono::system_clock::now()), anchor_(time.now()) {}

DateTime dateTimeOf(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  const auto t = floor<seconds>(when);
  const auto day = floor<days>(t);
  const year_month_day ymd{day};
  const hh_mm_ss hms{t - day};
  return DateTime{static_cast<int>(ymd.year()),          static_cast<int>(static_cast<unsigned>(ymd.month())),
                  static_cast<int>(static_cast<unsigned>(ymd.day())), static_cast<int>(hms.hours().count()),
                  static_cast<int>(hms.minutes().count()), static_cast<int>(hms.seconds().count())};
}

DateTime DeviceClock::now() const {
  using namespace std::chrono;
  const auto elapsed = duration<double>(time_.now() - anchor_);
  return dateTimeOf(base_ + duration_cast<system_clock::duration>(elapsed));
}

void DeviceClock::set(const DateTime& t) {
  using namespace std::chrono;
  // An out-of-range day is counted on from the first of the month, as the calendar types define.
  const sys_days first = year{t.year} / month{static_cast<unsigned>(t.month)} / day{1};
  base_ = first + days{t.day - 1} + hours{t.hour} + minutes{t.minute} + seconds{t.second};
  anchor_ = time_.now();
}

// --- identity and pin table ----------------------------------------------------------------------

std::string freshSerialNumber() {
  // A random start per process, then a step that visits all 2^24 values before repeating.
  static const std::uint32_t start = std::random_device{}() & 0xFFFFFF;
  static std::atomic<std::uint32_t> issued{0};
  const std::uint32_t n = (start + issued.fetch_add(1) * 0x9E3779u) & 0xFFFFFF;
  char text[9];
  std::snprintf(text, sizeof text, "ZS%06X", static_cast<unsigned>(n));
  return text;
}

std::map<int, std::vector<PinMode>> initialPinModes(const ProductSpec& prod) {
  std::map<int, std::set<int>> named;
  if (prod.dio)
    for (const auto* map : {&prod.dio->di_dict, &prod.dio->do_dict})
      for (const auto& [port, pins] : *map) named[port].insert(pins.begin(), pins.end());
  for (const PairMap* map : pinReferenceMaps(prod))
    for (const auto& [module_port, refs] : *map)
      for (const auto& [port, pin] : refs) named[port].insert(pin);

  std::map<int, std::vector<PinMode>> table;
  for (const auto& [port, count] : portLayout(prod)) {
    auto& modes = table[port];
    modes.assign(static_cast<std::size_t>(count), PinMode::Disabled);
    for (int pin : named[port])
      if (pin >= 0 && pin < count) modes[static_cast<std::size_t>(pin)] = PinMode::Idle;
  }
  return table;
}

// --- firmware ------------------------------------------------------------------------------------

Firmware::Firmware(ProductSpec prod, FirmwareConfig cfg)
    : product_(std::move(prod)), version_(std::move(cfg.version)), alias_(product_.model), pins_(initialPinModes(product_)) {
  if (cfg.serial.empty()) cfg.serial = freshSerialNumber();
  if (!setSerialNumber(cfg.serial)) throw std::invalid_argument("a serial number is 8 printable ASCII characters");
  // Every emulated device answers the System commands, whatever its entry lists; the other
  // peripherals follow the product's modules.
  system_ = &addModule<SystemFirmware>();
  installPeripherals(*this);
}

Firmware::~Firmware() {
  // Modules first: their threads may still emit stream packets into the sink until they end.
  decltype(modules_) modules;
  {
    std::lock_guard lock(mutex_);
    modules.swap(modules_);
  }
  modules.clear();
}

Replies Firmware::handle(const Request& req) {
  std::lock_guard lock(mutex_);
  const auto it = handlers_.find(req.code);
  if (it == handlers_.end()) return answer(req, {status::kParser});
  try {
    return it->second(req);
  } catch (const std::exception&) {
    return answer(req, {status::kParser});
  }
}

void Firmware::registerHandler(int code, Handler h) {
  std::lock_guard lock(mutex_);
  handlers_[code] = std::move(h);
}

bool Firmware::hasHandler(int code) const {
  std::lock_guard lock(mutex_);
  return handlers_.count(code) != 0;
}

Handler Firmware::handlerFor(int code) const {
  std::lock_guard lock(mutex_);
  const auto it = handlers_.find(code);
  return it == handlers_.end() ? Handler{} : it->second;
}

void Firmware::addRebootHook(std::function<void()> hook) {
  std::lock_guard lock(mutex_);
  reboot_hooks_.push_back(std::move(hook));
}

void Firmware::reboot() {
  std::lock_guard lock(mutex_);
  for (const auto& hook : reboot_hooks_) hook();
}

std::string Firmware::alias() const {
  std::lock_guard lock(mutex_);
  return alias_;
}

bool Firmware::setAlias(std::string alias) {
  if (alias.size() > kMaxAliasBytes) return false;
  std::lock_guard lock(mutex_);
  alias_ = std::move(alias);
  return true;
}

std::string Firmware::serialNumber() const {
  std::lock_guard lock(mutex_);
  return serial_;
}

bool Firmware::setSerialNumber(std::string serial) {
  const bool printable = std::all_of(serial.begin(), serial.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
  if (serial.size() != 8 || !printable) return false;
  std::lock_guard lock(mutex_);
  serial_ = std::move(serial);
  return true;
}

DateTime Firmware::rtcNow() const {
  std::lock_guard lock(mutex_);
  return clock_.now();
}

void Firmware::setRtc(const DateTime& t) {
  std::lock_guard lock(mutex_);
  clock_.set(t);
}

std::vector<int> Firmware::ports() const {
  std::lock_guard lock(mutex_);
  std::vector<int> out;
  for (const auto& entry : pins_) out.push_back(entry.first);
  return out;
}

int Firmware::pinCount(int port) const {
  std::lock_guard lock(mutex_);
  const auto it = pins_.find(port);
  return it == pins_.end() ? 0 : static_cast<int>(it->second.size());
}

std::vector<PinMode> Firmware::pinModes(int port) const {
  std::lock_guard lock(mutex_);
  const auto it = pins_.find(port);
  return it == pins_.end() ? std::vector<PinMode>{} : it->second;
}

void Firmware::setPinMode(int port, int pin, PinMode mode) {
  std::lock_guard lock(mutex_);
  const auto it = pins_.find(port);
  if (it == pins_.end() || pin < 0 || pin >= static_cast<int>(it->second.size()))
    throw std::out_of_range("port " + std::to_string(port) + " has no pin " + std::to_string(pin));
  it->second[static_cast<std::size_t>(pin)] = mode;
}

void Firmware::setStreamSink(std::function<void(Reply)> sink) {
  std::lock_guard lock(mutex_);
  stream_sink_ = std::move(sink);
}

void Firmware::emitStream(Reply packet) {
  std::lock_guard lock(mutex_);
  if (stream_sink_) stream_sink_(std::move(packet));
}

}  // namespace zelvo::sim
