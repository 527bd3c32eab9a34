// The stepper module's frame: construction, checks, register access and the status reads.
#include "zelvo/motion/tmc5240_module.hpp"

#include <limits>

#include "zelvo/core/reply.hpp"
#include "zelvo/motion/mcx514_checks.hpp"
#include "zelvo/motion/step_status.hpp"

namespace zelvo {
namespace {

// Reply bytes: the status of a command, the SPI status and the value of a register access, a
// register write's raw result.
constexpr std::size_t kStatusIndex = 1;
constexpr std::size_t kSPIStatusIndex = 2;
constexpr std::size_t kValueIndex = 3;
constexpr std::size_t kValueBytes = 4;
constexpr std::size_t kWriteResultIndex = 6;
constexpr int kStatusBits = 8;
// GSTAT bits Motion_getAlarmStatus reports, in its order.
constexpr int kAlarmBits[] = {4, 2, 1};

std::uint32_t fieldOf(std::int64_t data) {
  if (data < std::numeric_limits<std::int32_t>::min() || data > std::numeric_limits<std::uint32_t>::max())
    throw Error(Err::InputDataNotInRangeError,
                "data = " + std::to_string(data) + " does not fit a 32-bit register (signed or unsigned).");
  return static_cast<std::uint32_t>(data);
}

}  // namespace

TMC5240Module::TMC5240Module(Device& dev, const PairMap& tvst_dict) : dev_(dev), tvst_dict_(tvst_dict) {
  defaults_.with([](tmc5240::RegisterTable& t) { t = tmc5240::defaultTable(); });
}

tmc5240::RegisterTable TMC5240Module::mainTable() const {
  return axis_.with([](const MotionAxis& a) { return tmc5240::mainTable(a.acceleration, a.deceleration); });
}

tmc5240::RegisterTable TMC5240Module::defaultTable() const { return defaults_.snapshot(); }
SPIStatus TMC5240Module::spiStatus() const { return spi_.snapshot(); }

bool TMC5240Module::checkPort(std::int64_t port) const {
  if (port < INT32_MIN || port > INT32_MAX || !tvst_dict_.contains(static_cast<int>(port)))
    throw Error(Err::TVSTPortNotAvaliable);
  return true;
}

int TMC5240Module::decodeSPIStatus(std::int64_t status_byte) {
  spi_.with([&](SPIStatus& s) {
    for (int b = 0; b < kStatusBits; ++b) s[static_cast<std::size_t>(b)] = static_cast<int>((status_byte >> b) & 1);
  });
  return 0;
}

void TMC5240Module::note(Setting s, double value) {
  axis_.with([&](MotionAxis& a) { a.motion_dict.set(s, value); });
}

// --- register access -----------------------------------------------------------------------------

Op<int> TMC5240Module::write(Call& call, int port, int reg_addr, std::int64_t data) {
  checkPort(port);
  Bytes payload = payloadOf(port, reg_addr, 0);
  appendBE(payload, fieldOf(data));
  call.start();  // every step of an operation has the whole time-out
  const Bytes r = co_await call.echo(MOTION_WRITE_REG, std::move(payload));
  co_return Reply(r, "_Motion_write").at(kWriteResultIndex);
}

Op<std::vector<int>> TMC5240Module::read(Call& call, int port, int reg_addr) {
  checkPort(port);
  Bytes payload = payloadOf(port, reg_addr);
  call.start();
  const Bytes r = co_await call.echo(MOTION_READ_REG, std::move(payload));
  const Reply reply(r, "_Motion_read");
  const ByteView value = reply.span(kValueIndex, kValueBytes);
  decodeSPIStatus(reply.at(kSPIStatusIndex));
  co_return std::vector<int>(value.begin(), value.end());
}

Op<int> TMC5240Module::step(Call& call, int port, int reg, std::int64_t data) {
  co_return statusResult(co_await write(call, port, reg, data));
}

Op<std::uint32_t> TMC5240Module::readWord(Call& call, int port, int reg) {
  const std::vector<int> b = co_await read(call, port, reg);
  std::uint32_t w = 0;
  for (int v : b) w = (w << 8) | static_cast<std::uint32_t>(v);
  co_return w;
}

Op<std::int32_t> TMC5240Module::readSigned(Call& call, int port, int reg) {
  co_return static_cast<std::int32_t>(co_await readWord(call, port, reg));
}

Op<int> TMC5240Module::clearFault(Call& call, int port) {
  constexpr int kAllFaults = 31;
  co_return co_await write(call, port, TVST_01_GSTAT, kAllFaults);
}

Op<int> TMC5240Module::setRamp(Call& call, int port) {
  checkPort(port);
  StepStatus st;
  for (const tmc5240::TableEntry& e : mainTable()) st.add(co_await step(call, port, e.reg, e.value));
  co_return st.value();
}

// --- reads ---------------------------------------------------------------------------------------

Op<int> TMC5240Module::open(Call&, int port) {
  checkPort(port);
  co_return 0;
}

Op<int> TMC5240Module::close(Call&, int port) {
  checkPort(port);
  co_return 0;
}

Op<std::int64_t> TMC5240Module::readCurrentVelocity(Call& call, int port) {
  constexpr int kVelocityBits = 24;
  const std::uint32_t raw = co_await readWord(call, port, TVST_22_VACTUAL) & ((1U << kVelocityBits) - 1);
  const std::int64_t sign = std::int64_t{1} << (kVelocityBits - 1);
  co_return (static_cast<std::int64_t>(raw) ^ sign) - sign;  // sign-extended from bit 23
}

Op<std::vector<std::int64_t>> TMC5240Module::readEncoderPosition(Call& call, int port) {
  std::vector<std::int64_t> out;
  out.push_back(co_await readSigned(call, port, TVST_39_XENC));
  out.push_back(co_await readSigned(call, port, TVST_21_XACTUAL));
  co_return out;
}

Op<std::vector<int>> TMC5240Module::getAlarmStatus(Call& call, int port) {
  const std::uint32_t gstat = co_await readWord(call, port, TVST_01_GSTAT);
  std::vector<int> out;
  for (int bit : kAlarmBits) out.push_back(static_cast<int>((gstat >> bit) & 1));
  co_return out;
}

Op<int> TMC5240Module::getInpositionStatus(Call&, int port) {
  checkPort(port);
  constexpr std::size_t kPositionReached = 5;
  co_return spiStatus()[kPositionReached];
}

Op<int> TMC5240Module::getServoOnStatus(Call&, int port) {
  checkPort(port);
  co_return 0;
}

Op<int> TMC5240Module::getProcessState(Call& call, int port) {
  checkPort(port);
  const Bytes r = co_await call.echo(MOTION_GET_PROC_STATE, payloadOf(port));
  co_return Reply(r, "Motion_getProcessState").at(kStatusIndex);
}

Op<int> TMC5240Module::getParameters(Call& call, int port) {
  checkPort(port);
  const Bytes r = co_await call.echo(MOTION_GET_PARAM, payloadOf(port));
  const Reply reply(r, "Motion_getParameters");
  const int status = reply.status(kStatusIndex);
  if (status != 0) co_return status;
  const std::size_t count = defaultTable().size();
  const ByteView values = reply.span(kValueIndex, count * kValueBytes);  // all of them, or the short-reply error
  defaults_.with([&](tmc5240::RegisterTable& t) {
    for (std::size_t i = 0; i < t.size(); ++i) t[i].value = readBE<std::uint32_t>(values.subspan(i * kValueBytes));
  });
  co_return 0;
}

// --- configuration file --------------------------------------------------------------------------

std::optional<std::string> TMC5240Module::cfgPath() const {
  std::lock_guard lock(file_m_);
  return file_.path();
}

IniDocument TMC5240Module::cfgDocument() const {
  std::lock_guard lock(file_m_);
  return file_.document();
}

Op<int> TMC5240Module::openCfgFile(Call&, std::string filename) {
  std::lock_guard lock(file_m_);
  file_.open(filename);
  co_return 0;
}

Op<int> TMC5240Module::saveCfgFile(Call&) {
  std::vector<MotionSettings> axes;
  axes.push_back(axis_.snapshot().motion_dict);
  std::lock_guard lock(file_m_);
  file_.save(axes);
  co_return 0;
}

Op<int> TMC5240Module::loadCfgFile(Call& call, std::optional<int> port) {
  const int p = port.value_or(0);
  checkPort(p);
  MotionConfigFile loaded;
  {
    std::lock_guard lock(file_m_);
    file_.read();  // a fresh document: nothing an earlier save left counts
    loaded = file_;
  }
  loaded.loadSection(0, [&](Setting s, double v) { note(s, v); });
  co_return co_await sendAllConfiguration(call, p);
}

}  // namespace zelvo
