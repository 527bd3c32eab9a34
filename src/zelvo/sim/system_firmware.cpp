#include "zelvo/sim/system_firmware.hpp"

#include <algorithm>
#include <string>

namespace zelvo::sim {
namespace {

Bytes textBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

bool validTimeOfDay(int hour, int minute, int second) { return hour < 24 && minute < 60 && second < 60; }

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
  auto route = [&](int code, Replies (SystemFirmware::*fn)(const Request&)) {
    fw.registerHandler(code, [this, fn](const Request& r) { return (this->*fn)(r); });
  };
  auto routeConst = [&](int code, Replies (SystemFirmware::*fn)(const Request&) const) {
    fw.registerHandler(code, [this, fn](const Request& r) { return (this->*fn)(r); });
  };
  routeConst(kGetDriverInfo, &SystemFirmware::getDriverInfo);
  routeConst(kGetDateTime, &SystemFirmware::getDateTime);
  route(kSetDateTime, &SystemFirmware::setDateTime);
  route(kSetEepromPage, &SystemFirmware::setEepromPage);
  route(kSetEepromByte, &SystemFirmware::setEepromByte);
  routeConst(kGetPinModeOfSlot, &SystemFirmware::getPinModes);
  routeConst(kGetSlotMode, &SystemFirmware::getSlotModes);
  route(kSetSlotMode, &SystemFirmware::setSlotMode);
  routeConst(kGetThreads, &SystemFirmware::threadList);
  route(kRtcStartAlarm, &SystemFirmware::startAlarm);

  fw.registerHandler(kGetDevAlias, [this](const Request& r) {
    Bytes out = textBytes(fw_->alias());
    out.push_back(kCr);
    out.push_back(kLf);
    return answer(r, std::move(out));
  });
  fw.registerHandler(kSetDevAlias, [this](const Request& r) {
    const bool ok = fw_->setAlias(std::string(r.payload.begin(), r.payload.end()));
    return answer(r, {ok ? status::kOk : status::kParser});
  });
  fw.registerHandler(kGetSerialNumber, [this](const Request& r) { return answer(r, textBytes(fw_->serialNumber())); });
  fw.registerHandler(kSetSerialNumber, [this](const Request& r) {
    const bool ok = fw_->setSerialNumber(std::string(r.payload.begin(), r.payload.end()));
    return answer(r, {ok ? status::kOk : status::kParser});
  });
  fw.registerHandler(kRtcStopAlarm, [this](const Request& r) {
    alarm_.on = false;
    return answer(r, {0, status::kOk});
  });
  fw.registerHandler(kRtcGetAlarmState, [this](const Request& r) { return answer(r, {0, Byte(alarm_.on ? 1 : 0)}); });
  fw.registerHandler(kRtcGetAlarmConfig, [this](const Request& r) {
    return answer(r, {0, alarm_.mode, alarm_.day, alarm_.hour, alarm_.minute, alarm_.second, 0});
  });
  fw.registerHandler(kReboot, [this](const Request& r) {
    ++reboots_;
    return answer(r, {status::kOk});
  });
  fw.registerHandler(kRebootOnBootloader, [this](const Request& r) {
    ++bootloader_reboots_;
    return answer(r, {status::kOk});
  });
  fw.registerHandler(kGetEepromPage, [this](const Request& r) {
    if (r.payload.empty()) return answer(r, {status::kEeprom});
    return answer(r, eepromPage(r.payload[0]));
  });
  fw.registerHandler(kGetEepromDevice, [](const Request& r) {
    // Device number, memory family, page count (big-endian), page size.
    Bytes out{r.payload.empty() ? Byte(0) : r.payload[0], 0x24};
    appendBE(out, static_cast<std::uint16_t>(kEepromPages));
    out.insert(out.end(), {Byte(kEepromPageSize), 0, 0, 0});
    return answer(r, std::move(out));
  });
  fw.registerHandler(kResetFactory, [this](const Request& r) {
    fw_->setAlias(fw_->defaultAlias());
    eraseEeprom();
    return answer(r, {status::kOk});
  });
}

Replies SystemFirmware::getDriverInfo(const Request& req) const {
  // The same text whatever mode byte is asked for: this firmware has one application image.
  return answer(req, textBytes(fw_->product().model + "_APP_" + fw_->version()));
}

Replies SystemFirmware::getDateTime(const Request& req) const {
  const DateTime t = fw_->rtcNow();
  return answer(req, {Byte(t.year - fw_->rtcYearBase()), Byte(t.month), Byte(t.day), Byte(t.hour), Byte(t.minute),
                      Byte(t.second)});
}

Replies SystemFirmware::setDateTime(const Request& req) {
  if (req.payload.size() < 6) return answer(req, {status::kParser});
  const auto& p = req.payload;
  const DateTime t{kClockYearBase + p[0], p[1], p[2], p[3], p[4], p[5]};
  // A clock that counts from a later year cannot hold an earlier one.
  const bool year_ok = t.year >= fw_->rtcYearBase();
  if (!year_ok || t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || !validTimeOfDay(t.hour, t.minute, t.second))
    return answer(req, {status::kRtc});
  fw_->setRtc(t);
  return answer(req, {status::kOk});
}

Replies SystemFirmware::startAlarm(const Request& req) {
  if (req.payload.size() < 6) return answer(req, {0, status::kParser});
  const auto& p = req.payload;
  if (p[2] > 31 || !validTimeOfDay(p[3], p[4], p[5])) return answer(req, {0, status::kRtc});
  alarm_ = RtcAlarm{true, p[1], p[2], p[3], p[4], p[5]};
  return answer(req, {0, status::kOk});
}

Replies SystemFirmware::setEepromPage(const Request& req) {
  if (req.payload.empty() || req.payload.size() - 1 > kEepromPageSize) return answer(req, {status::kEeprom});
  std::copy(req.payload.begin() + 1, req.payload.end(), eeprom_.begin() + req.payload[0] * kEepromPageSize);
  return answer(req, {status::kOk});
}

Replies SystemFirmware::setEepromByte(const Request& req) {
  const auto& p = req.payload;
  if (p.size() < 3 || p[1] >= kEepromPageSize) return answer(req, {status::kEeprom});
  eeprom_[static_cast<std::size_t>(p[0] * kEepromPageSize + p[1])] = p[2];
  return answer(req, {status::kOk});
}

Replies SystemFirmware::getPinModes(const Request& req) const {
  if (req.payload.empty()) return answer(req, {status::kParser});
  const int port = req.payload[0];
  const auto modes = fw_->pinModes(port);
  Bytes out{Byte(port), Byte(modes.size())};
  // Two pins per byte, the even pin in the low nibble.
  for (std::size_t pin = 0; pin < modes.size(); pin += 2) {
    const Byte low = static_cast<Byte>(modes[pin]);
    const Byte high = pin + 1 < modes.size() ? static_cast<Byte>(modes[pin + 1]) : 0;
    out.push_back(static_cast<Byte>(low | high << 4));
  }
  return answer(req, std::move(out));
}

Replies SystemFirmware::getSlotModes(const Request& req) const {
  if (!slotted_) return answer(req, {0});
  // Count of mode nibbles, then one byte per slot.
  Bytes out{Byte(2 * kSlots)};
  for (SlotMode m : slots_) out.push_back(static_cast<Byte>(m));
  return answer(req, std::move(out));
}

Replies SystemFirmware::setSlotMode(const Request& req) {
  if (!slotted_) return answer(req, {0, status::kNotEnabled});
  const auto& p = req.payload;
  // The slot travels as twice its port number.
  if (p.size() < 2 || p[0] % 2 != 0 || p[0] / 2 >= kSlots || p[1] >= kSlotModeCount)
    return answer(req, {0, status::kParser});
  slots_[p[0] / 2] = static_cast<SlotMode>(p[1]);
  return answer(req, {0, status::kOk});
}

Replies SystemFirmware::threadList(const Request& req) const { return answer(req, textBytes(taskList(fw_->product()))); }

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
