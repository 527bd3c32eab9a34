#include "zelvo/sim/system_firmware.hpp"

#include <algorithm>
#include <functional>
#include <string>

namespace zelvo::sim {
namespace {

Bytes textBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

bool validTimeOfDay(int hour, int minute, int second) { return hour < 24 && minute < 60 && second < 60; }

// Payload bytes some requests need.
constexpr std::size_t kDateTimeFields = 6;    // year - 1900, month, day, hour, minute, second
constexpr std::size_t kAlarmFields = 6;       // 0, mode, day, hour, minute, second
constexpr std::size_t kEepromByteFields = 3;  // page, index, value
constexpr std::size_t kPageByte = 1;
constexpr std::size_t kPortByte = 1;
constexpr Byte kEepromFamily = 0x24;          // what GET_EEPROM_DEVICE reports as the memory family

// Tasks the firmware runs, by transport and peripheral; what GET_THREADS lists.
std::string taskList(const ProductSpec& prod) {
  std::string out = "main\r\ncmd_parser\r\n";
  switch (prod.base) {
    case DeviceBase::USB: out += "usb_cdc\r\n"; break;
    case DeviceBase::Wifi: out += "wifi_cmd\r\nwifi_data\r\n"; break;
    default: out += "eth_rx\r\neth_tx\r\n"; break;
  }
  struct Task {
    ModuleId module;
    const char* name;
  };
  static constexpr Task kTasks[] = {
      {ModuleId::Network, "netif"},       {ModuleId::SNTP, "sntp"},         {ModuleId::AI, "ai_stream"},
      {ModuleId::AI24BitStreaming, "ai24_stream"}, {ModuleId::AO, "ao_update"}, {ModuleId::AOStreaming, "ao_stream"},
      {ModuleId::DIO, "dio_poll"},        {ModuleId::UART, "uart_rx"},      {ModuleId::CAN, "can_rx"},
      {ModuleId::AHRS, "ahrs_fusion"},    {ModuleId::SDCard, "sd_card"},    {ModuleId::MCX514, "motion"},
      {ModuleId::TMC5240, "stepper"},     {ModuleId::Thermocouple, "thermal"},
      {ModuleId::ThermalResistance, "thermal"},
  };
  for (const auto& t : kTasks)
    if (prod.has(t.module) && out.find(t.name) == std::string::npos) out += std::string(t.name) + "\r\n";
  return out + "rtc\r\nidle\r\n";
}

}  // namespace

void SystemFirmware::install(Firmware& fw) {
  fw_ = &fw;
  slotted_ = fw.product().system.slots;
  eraseEeprom();
  using namespace syscmd;
  using S = SystemFirmware;
  constexpr std::size_t kAny = 0;
  //    code                  bytes needed         answer when shorter          handler
  route(GET_DRIVER_INFO,      kAny,                {},                          &S::driverInfo);
  route(GET_DATE_TIME,        kAny,                {},                          &S::dateTime);
  route(SET_DATE_TIME,        kDateTimeFields,     {status::kParser},           &S::setDateTime);
  route(GET_DEV_ALIAS,        kAny,                {},                          &S::alias);
  route(SET_DEV_ALIAS,        kAny,                {},                          &S::setAlias);
  route(GET_SERIAL_NUMBER,    kAny,                {},                          &S::serialNumber);
  route(SET_SERIAL_NUMBER,    kAny,                {},                          &S::setSerialNumber);
  route(RTC_START_ALARM,      kAlarmFields,        {0, status::kParser},        &S::startAlarm);
  route(RTC_STOP_ALARM,       kAny,                {},                          &S::stopAlarm);
  route(RTC_GET_ALARM_STATE,  kAny,                {},                          &S::alarmState);
  route(RTC_GET_ALARM_CONFIG, kAny,                {},                          &S::alarmConfig);
  route(REBOOT,               kAny,                {},                          &S::reboot);
  route(REBOOT_ON_BOOTLOADER, kAny,                {},                          &S::rebootOnBootloader);
  route(GET_EEPROM_PAGE,      kPageByte,           {status::kEeprom},           &S::readEepromPage);
  route(SET_EEPROM_PAGE,      kPageByte,           {status::kEeprom},           &S::setEepromPage);
  route(SET_EEPROM_BYTE,      kEepromByteFields,   {status::kEeprom},           &S::setEepromByte);
  route(GET_EEPROM_DEVICE,    kAny,                {},                          &S::eepromDevice);
  route(RESET_FACTORY,        kAny,                {},                          &S::resetFactory);
  route(GET_PIN_MODE_OF_SLOT, kPortByte,           {status::kParser},           &S::pinModes);
  route(GET_SLOT_MODE,        kAny,                {},                          &S::slotModes);
  route(SET_SLOT_MODE,        kAny,                {},                          &S::setSlotMode);
  route(GET_THREADS,          kAny,                {},                          &S::threadList);
}

template <class Handler>
void SystemFirmware::route(int code, std::size_t need, Bytes too_short, Handler handler) {
  fw_->registerHandler(code, [this, need, too_short = std::move(too_short), handler](const Request& r) {
    if (r.payload.size() < need) return answer(r, too_short);
    return answer(r, std::invoke(handler, *this, ByteView(r.payload)));
  });
}

// --- identity, clock and alarm ---------------------------------------------------------------------

Bytes SystemFirmware::driverInfo(ByteView) const {
  // The same text whatever mode byte is asked for: this firmware has one application image.
  return textBytes(fw_->product().model + "_APP_" + fw_->version());
}

Bytes SystemFirmware::alias(ByteView) const {
  Bytes out = textBytes(fw_->alias());
  out.push_back(kCr);
  out.push_back(kLf);
  return out;
}

Bytes SystemFirmware::setAlias(ByteView p) {
  return {fw_->setAlias(std::string(p.begin(), p.end())) ? status::kOk : status::kParser};
}

Bytes SystemFirmware::serialNumber(ByteView) const { return textBytes(fw_->serialNumber()); }

Bytes SystemFirmware::setSerialNumber(ByteView p) {
  return {fw_->setSerialNumber(std::string(p.begin(), p.end())) ? status::kOk : status::kParser};
}

Bytes SystemFirmware::dateTime(ByteView) const {
  const DateTime t = fw_->rtcNow();
  return {Byte(t.year - fw_->rtcYearBase()), Byte(t.month), Byte(t.day), Byte(t.hour), Byte(t.minute), Byte(t.second)};
}

Bytes SystemFirmware::setDateTime(ByteView p) {
  const DateTime t{kClockYearBase + p[0], p[1], p[2], p[3], p[4], p[5]};
  // A clock that counts from a later year cannot hold an earlier one.
  const bool year_ok = t.year >= fw_->rtcYearBase();
  if (!year_ok || t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || !validTimeOfDay(t.hour, t.minute, t.second))
    return {status::kRtc};
  fw_->setRtc(t);
  return {status::kOk};
}

Bytes SystemFirmware::startAlarm(ByteView p) {
  if (p[2] > 31 || !validTimeOfDay(p[3], p[4], p[5])) return {0, status::kRtc};
  alarm_ = RtcAlarm{true, p[1], p[2], p[3], p[4], p[5]};
  return {0, status::kOk};
}

Bytes SystemFirmware::stopAlarm(ByteView) {
  alarm_.on = false;
  return {0, status::kOk};
}

Bytes SystemFirmware::alarmState(ByteView) const { return {0, Byte(alarm_.on ? 1 : 0)}; }

Bytes SystemFirmware::alarmConfig(ByteView) const {
  return {0, alarm_.mode, alarm_.day, alarm_.hour, alarm_.minute, alarm_.second, 0};
}

Bytes SystemFirmware::reboot(ByteView) {
  ++reboots_;
  fw_->reboot();
  return {status::kOk};
}

Bytes SystemFirmware::rebootOnBootloader(ByteView) {
  ++bootloader_reboots_;
  return {status::kOk};
}

// --- EEPROM and factory reset ------------------------------------------------------------------------

Bytes SystemFirmware::readEepromPage(ByteView p) const { return eepromPage(p[0]); }

Bytes SystemFirmware::setEepromPage(ByteView p) {
  if (p.size() - 1 > kEepromPageSize) return {status::kEeprom};
  std::copy(p.begin() + 1, p.end(), eeprom_.begin() + p[0] * kEepromPageSize);
  return {status::kOk};
}

Bytes SystemFirmware::setEepromByte(ByteView p) {
  if (p[1] >= kEepromPageSize) return {status::kEeprom};
  eeprom_[static_cast<std::size_t>(p[0] * kEepromPageSize + p[1])] = p[2];
  return {status::kOk};
}

Bytes SystemFirmware::eepromDevice(ByteView p) const {
  // Device number, memory family, page count (big-endian), page size.
  Bytes out{p.empty() ? Byte(0) : p[0], kEepromFamily};
  appendBE(out, static_cast<std::uint16_t>(kEepromPages));
  out.insert(out.end(), {Byte(kEepromPageSize), 0, 0, 0});
  return out;
}

Bytes SystemFirmware::resetFactory(ByteView) {
  fw_->setAlias(fw_->defaultAlias());
  eraseEeprom();
  return {status::kOk};
}

// --- pin and slot modes, tasks -------------------------------------------------------------------------

Bytes SystemFirmware::pinModes(ByteView p) const {
  const int port = p[0];
  const auto modes = fw_->pinModes(port);
  Bytes out{Byte(port), Byte(modes.size())};
  // Two pins per byte, the even pin in the low nibble.
  for (std::size_t pin = 0; pin < modes.size(); pin += 2) {
    const Byte low = static_cast<Byte>(modes[pin]);
    const Byte high = pin + 1 < modes.size() ? static_cast<Byte>(modes[pin + 1]) : 0;
    out.push_back(static_cast<Byte>(low | high << 4));
  }
  return out;
}

Bytes SystemFirmware::slotModes(ByteView) const {
  if (!slotted_) return {0};
  // Count of mode nibbles, then one byte per slot.
  Bytes out{Byte(2 * kSlots)};
  for (SlotMode m : slots_) out.push_back(static_cast<Byte>(m));
  return out;
}

Bytes SystemFirmware::setSlotMode(ByteView p) {
  if (!slotted_) return {0, status::kNotEnabled};
  // The slot travels as twice its port number.
  if (p.size() < 2 || p[0] % 2 != 0 || p[0] / 2 >= kSlots || p[1] >= kSlotModeCount) return {0, status::kParser};
  slots_[p[0] / 2] = static_cast<SlotMode>(p[1]);
  return {0, status::kOk};
}

Bytes SystemFirmware::threadList(ByteView) const { return textBytes(taskList(fw_->product())); }

void SystemFirmware::eraseEeprom() { eeprom_.fill(0xFF); }

int SystemFirmware::rebootCount() const {
  std::lock_guard lock(fw_->mutex());
  return reboots_;
}

int SystemFirmware::bootloaderRebootCount() const {
  std::lock_guard lock(fw_->mutex());
  return bootloader_reboots_;
}

RtcAlarm SystemFirmware::alarm() const {
  std::lock_guard lock(fw_->mutex());
  return alarm_;
}

SlotMode SystemFirmware::slotMode(int port) const {
  std::lock_guard lock(fw_->mutex());
  return port >= 0 && port < slotCount() ? slots_[static_cast<std::size_t>(port)] : SlotMode::Idle;
}

Bytes SystemFirmware::eepromPage(int page) const {
  std::lock_guard lock(fw_->mutex());
  if (page < 0 || page >= kEepromPages) return {};
  const auto first = eeprom_.begin() + page * kEepromPageSize;
  return Bytes(first, first + kEepromPageSize);
}

}  // namespace zelvo::sim
