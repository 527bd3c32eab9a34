// SNTP module: the device's time-synchronisation client, which keeps its real-time clock in step
// with a time server. Server address 255.255.255.255 means the device searches for a server itself;
// a reported address of 0.0.0.0 means no server is reachable. Settings return the status at reply
// byte 0 (0 or a negative firmware code).
#pragma once

#include <string>

#include "zelvo/core/call.hpp"

namespace zelvo {

// Command codes: core/command_table.def.

class SNTPModule {
 public:
  explicit SNTPModule(Device& dev);

  // Synchronises the clock at once.
  Op<int> syncNow(Call& call);
  // The address of the server in use, as the device reports it (reply bytes 1 onward).
  Op<std::string> getSyncStatus(Call& call);
  // The server address set (reply bytes 1 to 4).
  Op<std::string> getServerIP(Call& call);
  // The address text is checked (InputDataNotInRangeError) before anything is sent.
  Op<int> setServerIP(Call& call, std::string ip_addr);
  // Seconds between synchronisations: a reply of exactly four bytes (a 32-bit float).
  Op<double> getPeriod(Call& call);
  // Sent as a 32-bit float; a value that is not finite as one raises InputDataNotInRangeError.
  Op<int> setPeriod(Call& call, double period);
};

}  // namespace zelvo
