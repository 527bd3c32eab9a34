#include "zelvo/bus/uart_module.hpp"

#include <algorithm>

#include "zelvo/bus/queued_read.hpp"
#include "zelvo/core/console.hpp"
#include "zelvo/core/routing.hpp"
#include "zelvo/core/status_exchange.hpp"

namespace zelvo {
namespace {

constexpr int kDataBitModes = 2;   // 0: 8-bit data, 1: 9-bit data
constexpr int kParityModes = 4;    // 0 none, 1 reserved, 2 even, 3 odd
constexpr int kStopBitModes = 4;   // 0: 1 bit, 1: 0.5 bit, 2: 2 bits, 3: 1.5 bits
constexpr const char* kUartPinMode = "UART";  // the mode an open port's pins report

StreamKey streamKey(int port) { return StreamKey{START_UART_READING, port, 0, 2}; }

std::size_t lengthOf(const UartData& data) {
  if (const auto* text = std::get_if<std::string>(&data)) return codePoints(*text).size();
  return std::get<std::vector<std::int64_t>>(data).size();
}

}  // namespace

UARTModule::UARTModule(Device& dev, const PairMap& uart_dict)
    : dev_(dev), ports_(uart_dict, Err::UARTPortNotAvaliableError) {
  for (std::size_t i = 1; i < kPorts; ++i)
    queues_[i] = std::make_unique<Queue>(QUEUE_SIZE_MAX, [this, i] { return moreCanCome(i); });
  for (int port : ports_.ports())
    dev_.setStreamSink(streamKey(port), [this, i = indexOf(port)](ByteView stored) { onStream(i, stored); });
  dev_.addCloseHook([this] { free(); });
  dev_.addReaderWake([this] { wakeReaders(); });
}

UARTModule::~UARTModule() {
  for (int port : ports_.ports()) dev_.clearStreamSink(streamKey(port));
}

UARTModule::Queue& UARTModule::queueOf(int port) const { return *queues_[indexOf(port)]; }

bool UARTModule::isOpen(int port) const { return open_[indexOf(port)].load(); }

std::vector<int> UARTModule::openPorts() const {
  std::vector<int> out;
  for (int port : ports_.ports())
    if (isOpen(port)) out.push_back(port);
  return out;
}

bool UARTModule::moreCanCome(std::size_t index) const {
  return open_[index].load() && !killed_.load() && !dev_.killed() && dev_.receiving();
}

void UARTModule::wakeReaders() {
  for (std::size_t i = 1; i < kPorts; ++i) queues_[i]->wakeReaders();
}

void UARTModule::free() {
  killed_ = true;
  wakeReaders();
}

// --- delivery (receive thread) -------------------------------------------------------------------

void UARTModule::onStream(std::size_t index, ByteView stored) {
  {
    std::lock_guard lock(m_);
    if (killed_) return;
    if (!open_[index]) {
      // Closed: the packet waits in the raw queue and is delivered when the port opens.
      dev_.streams().queue(streamKey(static_cast<int>(index)))->push(Bytes(stored.begin(), stored.end()));
      return;
    }
    deliver(index, stored);
  }
  // Once per burst of drops, outside the lock: the warning goes through the interpreter.
  if (queues_[index]->takeOverflowStart()) console::warn(Err::UARTQueueOverflowWarning);
}

void UARTModule::deliver(std::size_t index, ByteView bytes) { queues_[index]->push(bytes.begin(), bytes.end()); }

// --- checks --------------------------------------------------------------------------------------

bool UARTModule::checkBaudRate(std::int64_t baud_rate) {
  if (baud_rate < 0 || baud_rate > kUartMaxBaudRate) throw Error(Err::UARTBaudRateNotSupportError);
  return true;
}

bool UARTModule::checkDataBit(int mode) {
  if (mode < 0 || mode >= kDataBitModes) throw Error(Err::UARTDataBitNotSupportError);
  return true;
}

bool UARTModule::checkParityMode(int mode) {
  if (mode < 0 || mode >= kParityModes) throw Error(Err::UARTParityNotSupportError);
  return true;
}

bool UARTModule::checkNumStopBitMode(int mode) {
  if (mode < 0 || mode >= kStopBitModes) throw Error(Err::UARTStopBitNotSupportError);
  return true;
}

bool UARTModule::checkDataLength(const UartData& data) {
  if (lengthOf(data) > kUartMaxWriteLength) throw Error(Err::UARTExceedMaxLengthError);
  return true;
}

Op<bool> UARTModule::checkPinState(Call& call, int port, std::vector<std::string> modes) {
  co_return co_await ports_.requirePinModes(call, port, std::move(modes));
}

// --- operations ----------------------------------------------------------------------------------

Op<int> UARTModule::open(Call& call, int port) {
  checkPort(port);
  // An open port's pins are its own: opening it again only sends OPEN_UART.
  std::vector<std::string> allowed = busOpenModes();
  if (isOpen(port)) allowed.emplace_back(kUartPinMode);
  co_await ports_.requirePinModes(call, port, std::move(allowed));
  const int status = co_await echoStatus(call, OPEN_UART, payloadOf(port), kBusStatusIndex, "UART_open");
  const std::size_t i = indexOf(port);
  if (status == 0 && !open_[i]) {
    // Reading starts once per opening: a second open of an open port does not restart it.
    call.sendOnly(START_UART_READING, payloadOf(port));
    std::lock_guard lock(m_);
    for (const Bytes& packet : dev_.streams().queue(streamKey(port))->take(-1)) deliver(i, packet);
    open_[i] = true;
  }
  co_return status;
}

Op<int> UARTModule::close(Call& call, int port) {
  checkPort(port);
  co_await stopReading(call, port);
  const int status = co_await echoStatus(call, CLOSE_UART, payloadOf(port), kBusStatusIndex, "UART_close");
  if (status == 0) {
    {
      std::lock_guard lock(m_);
      open_[indexOf(port)] = false;
    }
    queueOf(port).wakeReaders();  // a blocked read returns what is queued
  }
  co_return status;
}

Op<int> UARTModule::write(Call& call, int port, UartData write_data) {
  checkPort(port);
  checkDataLength(write_data);
  Bytes payload = payloadOf(port);
  payload.push_back(static_cast<Byte>(lengthOf(write_data)));
  if (const auto* text = std::get_if<std::string>(&write_data))
    appendByteFields(payload, codePoints(*text), "write_data character codes");
  else
    appendByteFields(payload, std::get<std::vector<std::int64_t>>(write_data), "write_data");
  co_return co_await busStatus(call, WRITE_UART, std::move(payload), "UART_write");
}

Op<UartChars> UARTModule::read(Call& call, int port, std::int64_t bytes_to_read, double delay) {
  (void)delay;  // the wait ends when the bytes arrive, not at the next poll; any delay is accepted
  dev_.requireOpen();
  checkPort(port);
  requireReadable(bytes_to_read, QUEUE_SIZE_MAX, "bytes_to_read");
  // (A named result: GCC 12 mishandles a co_await inside an aggregate initialiser.)
  Bytes taken = co_await readQueued(call, queueOf(port), bytes_to_read);
  co_return UartChars{std::move(taken)};
}

Op<Bytes> UARTModule::receive(Call& call, int port, std::int64_t at_least, std::int64_t at_most,
                              std::optional<double> wait) {
  dev_.requireOpen();
  checkPort(port);
  requireReadable(at_least, QUEUE_SIZE_MAX, "at_least");
  const auto least = static_cast<std::size_t>(std::max<std::int64_t>(at_least, 0));
  const auto most = static_cast<std::size_t>(std::max<std::int64_t>(at_most, 0));
  co_return co_await receiveQueued(call, queueOf(port), least, most, wait);
}

Op<int> UARTModule::reset(Call& call, int port) {
  checkPort(port);
  co_return co_await busStatus(call, RESET_UART, payloadOf(port), "UART_reset");
}

Op<int> UARTModule::setBaudRate(Call& call, int port, std::int64_t baud_rate) {
  checkPort(port);
  checkBaudRate(baud_rate);
  Bytes payload = payloadOf(port);
  appendU32Field(payload, baud_rate, "baud_rate");
  co_return co_await busStatus(call, SET_UART_BAUD_RATE, std::move(payload), "UART_setBaudRate");
}

Op<int> UARTModule::setDataBit(Call& call, int port, int mode) {
  checkPort(port);
  checkDataBit(mode);
  co_return co_await busStatus(call, SET_UART_DATA_SIZE, payloadOf(port, mode), "UART_setDataBit");
}

Op<int> UARTModule::setParity(Call& call, int port, int mode) {
  checkPort(port);
  checkParityMode(mode);
  co_return co_await busStatus(call, SET_UART_PARITY, payloadOf(port, mode), "UART_setParity");
}

Op<int> UARTModule::setNumStopBit(Call& call, int port, int mode) {
  checkPort(port);
  checkNumStopBitMode(mode);
  co_return co_await busStatus(call, SET_UART_NUM_STOP_BITS, payloadOf(port, mode), "UART_setNumStopBit");
}

Op<int> UARTModule::startReading(Call& call, int port) {
  checkPort(port);
  call.sendOnly(START_UART_READING, payloadOf(port));
  co_return 0;
}

Op<int> UARTModule::stopReading(Call& call, int port) {
  checkPort(port);
  co_return co_await busStatus(call, STOP_UART_READING, payloadOf(port), "_UART_stopReading");
}

}  // namespace zelvo
