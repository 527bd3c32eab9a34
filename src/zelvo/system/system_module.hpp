// System module: device and firmware information, alias, serial number, real-time clock and its
// alarm, reboot, slot modes of the modular controller, pin modes, EEPROM and factory reset.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "zelvo/catalogue/catalogue.hpp"
#include "zelvo/core/call.hpp"

namespace zelvo {

// Command codes: core/command_table.def.

// The library version reported by Sys_getPythonVersion: the package's, which the build passes in.
#ifndef ZELVO_VERSION
#error "ZELVO_VERSION (the package version) is defined by the build"
#endif
inline constexpr const char* kLibraryVersion = ZELVO_VERSION;

// Slot modes of the modular controller and pin modes, by number.
enum SlotMode { kIdle = 0, kDI = 1, kDO = 2, kDIO = 3, kMotion = 4, kAIO = 5, kSwitch = 6 };
inline constexpr const char* kSlotModes[] = {"Idle", "DI", "DO", "DIO", "Motion", "AIO", "Switch"};
inline constexpr const char* kPinModes[] = {"Disabled", "Idle", "DI", "DO", "UART",
                                            "I2C",      "SPI",  "CAN", "PWM", "ADC"};
// Name of a mode number; "Unknown" for numbers the tables do not list.
std::string slotModeName(int mode);
std::string pinModeName(int mode);

// Slots of the modular controller that modules can take (slot 3 is not one of them); the wire
// port of a slot is slot - 1.
inline constexpr int kKoruSlots[] = {1, 2, 4};
int changeToKORUPort(int slot);
void checkKORUSlot(int slot);

class SystemModule {
 public:
  // The device is not needed: every operation gets it through its Call.
  SystemModule(Device& dev, const SystemData& data);

  Op<std::vector<std::string>> getDriverInfo(Call& call);
  Op<std::string> getPythonVersion(Call& call);
  Op<std::string> getDriverInfoDev(Call& call, int mode);
  Op<std::string> getDeviceAlias(Call& call);
  Op<int> setDeviceAlias(Call& call, std::string alias);
  Op<std::string> getSerialNumber(Call& call);
  Op<int> setSerialNumber(Call& call, std::string serial_num);
  Op<std::string> getRTC(Call& call);
  Op<int> setRTC(Call& call, int year, int month, int day, int hour, int minute, int second);
  Op<int> startRTCAlarm(Call& call, int mode, int day, int hour, int minute, int second);
  Op<int> stopRTCAlarm(Call& call);
  Op<std::string> getRTCAlarmState(Call& call);
  Op<std::string> getRTCAlarmConfig(Call& call);
  Op<int> reboot(Call& call);
  Op<int> rebootOnBootloader(Call& call);
  Op<std::vector<std::string>> getPinModeInPort(Call& call, int port);
  Op<std::string> getMode(Call& call, int slot);
  Op<int> setSlotMode(Call& call, int slot, int mode);
  Op<int> setIdleMode(Call& call, int slot);
  Op<int> setDIMode(Call& call, int slot);
  Op<int> setDOMode(Call& call, int slot);
  Op<int> setDIOMode(Call& call, int slot);
  Op<int> setMotionMode(Call& call, int slot);
  Op<int> setAIOMode(Call& call, int slot);
  Op<int> setSwitchMode(Call& call, int slot);
  Op<std::vector<int>> getEEPROMPage(Call& call, int page_number);
  Op<int> setEEPROMPage(Call& call, int page_number, std::vector<std::int64_t> int_list);
  Op<std::vector<int>> getEEPROMDevice(Call& call, int device_number);
  Op<int> setEEPROMByte(Call& call, int page_number, int byte_index, int value);
  Op<int> resetFactory(Call& call);
  Op<std::string> getThreads(Call& call);

  // What the reading operations leave behind (none until read).
  struct State {
    std::optional<std::string> rtc_time, serial_number, driver_info, thread_info;
    std::optional<int> num_of_pins;
    std::optional<std::vector<int>> pin_mode_list;
  };
  State state() const;

 private:
  template <class F>
  void update(F&& f) {
    std::lock_guard lock(m_);
    f(state_);
  }

  const SystemData data_;
  mutable std::mutex m_;
  State state_;
};

}  // namespace zelvo
