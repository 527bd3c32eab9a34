// The System commands every product answers: identity, driver information, real-time clock and
// alarm, reboots, pin and slot modes, EEPROM, factory reset and the task list.
#pragma once

#include <array>
#include <cstdint>

#include "zelvo/sim/firmware.hpp"

namespace zelvo::sim {

// Command codes, under the names the library gives them.
namespace syscmd {
inline constexpr int RESET_FACTORY = 121;
inline constexpr int GET_SERIAL_NUMBER = 122;
inline constexpr int SET_SERIAL_NUMBER = 123;
inline constexpr int GET_THREADS = 126;
inline constexpr int GET_PIN_MODE_OF_SLOT = 127;
inline constexpr int GET_DRIVER_INFO = 240;
inline constexpr int GET_DATE_TIME = 241;
inline constexpr int SET_DATE_TIME = 242;
inline constexpr int GET_EEPROM_PAGE = 247;
inline constexpr int SET_EEPROM_PAGE = 248;
inline constexpr int GET_EEPROM_DEVICE = 249;
inline constexpr int REBOOT = 250;
inline constexpr int REBOOT_ON_BOOTLOADER = 251;
inline constexpr int SET_EEPROM_BYTE = 255;
inline constexpr int GET_SLOT_MODE = 2054;
inline constexpr int SET_SLOT_MODE = 2055;
inline constexpr int GET_DEV_ALIAS = 2056;
inline constexpr int SET_DEV_ALIAS = 2057;
inline constexpr int RTC_START_ALARM = 2212;
inline constexpr int RTC_STOP_ALARM = 2213;
inline constexpr int RTC_GET_ALARM_STATE = 2214;
inline constexpr int RTC_GET_ALARM_CONFIG = 2215;
}  // namespace syscmd

enum class SlotMode : Byte { Idle = 0, DI, DO, DIO, Motion, AIO, Switch };
inline constexpr int kSlotModeCount = 7;

struct RtcAlarm {
  bool on = false;
  Byte mode = 0, day = 0, hour = 0, minute = 0, second = 0;
};

class SystemFirmware : public FirmwareModule {
 public:
  static constexpr int kEepromPages = 256;
  static constexpr int kEepromPageSize = 64;
  // The modular controller has four slots; other products have none.
  static constexpr int kSlots = 4;

  void install(Firmware& fw) override;

  // Thread-safe views of the state, for tests and the Python API.
  int rebootCount() const;
  int bootloaderRebootCount() const;
  RtcAlarm alarm() const;
  int slotCount() const { return slotted_ ? kSlots : 0; }
  SlotMode slotMode(int port) const;
  Bytes eepromPage(int page) const;

 private:
  // Registers a command: a request with fewer than `need` payload bytes is answered `too_short`,
  // any other gets the reply payload `handler` (a member) makes of its payload.
  template <class Handler>
  void route(int code, std::size_t need, Bytes too_short, Handler handler);

  // Handlers: the reply payload of a request payload.
  Bytes driverInfo(ByteView) const;
  Bytes dateTime(ByteView) const;
  Bytes setDateTime(ByteView p);
  Bytes alias(ByteView) const;
  Bytes setAlias(ByteView p);
  Bytes serialNumber(ByteView) const;
  Bytes setSerialNumber(ByteView p);
  Bytes startAlarm(ByteView p);
  Bytes stopAlarm(ByteView);
  Bytes alarmState(ByteView) const;
  Bytes alarmConfig(ByteView) const;
  Bytes reboot(ByteView);
  Bytes rebootOnBootloader(ByteView);
  Bytes readEepromPage(ByteView p) const;
  Bytes setEepromPage(ByteView p);
  Bytes setEepromByte(ByteView p);
  Bytes eepromDevice(ByteView p) const;
  Bytes resetFactory(ByteView);
  Bytes pinModes(ByteView p) const;
  Bytes slotModes(ByteView) const;
  Bytes setSlotMode(ByteView p);
  Bytes threadList(ByteView) const;
  void eraseEeprom();

  Firmware* fw_ = nullptr;
  bool slotted_ = false;
  int reboots_ = 0;
  int bootloader_reboots_ = 0;
  RtcAlarm alarm_;
  std::array<SlotMode, kSlots> slots_{};
  std::array<Byte, kEepromPages * kEepromPageSize> eeprom_{};
};

}  // namespace zelvo::sim
