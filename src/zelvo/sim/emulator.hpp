// The device emulator: emulated devices of any product, each a firmware model behind its own
// loopback TCP server, with fault injection. This is the C++ API the Python module `pyzelvo.sim`
// wraps.
//
//   zelvo::sim::Emulator emu;
//   auto dev = emu.add("TavraA");                   // 127.0.0.1, a free port
//   connect to dev->host():dev->port() and talk the device protocol
//   dev->faults().ignoreNext(122, 2);               // the next two GET_SERIAL_NUMBER go unanswered
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zelvo/sim/discovery_responder.hpp"
#include "zelvo/sim/faults.hpp"
#include "zelvo/sim/firmware.hpp"
#include "zelvo/sim/system_firmware.hpp"
#include "zelvo/sim/tcp_server.hpp"

namespace zelvo::sim {

// The ports a Wi-Fi device listens on out of the box.
inline constexpr int kWifiCommandPort = 7;
inline constexpr int kWifiDataPort = 1336;

struct DeviceOptions {
  std::string host = "127.0.0.1";  // any 127.0.0.0/8 address
  int port = 0;                     // command channel; 0 picks a free port
  int data_port = 0;                // Wi-Fi data channel; 0 picks a free port
  bool wifi_pair = false;           // Wi-Fi products: listen on kWifiCommandPort / kWifiDataPort
  std::string firmware_version = "1.0.0";
  std::string serial;  // 8 characters; empty picks a fresh one
  // Network products answer discovery requests arriving at this port (shared by every emulated
  // device; 0: no discovery; the protocol's is kDiscoveryRequestPort) at the finder's answer port
  // (discovery_responder.hpp).
  int discovery_port = 0;
  int answer_port = kDiscoveryAnswerPort;
};

class EmulatedDevice {
 public:
  // Builds the firmware and starts serving. Throws std::invalid_argument for options the product
  // cannot take and ListenError when a port cannot be bound.
  EmulatedDevice(const ProductSpec& prod, const DeviceOptions& opts = {});
  ~EmulatedDevice();
  EmulatedDevice(const EmulatedDevice&) = delete;
  EmulatedDevice& operator=(const EmulatedDevice&) = delete;

  // Stops serving (connections and listeners closed, thread joined); the state stays readable.
  void stop();
  bool running() const { return server_->running(); }

  const ProductSpec& product() const { return fw_.product(); }
  const std::string& host() const { return server_->host(); }
  int port() const { return server_->port(); }
  std::optional<int> dataPort() const;

  Firmware& firmware() { return fw_; }
  const Firmware& firmware() const { return fw_; }
  SystemFirmware& system() const { return fw_.system(); }
  FaultPlan& faults() { return faults_; }
  const FaultPlan& faults() const { return faults_; }
  // The discovery transport; null for a product without network configuration or with discovery
  // off.
  DiscoveryResponder* discovery() const { return discovery_.get(); }

  void dropConnections() { server_->dropConnections(); }
  std::size_t connectionCount() const { return server_->connectionCount(); }
  std::uint64_t writesCompleted() const { return server_->writesCompleted(); }
  // A stream packet to the data channel (Wi-Fi) or the command channel (other products).
  void sendStream(Reply packet) { server_->sendStream(std::move(packet)); }
  // A reply nobody asked for, on the command channel.
  void sendUnsolicited(Reply packet) { server_->sendUnsolicited(std::move(packet)); }

 private:
  Firmware fw_;
  FaultPlan faults_;
  std::unique_ptr<TcpDeviceServer> server_;
  std::unique_ptr<DiscoveryResponder> discovery_;
};

class Emulator {
 public:
  Emulator() = default;
  ~Emulator();
  Emulator(const Emulator&) = delete;
  Emulator& operator=(const Emulator&) = delete;

  // A new emulated device of the product class `class_name` ("TavraA", "AerisR3A", ...). Throws
  // std::invalid_argument for an unknown class or unsuitable options, ListenError for a bind
  // failure, std::logic_error after close().
  std::shared_ptr<EmulatedDevice> add(std::string_view class_name, const DeviceOptions& opts = {});
  std::vector<std::shared_ptr<EmulatedDevice>> devices() const;

  // Stops every device. Idempotent; the emulator takes no new devices afterwards.
  void close();
  bool closed() const;

 private:
  mutable std::mutex mutex_;
  bool closed_ = false;
  std::vector<std::shared_ptr<EmulatedDevice>> devices_;
};

// Class names of the products the emulator can serve, in catalogue order.
std::vector<std::string> emulatedProducts();

}  // namespace zelvo::sim
