// What the four serial buses share: the map of a bus's ports to the device pins they use, the pin
// check made before a bus port is opened, range-checked request fields, and the status reply.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "zelvo/catalogue/catalogue.hpp"
#include "zelvo/core/call.hpp"

namespace zelvo {

// Reply element of the firmware status (status convention of every bus command).
inline constexpr std::size_t kBusStatusIndex = 1;

// The pin modes a bus may take its pins from.
std::vector<std::string> busOpenModes();

using BusPins = std::vector<std::pair<int, int>>;  // (device port, pin) pairs

// A bus's ports (the model's map) and the error that refuses a port the map lacks.
class BusPortMap {
 public:
  BusPortMap(const PairMap& map, Err unavailable) : map_(map), unavailable_(unavailable) {}

  const PairMap& map() const { return map_; }
  std::vector<int> ports() const;
  // The pins of the port; `unavailable` when the map has no such port.
  const BusPins& pins(int port) const;
  bool check(int port) const;
  // The distinct device ports that carry the bus port's pins, ascending.
  std::vector<int> dioPorts(int port) const;
  // One pin-mode query per device port; `unavailable` (naming pin and mode) unless every pin of the
  // bus port is in one of the `allowed` modes. True otherwise.
  Op<bool> requirePinModes(Call& call, int port, std::vector<std::string> allowed) const;

 private:
  const PairMap map_;
  const Err unavailable_;
};

// Range-checked request fields: InputDataNotInRangeError naming the field when a value does not
// fit. Each appends to `out`.
void appendByteField(Bytes& out, std::int64_t value, const char* name);
void appendByteFields(Bytes& out, std::span<const std::int64_t> values, const char* name);
void appendU32Field(Bytes& out, std::int64_t value, const char* name);
// A count field: 0..255, else `too_long` (a library error of the bus) or InputDataNotInRangeError.
void appendCountField(Bytes& out, std::size_t count, const char* name, Err too_long = Err::InputDataNotInRangeError);

// The echo exchange of a command answered under the status convention.
Op<int> busStatus(Call& call, int cmd, Bytes payload, const char* operation);

}  // namespace zelvo
