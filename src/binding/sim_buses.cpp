// The emulator controls of the serial buses, one group per bus.
#include "binding/sim_group.hpp"

namespace zelvo::py {

void bindBusControls(nanobind::module_& s, nanobind::handle tcp, nanobind::handle usb) {
  bindI2cControls(s, tcp, usb);
  bindSpiControls(s, tcp, usb);
  bindUartControls(s, tcp, usb);
  bindCanControls(s, tcp, usb);
}

}  // namespace zelvo::py
