// The system module's operations and the attributes its reads leave on the device.
#include "binding/modules.hpp"
#include "binding/ops.hpp"
#include "zelvo/system/system_module.hpp"

namespace zelvo::py {

void bindSystemModule(nb::handle cls) {
  using S = SystemModule;
  defOp<&S::getDriverInfo>(cls, "Sys_getDriverInfo", {}, "Model name, firmware mode and firmware version.");
  defOp<&S::getDriverInfoDev>(cls, "_getDriverInfo_dev", {"mode"}, "The firmware's information text for a mode.");
  defOp<&S::getPythonVersion>(cls, "Sys_getPythonVersion", {}, "The library's version text (no exchange).");
  defOp<&S::getDeviceAlias>(cls, "Sys_getDeviceAlias", {}, "The device's alias.");
  defOp<&S::setDeviceAlias>(cls, "Sys_setDeviceAlias", {"alias"}, "Sets the alias; 0 or a negative error code.");
  defOp<&S::getSerialNumber>(cls, "Sys_getSerialNumber", {}, "The 8-character serial number.");
  defOp<&S::setSerialNumber>(cls, "_setSerialNumber", {"serial_num"}, "Sets the serial number (service tools).");
  defOp<&S::getRTC>(cls, "Sys_getRTC", {}, "The device clock as 'YYYY-MM-DD, hh:mm:ss'.");
  defOp<&S::setRTC>(cls, "Sys_setRTC", {"year", "month", "day", "hour", "minute", "second"},
                    "Sets the device clock (a year below 100 means 19xx).");
  defOp<&S::startRTCAlarm>(cls, "Sys_startRTCAlarm", {"mode", "day", "hour", "minute", "second"},
                           "Starts the clock alarm.");
  defOp<&S::stopRTCAlarm>(cls, "Sys_stopRTCAlarm", {}, "Stops the clock alarm.");
  defOp<&S::getRTCAlarmState>(cls, "_Sys_getRTCAlarmState", {}, "'on' or 'off'.");
  defOp<&S::getRTCAlarmConfig>(cls, "_Sys_getRTCAlarmConfig", {}, "The alarm setting as six numbers.");
  defOp<&S::reboot>(cls, "Sys_reboot", {}, "Reboots the device.");
  defOp<&S::rebootOnBootloader>(cls, "_Sys_rebootOnBootloader", {}, "Reboots into the boot loader.");
  defOp<&S::getPinModeInPort>(cls, "Sys_getPinModeInPort", {"port"}, "The mode name of every pin of a port.");
  defOp<&S::getMode>(cls, "Sys_getMode", {"slot"}, "The mode name of a slot (1, 2 or 4).");
  defOp<&S::setSlotMode>(cls, "_Sys_setSlotMode", {"slot", "mode"}, "Sets a slot's mode by number.");
  defOp<&S::setIdleMode>(cls, "Sys_setIdleMode", {"slot"}, "Sets a slot to Idle.");
  defOp<&S::setDIMode>(cls, "Sys_setDIMode", {"slot"}, "Sets a slot to DI.");
  defOp<&S::setDOMode>(cls, "Sys_setDOMode", {"slot"}, "Sets a slot to DO.");
  defOp<&S::setDIOMode>(cls, "Sys_setDIOMode", {"slot"}, "Sets a slot to DIO.");
  defOp<&S::setMotionMode>(cls, "Sys_setMotionMode", {"slot"}, "Sets a slot to Motion.");
  defOp<&S::setAIOMode>(cls, "Sys_setAIOMode", {"slot"}, "Sets a slot to AIO.");
  defOp<&S::setSwitchMode>(cls, "Sys_setSwitchMode", {"slot"}, "Sets a slot to Switch.");
  defOp<&S::getEEPROMPage>(cls, "_getEEPROMPage", {"page_number"}, "One EEPROM page as byte values.");
  defOp<&S::setEEPROMPage>(cls, "_setEEPROMPage", {"page_number", "int_list"}, "Writes an EEPROM page.");
  defOp<&S::getEEPROMDevice>(cls, "_getEEPROMDevice", {"device_number"}, "EEPROM device information.");
  defOp<&S::setEEPROMByte>(cls, "_setEEPROMByte", {"page_number", "byte_index", "value"}, "Writes one EEPROM byte.");
  defOp<&S::resetFactory>(cls, "_resetFactory", {}, "Restores the factory settings.");
  defOp<&S::getThreads>(cls, "_getThreads", {}, "The firmware's task report.");

  defCheck<&checkKORUSlot>(cls, "_checkKORUSlot", {"slot"}, "KORUPortNotAvaliableError unless slot is 1, 2 or 4.");

  // What the reads leave behind.
  defState<S>(cls, "rtc_time", [](const S& s) { return s.state().rtc_time; }, "Text of the last Sys_getRTC (None before).");
  defState<S>(cls, "serial_number", [](const S& s) { return s.state().serial_number; }, "The last serial number read.");
  defState<S>(cls, "driver_info", [](const S& s) { return s.state().driver_info; }, "The last _getDriverInfo_dev text.");
  defState<S>(cls, "thread_info", [](const S& s) { return s.state().thread_info; }, "The last _getThreads text.");
  defState<S>(cls, "num_of_pins", [](const S& s) { return s.state().num_of_pins; }, "Pins of the port last read.");
  defState<S>(cls, "pin_mode_list", [](const S& s) { return s.state().pin_mode_list; },
              "Mode numbers of the pins of the port last read.");
}

}  // namespace zelvo::py
