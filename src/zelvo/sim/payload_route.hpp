// The route row shape of the network services' firmware (network settings, SNTP, SD card): a
// request with fewer payload bytes than its command needs is answered [80]; any other gets one reply
// whose payload the row's body makes of the request payload.
#pragma once

#include <utility>

#include "zelvo/sim/firmware.hpp"

namespace zelvo::sim {

template <class Body>
void routePayload(Firmware& fw, int code, std::size_t need, Body body) {
  fw.registerHandler(code, [need, body = std::move(body)](const Request& r) {
    if (r.payload.size() < need) return answer(r, {status::kParser});
    return answer(r, body(ByteView(r.payload)));
  });
}

}  // namespace zelvo::sim
