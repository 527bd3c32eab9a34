#include "zelvo/core/device.hpp"

#include <cmath>
#include <set>
#include <thread>
#include <utility>

#include "zelvo/core/console.hpp"
#include "zelvo/core/usb_client.hpp"

namespace zelvo {
namespace {

// Every live device, for the close-everything at interpreter exit.
struct Registry {
  std::mutex m;
  std::set<Device*> live;
};
Registry& registry() {
  static Registry* r = new Registry();  // outlives every device, even at process exit
  return *r;
}

// Dropped-frame reports are limited to this many per window.
constexpr int kDropReportsPerWindow = 5;
constexpr auto kDropReportWindow = std::chrono::seconds(10);

// How each transport's receive loop treats a read that did not return data.
Channel::ReadProblem networkProblem(const ReadResult& r) {
  // The peer closed the connection or the socket failed: nothing more will arrive on it; the
  // thread parks until disconnect/connect and says once what happened.
  (void)r;
  return {console::genericErrorText("NetworkConnectionLostError", Error(Err::NetworkConnectionLostError).what()),
          true};
}

Channel::ReadProblem datagramProblem(const ReadResult&) { return {"", false}; }

// A USB read that ends the stream (the device was unplugged) is reported once and parks the
// thread until disconnect; other failures are reported (rate-limited) and retried after a
// back-off. A read ended by a disconnect (Closed, no text) parks quietly.
Channel::ReadProblem usbProblem(const ReadResult& r) {
  if (r.status == ReadStatus::Closed)
    return {r.error.empty() ? std::string() : console::genericErrorText("USBError", r.error), true};
  return {console::genericErrorText("USBError", r.error), false};
}

}  // namespace

// --- Device --------------------------------------------------------------------------------------

Device::Device(std::string model, bool verbose) : model_(std::move(model)) {
  if (verbose) printLine("Opened handle (" + model_ + ")");
}

void Device::markLive() {
  std::lock_guard lock(registry().m);
  registry().live.insert(this);
}

Device::~Device() { unregister(); }

void Device::unregister() noexcept {
  std::lock_guard lock(registry().m);
  registry().live.erase(this);
}

void Device::closeAll() {
  // Under the registry's lock: a device that another thread (a daemon thread, at exit) starts to
  // destroy meanwhile leaves the registry first, so it waits here and is never closed half-gone.
  std::lock_guard lock(registry().m);
  for (Device* d : registry().live) d->close(false, true);
}

void Device::printLine(const std::string& line) const { console::print(line); }

void Device::throwClosed() const { throw Error(connectionError(), "The device handle is closed."); }

void Device::requireOpen() const {
  if (killed()) throwClosed();
}

void Device::onLinkLost() {
  link_lost_ = true;
  replies_.linkDown();
  wakeReaders();
}

void Device::linkDown() {
  if (exiting_) return;  // interpreter exit: waiting calls are left alone (see close)
  replies_.linkDown();
  wakeReaders();
}

void Device::linkUp() {
  link_lost_ = false;
  replies_.linkUp();
}

void Device::addReaderWake(std::function<void()> wake) {
  std::lock_guard lock(wakes_m_);
  reader_wakes_.push_back(std::move(wake));
}

void Device::wakeReaders() {
  streams_.wakeReaders();
  std::vector<std::function<void()>> wakes;
  {
    std::lock_guard lock(wakes_m_);
    wakes = reader_wakes_;
  }
  for (auto& w : wakes) w();
}

void Device::close(bool verbose, bool silent) {
  abortConnects();  // a connect() waiting for a silent peer holds the lock below
  std::lock_guard lock(life_m_);
  if (killed_) return;
  // From here on a call fails with "The device handle is closed.", and calls still waiting end at
  // once with the connection error, stream reads return. Not at interpreter exit (silent): a
  // daemon thread's call then keeps waiting quietly until the process is gone.
  killed_ = true;
  if (silent)
    exiting_ = true;
  else
    replies_.abortWaiters();
  try {
    // A connected device is disconnected as disconnect() does by default, with its message,
    // whatever `verbose` says about the close message itself.
    disconnectForClose(!silent);
  } catch (const Error& e) {
    if (!silent) console::printGenericError(e);
  }
  console::withoutInterpreterLock([this] { shutdownTransport(); });
  for (auto& hook : close_hooks_) hook();
  close_hooks_.clear();
  if (!silent) wakeReaders();
  if (verbose && !silent) printLine("Closed handle (" + model_ + ")");
}

void Device::warnIfLeftOpen() noexcept {
  try {
    if (killed()) return;
    const std::string state = linkState();
    if (state.rfind("connected to ", 0) == 0 || state.rfind("link lost", 0) == 0 || state == "listening")
      console::resourceWarning("unclosed " + model_ + " device (" + state + "): close() it, or use it in a with block");
  } catch (...) {
  }
}

void Device::closeOnDestruction() noexcept {
  unregister();  // first: the most derived destructor runs this before anything is torn down
  try {
    close(false, true);
  } catch (...) {
  }
}

void Device::addCloseHook(std::function<void()> hook) { close_hooks_.push_back(std::move(hook)); }

void Device::noteCloseFailure(std::exception_ptr e) {
  std::lock_guard lock(life_m_);
  if (!close_failure_) close_failure_ = std::move(e);
}

std::exception_ptr Device::takeCloseFailure() {
  std::lock_guard lock(life_m_);
  return std::exchange(close_failure_, nullptr);
}

void Device::sendBroadcast(ByteView) {
  throw Error(Err::APINotSupportError);
}

void Device::setStreamSink(const StreamKey& key, StreamSink sink) {
  std::lock_guard lock(sinks_m_);
  sinks_[key] = std::move(sink);
}

void Device::clearStreamSink(const StreamKey& key) {
  std::lock_guard lock(sinks_m_);
  sinks_.erase(key);
}

void Device::reportDropped(int cmd, std::size_t have, std::size_t need, const char* what) {
  {
    // Both channels of a Wi-Fi device report here.
    std::lock_guard lock(drop_m_);
    const auto now = std::chrono::steady_clock::now();
    if (now - drop_window_ > kDropReportWindow) {
      drop_window_ = now;
      drops_in_window_ = 0;
    }
    if (++drops_in_window_ > kDropReportsPerWindow) return;
  }
  console::printGenericError(Error(Err::FirmwareOtherError,
                                   "Dropped a " + std::string(what) + " frame with code " + std::to_string(cmd) +
                                       ": payload of " + std::to_string(have) + " bytes, at least " +
                                       std::to_string(need) + " needed."));
}

void Device::putToDataPool(int cmd, Bytes data) {
  ReplyKey key = cmd;
  if (cmd == MOTION) {
    auto k = motionKey(data);
    if (!k) return reportDropped(cmd, data.size(), kMotionKeyBytes, "motion reply");
    key = *k;
  }
  switch (classifyFrame(cmd, data)) {
    case FrameKind::Streaming: {
      const std::size_t need = streamRouteNeeds(cmd);
      if (data.size() < need) return reportDropped(cmd, data.size(), need, "stream");
      const StreamRoute route = streamRoute(cmd, data);
      const ByteView stored = ByteView(data).subspan(route.skip);
      {
        std::lock_guard lock(sinks_m_);
        auto it = sinks_.find(route.key);
        if (it != sinks_.end()) {
          it->second(stored);
          return;
        }
      }
      streams_.queue(route.key)->push(Bytes(stored.begin(), stored.end()));
      return;
    }
    case FrameKind::Echo:
      replies_.put(key, std::move(data));
      return;
    case FrameKind::Broadcast:
      broadcasts_.add(cmd, Bytes(data.begin() + 1, data.end()));
      return;
    case FrameKind::Ignore:
      if (data.empty()) reportDropped(cmd, 0, 1, "broadcast answer");
      return;
  }
}

std::unique_ptr<Channel> Device::makeChannel(std::size_t read_size, Channel::Diagnose diagnose) {
  return std::make_unique<Channel>(
      read_size, [this](Frame&& f) { putToDataPool(f.code, std::move(f.payload)); }, std::move(diagnose),
      [this] { onLinkLost(); });
}

// --- USBDevice -----------------------------------------------------------------------------------

USBDevice::USBDevice(std::string model, bool verbose) : Device(std::move(model), verbose) {
  channel_ = makeChannel(USB_PKT_SIZE, usbProblem);
}

USBDevice::~USBDevice() {
  warnIfLeftOpen();
  console::withoutInterpreterLock([this] { closeOnDestruction(); });
}

void USBDevice::connect(const std::string& serial_num, bool verbose) {
  std::lock_guard lock(life_m_);
  if (killed()) throwClosed();
  if (connected_) {
    if (!client_->gone() && !linkLost()) return;
    disconnect(false);  // the device was unplugged: connect afresh
  }
  auto client = std::make_shared<UsbClient>(serial_num);
  std::string serial = client->takeSerialNumber();  // raises before anything changed
  client->setReadTimeout(0);                        // the receive thread waits for data, not a clock
  serial_num_ = std::move(serial);
  client_ = client;
  linkUp();
  channel_->open(client);
  connected_ = true;  // last: only a fully opened device counts as connected
  if (verbose) printLine("Connected to " + *serial_num_ + " (" + model() + ")");
}

void USBDevice::disconnect(bool verbose) {
  std::lock_guard lock(life_m_);
  if (!connected_) return;
  const bool was_up = !linkLost();
  console::withoutInterpreterLock([this] {
    channel_->close();
    client_->close();  // releases the interface and the handle, whoever else holds the client
  });
  client_.reset();
  connected_ = false;
  linkDown();
  if (verbose && was_up) printLine("Disconnected from " + serial_num_.value_or("") + " (" + model() + ")");
}

void USBDevice::disconnectForClose(bool verbose) {
  if (connected_) disconnect(verbose);
}

void USBDevice::shutdownTransport() {
  if (channel_) channel_->kill();
}

std::optional<std::string> USBDevice::serialNum() const {
  std::lock_guard lock(life_m_);
  return serial_num_;
}

std::string USBDevice::linkState() const {
  const auto serial = serialNum();
  if (connected_ && linkLost()) return "link lost (" + serial.value_or("") + " on USB)";
  return connected() && serial ? "connected to " + *serial + " on USB" : "not connected";
}

std::shared_ptr<UsbClient> USBDevice::client() const {
  std::lock_guard lock(life_m_);
  return client_;
}

void USBDevice::sendCommand(ByteView frame) {
  std::shared_ptr<UsbClient> c;
  {
    std::lock_guard lock(life_m_);
    if (killed()) throwClosed();
    c = client_;
  }
  if (!c) throw Error(Err::USBConnectionError);
  c->send(frame);
}

// --- NetworkDevice -------------------------------------------------------------------------------

NetworkDevice::NetworkDevice(std::string model, bool verbose) : Device(std::move(model), verbose) {
  // One read takes whatever has arrived, up to this much; a bigger buffer than one frame keeps the
  // number of reads low when a stream arrives fast.
  channel_ = makeChannel(std::max<std::size_t>(TCP_PKT_LENGTH_MAX, 64 * 1024), networkProblem);
}

NetworkDevice::~NetworkDevice() {
  warnIfLeftOpen();
  console::withoutInterpreterLock([this] { closeOnDestruction(); });
}

void NetworkDevice::connect(const std::string& ip_addr, int port, bool verbose) {
  std::lock_guard lock(life_m_);
  if (killed()) throwClosed();
  if (connected_) {
    if (!linkLost()) return;
    try {
      disconnect(false);  // the link died: clean up, then connect afresh
    } catch (const Error&) {
    }
  }
  client_->connect(ip_addr, port);
  client_->resetStream();  // a new connection starts a new byte stream
  connected_ = true;
  ip_addr_ = ip_addr;
  linkUp();
  channel_->open(client_);
  if (verbose) printLine("Connected to " + ip_addr + " (" + model() + ")");
}

void NetworkDevice::disconnectCommand() {
  console::withoutInterpreterLock([this] { channel_->close(); });
  connected_ = false;
  linkDown();
  client_->disconnect();  // may raise NetworkConnectionLostError; the state is clean already
}

void NetworkDevice::disconnect(bool verbose) {
  std::lock_guard lock(life_m_);
  if (!connected_) return;
  const bool was_up = !linkLost();
  disconnectCommand();
  if (verbose && was_up) printLine("Disconnected from " + ip_addr_.value_or("") + " (" + model() + ")");
}

void NetworkDevice::disconnectForClose(bool verbose) {
  if (connected_) disconnect(verbose);
}

void NetworkDevice::shutdownTransport() {
  if (channel_) channel_->kill();
}

void NetworkDevice::abortConnects() { client_->abortConnects(); }

std::optional<std::string> NetworkDevice::ipAddr() const {
  std::lock_guard lock(life_m_);
  return ip_addr_;
}

std::string NetworkDevice::linkState() const {
  const auto ip = ipAddr();
  if (connected_ && linkLost()) return "link lost (" + ip.value_or("") + ")";
  return connected() && ip ? "connected to " + *ip : "not connected";
}

void NetworkDevice::sendCommand(ByteView frame) {
  if (killed()) throwClosed();
  if (!connected_) throw Error(Err::NetworkConnectionError);
  if (linkLost()) throw Error(Err::NetworkConnectionLostError);
  client_->send(frame);
}

// --- WifiDevice ----------------------------------------------------------------------------------

WifiDevice::WifiDevice(std::string model, bool verbose) : NetworkDevice(model, verbose) {
  data_channel_ = makeChannel(std::max<std::size_t>(TCP_DATA_LENGTH_MAX, 64 * 1024), networkProblem);
  if (verbose) printLine("Opened handle (" + model + ")");
}

WifiDevice::~WifiDevice() {
  warnIfLeftOpen();
  console::withoutInterpreterLock([this] {
    closeOnDestruction();
    if (data_channel_) data_channel_->kill();
  });
}

void WifiDevice::connect(const std::string& ip, int port1, int port2, bool verbose) {
  std::lock_guard lock(life_m_);
  if (killed()) throwClosed();
  if (connected()) return;
  NetworkDevice::connect(ip, port1, false);
  try {
    data_client_->connect(ip, port2);
  } catch (...) {
    NetworkDevice::disconnect(false);  // all or nothing
    throw;
  }
  data_client_->resetStream();
  data_connected_ = true;
  data_channel_->open(data_client_);
  if (verbose) printLine("Connected to " + ipAddr().value_or(ip) + " (" + model() + ")");
}

void WifiDevice::disconnect(bool verbose) {
  std::lock_guard lock(life_m_);
  const bool was_up = !linkLost();
  std::exception_ptr failure;
  try {
    NetworkDevice::disconnect(false);
  } catch (...) {
    failure = std::current_exception();
  }
  if (data_connected_) {
    console::withoutInterpreterLock([this] { data_channel_->close(); });
    data_connected_ = false;
    try {
      data_client_->disconnect();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
    if (verbose && was_up) printLine("Disconnected from " + ipAddr().value_or("") + " (" + model() + ")");
  }
  if (failure) std::rethrow_exception(failure);
}

void WifiDevice::shutdownTransport() {
  NetworkDevice::shutdownTransport();
  if (data_channel_) data_channel_->kill();
}

void WifiDevice::abortConnects() {
  NetworkDevice::abortConnects();
  data_client_->abortConnects();
}

// --- BroadcastDevice -----------------------------------------------------------------------------

BroadcastDevice::BroadcastDevice(std::string model, bool verbose)
    : Device(std::move(model), verbose), collect_seconds_(kBroadcastCollectSeconds) {
  channel_ = makeChannel(UDP_PKT_LENGTH_MAX, datagramProblem);
}

void BroadcastDevice::setCollectSeconds(double seconds) {
  if (!(seconds >= 0) || !std::isfinite(seconds))
    throw Error(Err::InputDataNotInRangeError, "The collection time is a finite number of seconds >= 0.");
  collect_seconds_ = seconds;
}

BroadcastDevice::~BroadcastDevice() {
  warnIfLeftOpen();
  console::withoutInterpreterLock([this] { closeOnDestruction(); });
}

void BroadcastDevice::connect(bool verbose, const std::string& host, int port) {
  std::lock_guard lock(life_m_);
  if (killed()) throwClosed();
  if (connected_) return;
  client_->bind(host, port);
  client_->resetStream();
  connected_ = true;
  channel_->open(client_);
  if (verbose) printLine("Binded " + model());
}

void BroadcastDevice::disconnect(bool verbose) {
  std::lock_guard lock(life_m_);
  if (!connected_) return;
  console::withoutInterpreterLock([this] { channel_->close(); });
  connected_ = false;
  client_->disconnect();
  if (verbose) printLine("Disconnected " + model());
}

void BroadcastDevice::disconnectForClose(bool verbose) {
  if (connected_) disconnect(verbose);
}

void BroadcastDevice::shutdownTransport() {
  if (channel_) channel_->kill();
}

void BroadcastDevice::sendCommand(ByteView frame) {
  if (killed()) throwClosed();
  if (!connected_) throw Error(Err::NetworkConnectionError);
  client_->send(frame);
}

void BroadcastDevice::sendBroadcast(ByteView frame) {
  if (killed()) throwClosed();
  if (!connected_) return;
  client_->sendBcstPacket(frame);
}

}  // namespace zelvo
