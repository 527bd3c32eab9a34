// Network configuration module: the IP address, subnet mask, gateway and MAC address of a device
// connected over TCP. The settings take effect in the device's own network stack; the connection
// in use is not re-opened here. Getters return what the reply holds (no status); setters return
// the status at reply byte 0 (0 or a negative firmware code).
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "zelvo/core/call.hpp"

namespace zelvo {

// Command codes: core/command_table.def.

// The mask Net_setIPAddrAndSubmask sends when none is given.
inline constexpr const char* kDefaultSubnetMask = "255.255.255.0";

class NetworkModule {
 public:
  explicit NetworkModule(Device& dev);

  Op<std::string> getGateway(Call& call);
  // [ip_addr, subnet_mask]
  Op<std::vector<std::string>> getIPAddrAndSubmask(Call& call);
  // Six hexadecimal fields without leading zeros ("0:a:35:1:2:ff").
  Op<std::string> getMACAddr(Call& call);
  // Address texts are checked (InputDataNotInRangeError) before anything is sent, ip_addr first.
  Op<int> setIPAddrAndSubmask(Call& call, std::string ip_addr, std::string subnet_mask);
  Op<int> setGateway(Call& call, std::string gateway);
  Op<int> setMACAddr(Call& call, std::string mac_addr);

  // What the reads leave behind (none until read).
  struct State {
    std::optional<std::string> gateway, ip_addr, subnet_mask, mac_addr;
  };
  State state() const;
  // The device's address as the last Net_getIPAddrAndSubmask read it while connected to the
  // address the device is connected to now; otherwise that connection's address (none before a
  // connect).
  std::optional<std::string> ipAddr() const;

 private:
  template <class F>
  void update(F&& f) {
    std::lock_guard lock(m_);
    f(state_);
  }

  Device& dev_;
  mutable std::mutex m_;
  State state_;
  std::optional<std::string> read_while_at_;  // the connection's address when ip_addr was read
};

}  // namespace zelvo
