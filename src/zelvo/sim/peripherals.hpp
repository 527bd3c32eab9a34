// Installs the firmware side of each peripheral a product has.
#pragma once

namespace zelvo::sim {

class Firmware;

void installPeripherals(Firmware& fw);

}  // namespace zelvo::sim
