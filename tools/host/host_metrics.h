#pragma once
// Each meter's health, counted from the records: requests that ended,
// answers, time-outs, errors, the last good reading; as text for --stats
// and as a Prometheus text exposition (served at /metrics or a file).
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include <asio.hpp>

#include "hostkit/params_list.h"

namespace host {

struct MeterHealth {
  std::string port;
  uint64_t requests = 0;  // records of the meter, whatever their quality
  uint64_t answers = 0;   // good or incomplete
  uint64_t timeouts = 0;
  uint64_t errors = 0;
  int64_t last_good_ms = 0;  // Unix milliseconds; 0: never
};

class HealthCounters {
 public:
  void Count(const Record& record);
  const std::map<std::string, MeterHealth>& Meters() const { return meters_; }
  // One line per meter for the log.
  std::string Lines() const;
  // The exposition; `extra` holds the host's own lines, already formatted.
  std::string Exposition(const std::string& extra) const;

 private:
  std::map<std::string, MeterHealth> meters_;
};

// A small HTTP server on the host's loop that answers GET /metrics.
class MetricsServer {
 public:
  using Source = std::function<std::string()>;
  MetricsServer(asio::io_context& io, Source source) : io_(io), source_(std::move(source)) {}
  bool Open(const std::string& host, uint16_t port, std::string* error);
  std::string LocalAddress() const;

 private:
  void Accept();
  asio::io_context& io_;
  Source source_;
  std::unique_ptr<asio::ip::tcp::acceptor> acceptor_;
};

// Writes the text to FILE through a temporary beside it, so that a
// collector never reads half a file.
bool WriteFileAtomically(const std::string& path, const std::string& text);

}  // namespace host
