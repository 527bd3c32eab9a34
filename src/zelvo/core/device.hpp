// Device objects: the host-side handle of one device. A device owns its transport client(s), one
// receive thread per client (a Channel), the pools those threads fill, and the per-key request
// gates. Transport bases: USBDevice, NetworkDevice (ETHDevice) and WifiDevice, BroadcastDevice.
#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <typeindex>
#include <unordered_map>

#include "zelvo/core/channel.hpp"
#include "zelvo/core/net_client.hpp"
#include "zelvo/core/pools.hpp"
#include "zelvo/core/routing.hpp"

namespace zelvo {

class UsbClient;

// Queue capacity of the raw stream queues (items).
inline constexpr std::size_t QUEUE_SIZE_MAX = 1000000;
// Bytes all raw stream queues of one device hold at most (streams for modules nobody opened).
inline constexpr std::size_t kRawStreamBytes = 32u << 20;
// Seconds a discovery operation collects answers: the exchange layer's PACKET_TIMEOUT (call.hpp
// checks that they agree).
inline constexpr double kBroadcastCollectSeconds = 5;

class Device {
 public:
  virtual ~Device();
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  // The model text ("Tavra-A").
  const std::string& model() const { return model_; }
  bool killed() const { return killed_.load(); }

  // Closes the device: disconnects when connected (printing that as a disconnect does), ends the
  // receive threads, releases module resources, ends waits still in progress. Idempotent; prints
  // "Closed handle (<model>)" when verbose. `silent` (interpreter exit) prints nothing and leaves
  // waiting calls alone.
  void close(bool verbose = true, bool silent = false);

  // Filing of received frames.
  static FrameKind checkCommandType(int cmd, ByteView data) { return classifyFrame(cmd, data); }
  void putToDataPool(int cmd, Bytes data);

  // Sends a frame on the command client; the transport's connection error when not connected.
  virtual void sendCommand(ByteView frame) = 0;
  // Sends a discovery broadcast (discovery handles only).
  virtual void sendBroadcast(ByteView frame);
  // The transport's connection error kind (USBConnectionError, NetworkConnectionError).
  virtual Err connectionError() const = 0;
  // Where the device is reached, for display: "connected to 192.168.1.110", "not connected", ...
  virtual std::string linkState() const = 0;
  // Whether replies and stream data can still arrive: connected, and the link did not die.
  virtual bool receiving() const = 0;
  // Throws the connection error "The device handle is closed." after close().
  void requireOpen() const;

  ReplyPool& replies() { return replies_; }
  KeyGates& gates() { return gates_; }
  StreamPool& streams() { return streams_; }
  BroadcastPool& broadcasts() { return broadcasts_; }

  // Streamed payloads of a key can be converted where they arrive instead of being queued raw.
  using StreamSink = std::function<void(ByteView stored_part)>;
  void setStreamSink(const StreamKey& key, StreamSink sink);
  void clearStreamSink(const StreamKey& key);

  // Module registry: the operations of a module reach their state through the device.
  template <class M>
  M* module() const {
    auto it = modules_.find(std::type_index(typeid(M)));
    return it == modules_.end() ? nullptr : static_cast<M*>(it->second);
  }
  template <class M>
  void registerModule(M* m) {
    modules_[std::type_index(typeid(M))] = m;
  }
  // Called by close() after the transport is down: products release their module workers here.
  void addCloseHook(std::function<void()> hook);
  // A failure a module met while the device closed (rows the data logger could not write): close()
  // still finishes, and its caller raises it afterwards.
  void noteCloseFailure(std::exception_ptr e);
  std::exception_ptr takeCloseFailure();
  // Wakes a module's stream readers; called when the link goes down, on disconnect and on close,
  // so that reads waiting for data that can no longer come return what is queued at once.
  void addReaderWake(std::function<void()> wake);

  // Every live device (the binding closes them at interpreter exit). A device joins them once fully
  // constructed (markLive, called by whoever made it): closing one still under construction would
  // run a base class's code on it.
  void markLive();
  static void closeAll();

 protected:
  Device(std::string model, bool verbose);
  void printLine(const std::string& line) const;
  // Disconnects every connected channel (close() runs it first).
  virtual void disconnectForClose(bool verbose) = 0;
  // Makes a connect in progress give up at once (close() runs it before it waits for connect).
  virtual void abortConnects() {}
  // Ends the receive threads; runs without the interpreter lock. Derived destructors call it too.
  virtual void shutdownTransport() = 0;
  // close() for destructors: silent, and never throws. Leaves the registry of live devices first.
  void closeOnDestruction() noexcept;
  // A ResourceWarning when the device is destroyed while still connected (the most derived
  // destructor asks, before closing).
  void warnIfLeftOpen() noexcept;
  void unregister() noexcept;
  // Builds a channel whose frames are filed in this device's pools.
  std::unique_ptr<Channel> makeChannel(std::size_t read_size, Channel::Diagnose diagnose);
  // The connection error for an operation on a closed device.
  [[noreturn]] void throwClosed() const;
  // The link of a channel died (receive thread): waits for replies end with
  // NetworkConnectionLostError, stream readers wake, and the device counts as no longer connected.
  void onLinkLost();
  // The link is down on purpose (disconnect, close) or up again (connect).
  void linkDown();
  void linkUp();
  bool linkLost() const { return link_lost_.load(); }

  mutable std::recursive_mutex life_m_;  // connect / disconnect / close

 private:
  void reportDropped(int cmd, std::size_t have, std::size_t need, const char* what);

  void wakeReaders();

  std::string model_;
  std::atomic<bool> killed_{false};
  std::atomic<bool> link_lost_{false};
  std::atomic<bool> exiting_{false};  // closed at interpreter exit
  ReplyPool replies_;
  KeyGates gates_;
  StreamPool streams_{QUEUE_SIZE_MAX, kRawStreamBytes};
  BroadcastPool broadcasts_;
  std::mutex sinks_m_;
  std::map<StreamKey, StreamSink> sinks_;
  std::unordered_map<std::type_index, void*> modules_;
  std::vector<std::function<void()>> close_hooks_;
  std::exception_ptr close_failure_;  // under life_m_
  std::mutex wakes_m_;
  std::vector<std::function<void()>> reader_wakes_;
  std::mutex drop_m_;
  std::chrono::steady_clock::time_point drop_window_{};
  int drops_in_window_ = 0;
};

class USBDevice : public Device {
 public:
  explicit USBDevice(std::string model, bool verbose = true);
  ~USBDevice() override;
  // Opens the first device of the family whose serial number matches ("default": any).
  void connect(const std::string& serial_num = "default", bool verbose = true);
  void disconnect(bool verbose = true);
  bool connected() const { return connected_.load() && !linkLost(); }
  bool receiving() const override { return connected(); }
  std::optional<std::string> serialNum() const;
  std::string linkState() const override;
  std::shared_ptr<UsbClient> client() const;

  void sendCommand(ByteView frame) override;
  Err connectionError() const override { return Err::USBConnectionError; }

 protected:
  void disconnectForClose(bool verbose) override;
  void shutdownTransport() override;

 private:
  std::shared_ptr<UsbClient> client_;
  std::atomic<bool> connected_{false};
  std::optional<std::string> serial_num_;
  std::unique_ptr<Channel> channel_;
};

class NetworkDevice : public Device {
 public:
  explicit NetworkDevice(std::string model, bool verbose = true);
  ~NetworkDevice() override;
  void connect(const std::string& ip_addr = "192.168.1.110", int port = TCP_CMD_PORT, bool verbose = true);
  virtual void disconnect(bool verbose = true);
  bool connected() const { return connected_.load() && !linkLost(); }
  bool receiving() const override { return connected(); }
  std::optional<std::string> ipAddr() const;
  std::string linkState() const override;
  const std::shared_ptr<TcpClient>& client() const { return client_; }

  void sendCommand(ByteView frame) override;
  Err connectionError() const override { return Err::NetworkConnectionError; }

 protected:
  void disconnectForClose(bool verbose) override;
  void shutdownTransport() override;
  void abortConnects() override;
  // Disconnect of the command channel only; raises NetworkConnectionLostError after the state is
  // clean when the socket reported a failure.
  void disconnectCommand();

 private:
  std::shared_ptr<TcpClient> client_ = std::make_shared<TcpClient>();
  std::atomic<bool> connected_{false};
  std::optional<std::string> ip_addr_;
  std::unique_ptr<Channel> channel_;
};

class ETHDevice : public NetworkDevice {
 public:
  using NetworkDevice::NetworkDevice;
};

class WifiDevice : public NetworkDevice {
 public:
  explicit WifiDevice(std::string model, bool verbose = true);
  ~WifiDevice() override;
  void connect(const std::string& ip = "192.168.5.79", int port1 = TCP_CMD_PORT, int port2 = TCP_DATA_PORT,
               bool verbose = true);
  void disconnect(bool verbose = true) override;
  bool dataConnected() const { return data_connected_.load() && !linkLost(); }
  const std::shared_ptr<TcpClient>& dataClient() const { return data_client_; }

 protected:
  void shutdownTransport() override;
  void abortConnects() override;

 private:
  std::shared_ptr<TcpClient> data_client_ = std::make_shared<TcpClient>();
  std::atomic<bool> data_connected_{false};
  std::unique_ptr<Channel> data_channel_;
};

class BroadcastDevice : public Device {
 public:
  explicit BroadcastDevice(std::string model, bool verbose = true);
  ~BroadcastDevice() override;
  // Binds the answer port (all interfaces, UDP_RECV_PORT unless given).
  void connect(bool verbose = true, const std::string& host = "", int port = UDP_RECV_PORT);
  void disconnect(bool verbose = true);
  bool connected() const { return connected_.load(); }
  bool receiving() const override { return connected(); }
  std::string linkState() const override { return connected() ? "listening" : "not connected"; }
  const std::shared_ptr<UdpClient>& client() const { return client_; }

  void sendCommand(ByteView frame) override;
  // Sends nothing while the answer port is not bound: no answer could be heard.
  void sendBroadcast(ByteView frame) override;
  Err connectionError() const override { return Err::NetworkConnectionError; }

  // How long a discovery operation collects answers (PACKET_TIMEOUT seconds; tests shorten it).
  double collectSeconds() const { return collect_seconds_.load(); }
  void setCollectSeconds(double seconds);

 protected:
  void disconnectForClose(bool verbose) override;
  void shutdownTransport() override;

 private:
  std::shared_ptr<UdpClient> client_ = std::make_shared<UdpClient>();
  std::atomic<bool> connected_{false};
  std::atomic<double> collect_seconds_;
  std::unique_ptr<Channel> channel_;
};

}  // namespace zelvo
