// One product's emulated firmware, asked directly (no transport), on a device time that stands
// still unless a test advances it.
#pragma once

#include <vector>

#include "wire_values.hpp"
#include "zelvo/catalogue/catalogue.hpp"
#include "zelvo/sim/firmware.hpp"

namespace ztest {

struct FirmwareBench {
  static constexpr double kFrozen = 1e-9;  // the device time's scale: only advance() moves it

  explicit FirmwareBench(const char* product) : fw(zelvo::product(product)) { fw.time().setScale(kFrozen); }
  // The payload of the reply to a request (empty when there is none).
  zelvo::Bytes ask(int code, zelvo::Bytes payload) {
    const zelvo::sim::Replies r = fw.handle(zelvo::sim::Request{code, std::move(payload)});
    return r.empty() ? zelvo::Bytes{} : r.front().payload;
  }
  // The single-precision values of a reply from byte `at` on.
  static std::vector<float> floats(const zelvo::Bytes& reply, std::size_t at) {
    std::vector<float> out;
    for (std::size_t i = at; i + 4 <= reply.size(); i += 4) out.push_back(zelvo::readF32BE(zelvo::ByteView(reply).subspan(i)));
    return out;
  }
  template <class F>
  F& peripheral() {
    return *fw.findModule<F>();
  }

  zelvo::sim::Firmware fw;
};

}  // namespace ztest
