// One lock per motion port of a device, usable by both operation families: an operation holds it
// across a read-modify-write of a chip register (read, change some bits, write back), so that two
// threads or two tasks configuring one axis cannot lose each other's bits.
#pragma once

#include "zelvo/core/call.hpp"
#include "zelvo/core/pools.hpp"

namespace zelvo {

class PortLocks {
 public:
  // Held until destroyed.
  using Held = KeyGates::Ticket;
  // Waits (FIFO) for the port's lock within the call's time-out; the family's time-out error when
  // it does not come in time.
  Op<Held> acquire(Call& call, int port);

 private:
  KeyGates gates_;
};

}  // namespace zelvo
