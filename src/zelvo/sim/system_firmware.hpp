// The System commands every product answers: identity, driver information, real-time clock and
// alarm, reboots, pin and slot modes, EEPROM, factory reset and the task list.
#pragma once

#include <array>
#include <cstdint>

#include "zelvo/sim/firmware.hpp"

namespace zelvo::sim {

namespace syscmd {
inline constexpr int kResetFactory = 121;
inline constexpr int kGetSerialNumber = 122;
inline constexpr int kSetSerialNumber = 123;
inline constexpr int kGetThreads = 126;
inline constexpr int kGetPinModeOfSlot = 127;
inline constexpr int kGetDriverInfo = 240;
inline constexpr int kGetDateTime = 241;
inline constexpr int kSetDateTime = 242;
inline constexpr int kGetEepromPage = 247;
inline constexpr int kSetEepromPage = 248;
inline constexpr int kGetEepromDevice = 249;
inline constexpr int kReboot = 250;
inline constexpr int kRebootOnBootloader = 251;
inline constexpr int kSetEepromByte = 255;
inline constexpr int kGetSlotMode = 2054;
inline constexpr int kSetSlotMode = 2055;
inline constexpr int kGetDevAlias = 2056;
inline constexpr int kSetDevAlias = 2057;
inline constexpr int kRtcStartAlarm = 2212;
inline constexpr int kRtcStopAlarm = 2213;
inline constexpr int kRtcGetAlarmState = 2214;
inline constexpr int kRtcGetAlarmConfig = 2215;
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
  Replies getDriverInfo(const Request& req) const;
  Replies getDateTime(const Request& req) const;
  Replies setDateTime(const Request& req);
  Replies setEepromPage(const Request& req);
  Replies setEepromByte(const Request& req);
  Replies getPinModes(const Request& req) const;
  Replies getSlotModes(const Request& req) const;
  Replies setSlotMode(const Request& req);
  Replies threadList(const Request& req) const;
  Replies startAlarm(const Request& req);
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
