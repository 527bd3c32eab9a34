#include "zelvo/system/system_module.hpp"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "zelvo/core/reply.hpp"
#include "zelvo/core/status_exchange.hpp"

namespace zelvo {
namespace {

// Years on the wire: the device clock is set counting from 1900 and reports from the model's base
// year; a two-digit year given by the caller means 19xx.
constexpr int kWireYearBase = kClockYearBase;
constexpr int kTwoDigitYearLimit = 100;
constexpr int kSerialLength = 8;
constexpr char kDriverInfoSeparator = '_';
constexpr Byte kNibbleMask = 0x0F;
// An answer that must hold something: an empty one is a short reply.
constexpr std::size_t kNonEmpty = 1;
constexpr std::size_t kStatusAt = 0;  // replies of the setting commands are the status alone

std::string dateTimeText(int year, int month, int day, int hour, int minute, int second) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d, %02d:%02d:%02d", year, month, day, hour, minute, second);
  return buf;
}

std::vector<std::string> splitText(const std::string& s, char sep) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = s.find(sep, start);
    parts.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return parts;
    start = at + 1;
  }
}

}  // namespace

std::string slotModeName(int mode) {
  return mode >= 0 && mode < static_cast<int>(std::size(kSlotModes)) ? kSlotModes[mode] : "Unknown";
}

std::string pinModeName(int mode) {
  return mode >= 0 && mode < static_cast<int>(std::size(kPinModes)) ? kPinModes[mode] : "Unknown";
}

int changeToKORUPort(int slot) { return slot - 1; }

void checkKORUSlot(int slot) {
  if (std::find(std::begin(kKoruSlots), std::end(kKoruSlots), slot) == std::end(kKoruSlots))
    throw Error(Err::KORUPortNotAvaliableError);
}

SystemModule::SystemModule(Device&, const SystemData& data) : data_(data) {}

SystemModule::State SystemModule::state() const {
  std::lock_guard lock(m_);
  return state_;
}

Op<std::vector<std::string>> SystemModule::getDriverInfo(Call& call) {
  const Bytes r = co_await call.echo(GET_DRIVER_INFO, payloadOf(0));
  Reply(r, "Sys_getDriverInfo").need(kNonEmpty);
  co_return splitText(decodeText(r), kDriverInfoSeparator);
}

Op<std::string> SystemModule::getPythonVersion(Call&) { co_return std::string(kLibraryVersion); }

Op<std::string> SystemModule::getDriverInfoDev(Call& call, int mode) {
  const Bytes r = co_await call.echo(GET_DRIVER_INFO, payloadOf(mode));
  std::string text = decodeText(r);
  update([&](State& s) { s.driver_info = text; });
  co_return text;
}

Op<std::string> SystemModule::getDeviceAlias(Call& call) {
  const Bytes r = co_await call.echo(GET_DEV_ALIAS, {});
  std::size_t end = r.size();
  for (std::size_t i = 0; i + 1 < r.size(); ++i)
    if (r[i] == 13 && r[i + 1] == 10) {
      end = i;
      break;
    }
  co_return decodeText(ByteView(r).first(end));
}

Op<int> SystemModule::setDeviceAlias(Call& call, std::string alias) {
  co_return co_await echoStatus(call, SET_DEV_ALIAS, textPayload(alias, "alias"), kStatusAt, "Sys_setDeviceAlias");
}

Op<std::string> SystemModule::getSerialNumber(Call& call) {
  const Bytes r = co_await call.echo(GET_SERIAL_NUMBER, {});
  std::string serial = decodeText(Reply(r, "Sys_getSerialNumber").span(0, kSerialLength));
  update([&](State& s) { s.serial_number = serial; });
  co_return serial;
}

Op<int> SystemModule::setSerialNumber(Call& call, std::string serial_num) {
  co_return co_await echoStatus(call, SET_SERIAL_NUMBER, textPayload(serial_num, "serial number"),
                                kStatusAt, "_setSerialNumber");
}

Op<std::string> SystemModule::getRTC(Call& call) {
  const Bytes r = co_await call.echo(GET_DATE_TIME, payloadOf(0, 0, 0, 0, 0, 0));
  const Reply reply(r, "Sys_getRTC");
  reply.need(6);
  std::string text =
      dateTimeText(reply.at(0) + data_.rtc_year_base, reply.at(1), reply.at(2), reply.at(3), reply.at(4), reply.at(5));
  update([&](State& s) { s.rtc_time = text; });
  co_return text;
}

Op<int> SystemModule::setRTC(Call& call, int year, int month, int day, int hour, int minute, int second) {
  if (year < kTwoDigitYearLimit) year += kWireYearBase;
  co_return co_await echoStatus(call, SET_DATE_TIME, payloadOf(year - kWireYearBase, month, day, hour, minute, second),
                                kStatusAt, "Sys_setRTC");
}

Op<int> SystemModule::startRTCAlarm(Call& call, int mode, int day, int hour, int minute, int second) {
  const Bytes r = co_await call.echo(RTC_START_ALARM, payloadOf(0, mode, day, hour, minute, second));
  co_return Reply(r, "Sys_startRTCAlarm").at(1);
}

Op<int> SystemModule::stopRTCAlarm(Call& call) {
  const Bytes r = co_await call.echo(RTC_STOP_ALARM, payloadOf(0));
  co_return Reply(r, "Sys_stopRTCAlarm").at(1);
}

Op<std::string> SystemModule::getRTCAlarmState(Call& call) {
  const Bytes r = co_await call.echo(RTC_GET_ALARM_STATE, payloadOf(0));
  co_return std::string(Reply(r, "_Sys_getRTCAlarmState").at(1) == 1 ? "on" : "off");
}

Op<std::string> SystemModule::getRTCAlarmConfig(Call& call) {
  const Bytes r = co_await call.echo(RTC_GET_ALARM_CONFIG, payloadOf(0));
  const Reply reply(r, "_Sys_getRTCAlarmConfig");
  reply.need(7);
  co_return dateTimeText(reply.at(1), reply.at(2), reply.at(3), reply.at(4), reply.at(5), reply.at(6));
}

Op<int> SystemModule::reboot(Call& call) {
  co_return co_await echoStatus(call, REBOOT, payloadOf(REBOOT), kStatusAt, "Sys_reboot");
}

Op<int> SystemModule::rebootOnBootloader(Call& call) {
  co_return co_await echoStatus(call, REBOOT_ON_BOOTLOADER, payloadOf(REBOOT_ON_BOOTLOADER),
                                kStatusAt, "_Sys_rebootOnBootloader");
}

Op<std::vector<std::string>> SystemModule::getPinModeInPort(Call& call, int port) {
  const Bytes r = co_await call.echo(GET_PIN_MODE_OF_SLOT, payloadOf(port));
  const Reply reply(r, "Sys_getPinModeInPort");
  const int pins = reply.at(1);
  const ByteView packed = reply.span(2, static_cast<std::size_t>((pins + 1) / 2));
  std::vector<int> modes;
  for (Byte b : packed) {
    modes.push_back(b & kNibbleMask);  // even pin in the low nibble
    modes.push_back(b >> 4);
  }
  std::vector<std::string> names;
  for (int m : modes) names.push_back(pinModeName(m));
  update([&](State& s) {
    s.num_of_pins = pins;
    s.pin_mode_list = modes;
  });
  co_return names;
}

Op<std::string> SystemModule::getMode(Call& call, int slot) {
  checkKORUSlot(slot);
  const auto port = static_cast<std::size_t>(changeToKORUPort(slot));
  const Bytes r = co_await call.echo(GET_SLOT_MODE, {});
  const Reply reply(r, "Sys_getMode");
  const std::size_t slots = reply.at(0) / 2;
  if (port >= slots)
    throw Error(Err::FirmwareOtherError, "Sys_getMode: the device reports " + std::to_string(slots) +
                                             " slots, slot " + std::to_string(slot) + " is not among them.");
  co_return slotModeName(reply.at(1 + port) & kNibbleMask);
}

Op<int> SystemModule::setSlotMode(Call& call, int slot, int mode) {
  checkKORUSlot(slot);
  const int port = changeToKORUPort(slot);
  const Bytes r = co_await call.echo(SET_SLOT_MODE, payloadOf(2 * port, mode));
  co_return Reply(r, "_Sys_setSlotMode").at(1);
}

Op<int> SystemModule::setIdleMode(Call& call, int slot) { return setSlotMode(call, slot, kIdle); }
Op<int> SystemModule::setDIMode(Call& call, int slot) { return setSlotMode(call, slot, kDI); }
Op<int> SystemModule::setDOMode(Call& call, int slot) { return setSlotMode(call, slot, kDO); }
Op<int> SystemModule::setDIOMode(Call& call, int slot) { return setSlotMode(call, slot, kDIO); }
Op<int> SystemModule::setMotionMode(Call& call, int slot) { return setSlotMode(call, slot, kMotion); }
Op<int> SystemModule::setAIOMode(Call& call, int slot) { return setSlotMode(call, slot, kAIO); }
Op<int> SystemModule::setSwitchMode(Call& call, int slot) { return setSlotMode(call, slot, kSwitch); }

Op<std::vector<int>> SystemModule::getEEPROMPage(Call& call, int page_number) {
  const Bytes r = co_await call.echo(GET_EEPROM_PAGE, payloadOf(page_number));
  const Reply reply(r, "_getEEPROMPage");
  reply.need(kNonEmpty);
  co_return reply.list();
}

Op<int> SystemModule::setEEPROMPage(Call& call, int page_number, std::vector<std::int64_t> int_list) {
  int_list.insert(int_list.begin(), page_number);
  co_return co_await echoStatus(call, SET_EEPROM_PAGE, toPayload(int_list, "EEPROM page"), kStatusAt, "_setEEPROMPage");
}

Op<std::vector<int>> SystemModule::getEEPROMDevice(Call& call, int device_number) {
  const Bytes r = co_await call.echo(GET_EEPROM_DEVICE, payloadOf(device_number));
  co_return Reply(r, "_getEEPROMDevice").list();
}

Op<int> SystemModule::setEEPROMByte(Call& call, int page_number, int byte_index, int value) {
  co_return co_await echoStatus(call, SET_EEPROM_BYTE, payloadOf(page_number, byte_index, value),
                                kStatusAt, "_setEEPROMByte");
}

Op<int> SystemModule::resetFactory(Call& call) {
  co_return co_await echoStatus(call, RESET_FACTORY, {}, kStatusAt, "_resetFactory");
}

Op<std::string> SystemModule::getThreads(Call& call) {
  const Bytes r = co_await call.echo(GET_THREADS, {});
  std::string text = decodeText(r);
  update([&](State& s) { s.thread_info = text; });
  co_return text;
}

}  // namespace zelvo
