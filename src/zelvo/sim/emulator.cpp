#include "zelvo/sim/emulator.hpp"

#include <stdexcept>

namespace zelvo::sim {
namespace {

bool servable(const ProductSpec& prod) { return prod.base == DeviceBase::USB || prod.base == DeviceBase::ETH || prod.base == DeviceBase::Wifi; }

ServerOptions serverOptions(const ProductSpec& prod, const DeviceOptions& opts) {
  const bool wifi = prod.base == DeviceBase::Wifi;
  if (!wifi && (opts.wifi_pair || opts.data_port != 0))
    throw std::invalid_argument(prod.class_name + " is not a Wi-Fi product and has no data channel");
  ServerOptions s;
  s.host = opts.host;
  s.port = opts.wifi_pair ? kWifiCommandPort : opts.port;
  s.data_channel = wifi;
  s.data_port = opts.wifi_pair ? kWifiDataPort : opts.data_port;
  return s;
}

}  // namespace

EmulatedDevice::EmulatedDevice(const ProductSpec& prod, const DeviceOptions& opts)
    : fw_(prod, FirmwareConfig{opts.firmware_version, opts.serial}) {
  if (!servable(prod)) throw std::invalid_argument(prod.class_name + " is not a device the emulator can serve");
  server_ = std::make_unique<TcpDeviceServer>(fw_, faults_, serverOptions(prod, opts));
  fw_.setStreamSink([server = server_.get()](Reply packet) { server->sendStream(std::move(packet)); });
  if (auto* net = fw_.findModule<NetworkFirmware>(); net && opts.discovery_port != 0) {
    const DiscoveryOptions d{.host = opts.host, .request_port = opts.discovery_port, .answer_port = opts.answer_port};
    discovery_ = std::make_unique<DiscoveryResponder>(
        *net, d, [server = server_.get()](double seconds) { server->goOffline(seconds); });
  }
}

EmulatedDevice::~EmulatedDevice() {
  if (discovery_) discovery_->stop();
  fw_.setStreamSink(nullptr);
  server_->stop();
}

void EmulatedDevice::stop() {
  if (discovery_) discovery_->stop();
  server_->stop();
}

std::optional<int> EmulatedDevice::dataPort() const {
  if (server_->dataPort() == 0) return std::nullopt;
  return server_->dataPort();
}

Emulator::~Emulator() { close(); }

std::shared_ptr<EmulatedDevice> Emulator::add(std::string_view class_name, const DeviceOptions& opts) {
  const ProductSpec* prod = findProduct(class_name);
  if (!prod) throw std::invalid_argument("unknown product class '" + std::string(class_name) + "'");
  if (closed()) throw std::logic_error("the emulator is closed");
  auto dev = std::make_shared<EmulatedDevice>(*prod, opts);
  std::lock_guard lock(mutex_);
  if (closed_) throw std::logic_error("the emulator is closed");  // closed while this one started
  devices_.push_back(dev);
  return dev;
}

std::vector<std::shared_ptr<EmulatedDevice>> Emulator::devices() const {
  std::lock_guard lock(mutex_);
  return devices_;
}

void Emulator::close() {
  std::vector<std::shared_ptr<EmulatedDevice>> devices;
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    devices = devices_;
  }
  for (const auto& d : devices) d->stop();
}

bool Emulator::closed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

std::vector<std::string> emulatedProducts() {
  std::vector<std::string> out;
  for (const auto& p : products())
    if (servable(p)) out.push_back(p.class_name);
  return out;
}

}  // namespace zelvo::sim
