#include "zelvo/motion/port_locks.hpp"

namespace zelvo {

Op<PortLocks::Held> PortLocks::acquire(Call& call, int port) {
  auto source = gates_.source(port);
  if (!co_await WaitFor<Unit, KeyGates::KeySource>(call.waitMode(), source, call.deadline(),
                                                   call.device().connectionError()))
    call.throwTimeout();
  co_return Held(&gates_, port);
}

}  // namespace zelvo
