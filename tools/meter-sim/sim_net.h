#pragma once
// The simulator's three ways onto a line: a TCP server with a bus of meters
// behind it, DTUs that connect out to a host, and a pseudo-terminal.
#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <asio.hpp>

#include "sim_link.h"
#include "sim_options.h"

namespace metersim {

using TcpLink = Link<asio::ip::tcp::socket>;

// A serial-to-Ethernet converter: every accepted connection reaches all
// meters of the configuration.
class TcpServer final : public LinkObserver {
 public:
  TcpServer(asio::io_context& io, const SimConfig& config);
  ~TcpServer();
  // Binds config.host:config.port and listens; false with a message.
  bool Open(std::string* error);
  asio::ip::tcp::endpoint LocalEndpoint() const;
  void Start();
  void Stop();
  // Closes every connection but goes on listening (a converter that drops
  // its clients).
  void DropConnections();
  size_t Connections() const { return links_.size(); }

 private:
  void Accept();
  void OnLinkClosed(LinkBase* link) override;

  asio::io_context& io_;
  const SimConfig& config_;
  asio::ip::tcp::acceptor acceptor_;
  asio::steady_timer retry_timer_;
  std::unordered_map<LinkBase*, std::shared_ptr<TcpLink>> links_;
  uint64_t accepted_ = 0;
};

class DtuClient;

// N modems, each with its slice of the meters, connecting to one host port.
// Connection attempts run at most kMaxConnecting at a time, so that a host's
// listen backlog is not flooded.
class DtuPool {
 public:
  static constexpr size_t kMaxConnecting = 256;

  DtuPool(asio::io_context& io, const SimConfig& config);
  ~DtuPool();
  // Resolves the host and checks that the process may open enough
  // connections; false with a message.
  bool Open(std::string* error);
  void Start();
  void Stop();

  size_t DtuCount() const { return clients_.size(); }
  size_t Connected() const { return connected_; }
  // Non-empty when the pool gave up (no descriptors left).
  const std::string& Failure() const { return failure_; }

 private:
  friend class DtuClient;
  void RequestConnect(DtuClient* client);
  void ConnectDone();
  void Drain();
  void OnConnected();
  void OnDisconnected();
  void Fail(const std::string& message);

  asio::io_context& io_;
  const SimConfig& config_;
  asio::ip::tcp::endpoint endpoint_;
  std::vector<std::unique_ptr<DtuClient>> clients_;
  std::vector<DtuClient*> waiting_;
  size_t waiting_head_ = 0;
  size_t connecting_ = 0;
  size_t connected_ = 0;
  bool announced_ = false;
  bool stopped_ = false;
  bool draining_ = false;
  std::string failure_;
};

// Socket options of a listening socket before its bind: a restarted
// simulator gets its port back at once, and no other program can share it.
void PrepareListenSocket(asio::ip::tcp::acceptor& acceptor);

// Opens a pseudo-terminal and serves the meters on it; *slave_path names it.
// The returned handle keeps it open; null with a message where it fails.
std::shared_ptr<void> StartPty(asio::io_context& io, const SimConfig& config,
                               std::string* slave_path, std::string* error);

}  // namespace metersim
