#include "zelvo/sim/channel_routes.hpp"

namespace zelvo::sim {

void routeChannel(Firmware& fw, int code, std::size_t need, int channels, Byte missing, ChannelBody body) {
  fw.registerHandler(code, [need, channels, missing, body = std::move(body)](const Request& r) {
    if (r.payload.empty()) return answer(r, {status::kParser});
    const Byte channel = r.payload[0];
    if (r.payload.size() < need) return answer(r, {channel, status::kParser});
    if (channel >= channels) return answer(r, {channel, missing});
    ChannelOutcome out = body(r, channel);
    Bytes reply{channel};
    if (const Byte* s = std::get_if<Byte>(&out)) {
      reply.push_back(*s);
    } else {
      const Bytes& data = std::get<Bytes>(out);
      reply.insert(reply.end(), data.begin(), data.end());
    }
    return answer(r, std::move(reply));
  });
}

}  // namespace zelvo::sim
