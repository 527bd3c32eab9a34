// The service operations of the motion chip's register layer, one pair of Python methods per row
// of mcx514_registers.def, generated from the table: each row's axis byte, data form and result
// choose its parameters (port, [axis], [values]) and what it returns. Values wrap to their field;
// the public Motion_setLogicalPosi is the module's (it translates and checks its port).
#include <array>
#include <string>
#include <utility>

#include "binding/ops.hpp"
#include "zelvo/motion/mcx514_driver.hpp"

namespace zelvo::py {

void bindMCX514Registers(nb::handle cls);

namespace {

using mcx514::Fit;
using mcx514::kRegisterOps;
using mcx514::RegisterOp;
using mcx514::Result;

// The operations of row I, one per shape of parameters.
template <std::size_t I>
struct Row {
  static constexpr const RegisterOp& op = kRegisterOps[I];

  static Op<int> axisWrite(Device&, Call& c, int port, int axis) {
    return mcx514::writeRegister(c, op, port, axis, 0, 0, Fit::Wrap);
  }
  static Op<int> axisWrite1(Device&, Call& c, int port, int axis, std::int64_t a) {
    return mcx514::writeRegister(c, op, port, axis, a, 0, Fit::Wrap);
  }
  static Op<int> axisWrite2(Device&, Call& c, int port, int axis, std::int64_t a, std::int64_t b) {
    return mcx514::writeRegister(c, op, port, axis, a, b, Fit::Wrap);
  }
  static Op<int> chipWrite(Device&, Call& c, int port) { return mcx514::writeRegister(c, op, port, 0, 0, 0, Fit::Wrap); }
  static Op<int> chipWrite1(Device&, Call& c, int port, std::int64_t a) {
    return mcx514::writeRegister(c, op, port, 0, a, 0, Fit::Wrap);
  }
  static Op<std::int64_t> axisRead(Device&, Call& c, int port, int axis) {
    return mcx514::readRegister(c, op, port, axis);
  }
  static Op<std::int64_t> axisRead1(Device&, Call& c, int port, int axis, std::int64_t page) {
    return mcx514::readRegister(c, op, port, axis, page);
  }
  static Op<std::int64_t> chipRead(Device&, Call& c, int port) { return mcx514::readRegister(c, op, port, 0); }
};

const char* formText(const RegisterOp& op) {
  switch (op.result) {
    case Result::U32:
      return "unsigned 32-bit";
    case Result::I32:
      return "signed 32-bit";
    case Result::U16:
      return "16-bit";
    case Result::Status:
      break;
  }
  return "";
}

// One line saying what the row does, kept for the life of the module.
const char* docOf(std::size_t i) {
  static const auto docs = [] {
    std::array<std::string, mcx514::kRegisterOpCount> d;
    for (std::size_t k = 0; k < d.size(); ++k) {
      const RegisterOp& op = kRegisterOps[k];
      const std::string where = op.takesAxis() ? " of the axis" : " of the chip";
      if (op.reads())
        d[k] = std::string("Reads ") + op.reg_name + where + ": its " + formText(op) + " value.";
      else if (op.data == mcx514::Data::None)
        d[k] = std::string("Sends the command ") + op.reg_name + (op.takesAxis() ? " to the axis" : "") +
               "; 0 or a negative code.";
      else
        d[k] = std::string("Writes ") + op.reg_name + where + " (the value wraps to its field); 0 or a negative code.";
    }
    return d;
  }();
  return docs[i].c_str();
}

template <std::size_t I>
void bindRow(nb::handle cls) {
  using R = Row<I>;
  constexpr const RegisterOp& op = kRegisterOps[I];
  const char* doc = docOf(I);
  if constexpr (op.name[0] != '_') {
    return;  // public: bound with the module
  } else if constexpr (op.reads()) {
    if constexpr (!op.takesAxis())
      defOp<&R::chipRead>(cls, op.name, {"port"}, doc);
    else if constexpr (op.values() == 0)
      defOp<&R::axisRead>(cls, op.name, {"port", "axis"}, doc);
    else
      defOp<&R::axisRead1>(cls, op.name, {"port", "axis", op.first}, doc);
  } else if constexpr (!op.takesAxis()) {
    if constexpr (op.values() == 0)
      defOp<&R::chipWrite>(cls, op.name, {"port"}, doc);
    else
      defOp<&R::chipWrite1>(cls, op.name, {"port", op.first}, doc);
  } else if constexpr (op.values() == 0) {
    defOp<&R::axisWrite>(cls, op.name, {"port", "axis"}, doc);
  } else if constexpr (op.values() == 1) {
    defOp<&R::axisWrite1>(cls, op.name, {"port", "axis", op.first}, doc);
  } else {
    defOp<&R::axisWrite2>(cls, op.name, {"port", "axis", op.first, op.second}, doc);
  }
}

template <std::size_t... I>
void bindRows(nb::handle cls, std::index_sequence<I...>) {
  (bindRow<I>(cls), ...);
}

}  // namespace

void bindMCX514Registers(nb::handle cls) { bindRows(cls, std::make_index_sequence<mcx514::kRegisterOpCount>{}); }

}  // namespace zelvo::py
