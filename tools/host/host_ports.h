#pragma once
// The host's ports on Asio: a TCP client, a TCP server whose every
// connection is a client of its own, and a serial line. They report what
// happens to a PortListener and take writes by client identifier.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <asio.hpp>

#include "host_options.h"

namespace host {

class Port;

class PortListener {
 public:
  virtual ~PortListener() = default;
  // The port can carry data (connected, opened, listening).
  virtual void OnPortOpened(Port& port) = 0;
  virtual void OnPortClosed(Port& port) = 0;
  // A connection of a listening port.
  virtual void OnClientOpened(Port& port, uintptr_t client, const std::string& name) = 0;
  virtual void OnClientClosed(Port& port, uintptr_t client, const std::string& name,
                              const std::string& why) = 0;
  virtual void OnReceived(Port& port, uintptr_t client, const std::string& name,
                          const uint8_t* data, size_t size) = 0;
  // level 0 error, 1 warning, 2 information.
  virtual void OnPortMessage(Port& port, int level, const std::string& text) = 0;
  // The port gave up; the host cannot go on with it.
  virtual void OnPortFailed(Port& port, const std::string& text) = 0;
};

struct PortSettings {
  uint32_t connect_attempts = 0;  // consecutive failures before giving up; 0 never
  uint32_t retry_min_ms = 1000;   // back-off of network ports
  uint32_t retry_max_ms = 30000;
  size_t max_queued_bytes = 65536;  // per client, waiting to be written
  // What one line may send: above it, reading from it pauses. 0: no limit.
  uint32_t max_bytes_per_s = 65536;
  // listen:// only: a connection silent this long is closed (0: never), and
  // connections beyond the count are refused (0: no limit).
  uint32_t idle_timeout_ms = 30 * 60 * 1000;
  size_t max_connections = 10000;
};

class Port {
 public:
  virtual ~Port() = default;
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;

  const PortSpec& Definition() const { return definition_; }
  uint32_t DataSourceNo() const { return data_source_no_; }

  virtual void Start() = 0;
  // Closes everything; open connections are reported closed first.
  virtual void Stop() = 0;
  // Queues bytes for a client (single-line ports ignore the identifier).
  // The size, or kPortNotOpen when there is nothing to write to, or -1 when
  // the client's queue is full.
  virtual int32_t Write(uintptr_t client, const uint8_t* data, size_t size) = 0;
  // Closes one connection soon (never inside the call); false when unknown.
  virtual bool CloseClient(uintptr_t client) = 0;
  virtual size_t OpenClients() const = 0;
  // listen://: connections refused over the count so far.
  virtual uint64_t RefusedClients() const { return 0; }
  // listen://: the address actually bound (port 0 picks one); else empty.
  virtual std::string LocalAddress() const { return {}; }

 protected:
  Port(const PortSpec& definition, uint32_t data_source_no)
      : definition_(definition), data_source_no_(data_source_no) {}

 private:
  PortSpec definition_;
  uint32_t data_source_no_;
};

// Client identifiers of listen connections come from one counter per host,
// so that they stay unique across ports; never 0.
struct ClientIds {
  uintptr_t next = 1;
  uintptr_t Take() { return next++; }
};

std::unique_ptr<Port> MakePort(asio::io_context& io, const PortSpec& definition,
                               uint32_t data_source_no, const PortSettings& settings,
                               ClientIds& ids, PortListener& listener);

}  // namespace host
