// The pin-mode check a module makes before it takes pins for its own use (digital I/O, the serial
// buses): the modes the device reports for the port, each pin in one of the modes that allow it.
#pragma once

#include <string>
#include <vector>

#include "zelvo/catalogue/catalogue.hpp"
#include "zelvo/system/system_module.hpp"

namespace zelvo {

// The mode of a pin nobody uses.
inline constexpr const char* kIdlePinMode = "Idle";

// Reads the pin modes of `port` and raises `refusal` (its message followed by the pin and the mode
// found) unless every pin of `pins` is in one of the `allowed` modes. APINotSupportError when the
// device has no system module.
Op<void> requirePinModes(Call& call, int port, std::vector<int> pins, std::vector<std::string> allowed, Err refusal);

// The device ports a pin-reference map (analog, thermal, ...) names, ascending, each with the pins
// it names there.
std::map<int, std::vector<int>> pinsByDevicePort(const PairMap& map);
// requirePinModes for every pin a pin-reference map names, one device port at a time.
Op<void> requireMapPinModes(Call& call, const PairMap& map, std::vector<std::string> allowed, Err refusal);

}  // namespace zelvo
