// Dotted IPv4 texts of the emulator's network controls (ValueError for anything else), and back.
#pragma once

#include <string>

#include "zelvo/sim/network_firmware.hpp"

namespace zelvo::py {

sim::IPv4 ipv4From(const std::string& text);
std::string ipv4Text(const sim::IPv4& a);

}  // namespace zelvo::py
