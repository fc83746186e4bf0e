#include "host_metrics.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "host_records.h"
#include "host_store.h"

namespace host {

namespace {

std::string TextOf(const Record& record, const char* name) {
  for (const Field& f : record)
    if (f.name == name) return FieldText(f);
  return {};
}

// A label value: backslash, quote and line end escaped.
std::string Label(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out;
}

}  // namespace

void HealthCounters::Count(const Record& record) {
  const std::string meter = TextOf(record, "DEVICE_ID");
  if (meter.empty()) return;
  MeterHealth& h = meters_[meter];
  h.port = TextOf(record, "DATA_SOURCE_NAME");
  ++h.requests;
  const std::string quality = TextOf(record, "QUALITY");
  if (quality == "timeout") {
    ++h.timeouts;
  } else if (quality == "error") {
    ++h.errors;
  } else {
    ++h.answers;
    if (quality.empty()) {
      std::string text;
      RecordStamp(record, &h.last_good_ms, &text);
    }
  }
}

std::string HealthCounters::Lines() const {
  std::string out;
  for (const auto& [meter, h] : meters_) {
    if (!out.empty()) out += '\n';
    out += "meter " + meter + ": " + std::to_string(h.requests) + " requests, " +
           std::to_string(h.answers) + " answers, " + std::to_string(h.timeouts) + " time-outs, " +
           std::to_string(h.errors) + " errors, last good reading ";
    if (h.last_good_ms == 0) {
      out += "never";
    } else {
      // Local ISO text of the Unix time.
      const double days =
          25569.0 + static_cast<double>(h.last_good_ms +
                                        int64_t{ZoneOffsetMinutes(h.last_good_ms / 1000)} * 60000) /
                        86400000.0;
      out += IsoDateTime(days) + ZoneText(ZoneOffsetMinutes(h.last_good_ms / 1000));
    }
  }
  return out;
}

std::string HealthCounters::Exposition(const std::string& extra) const {
  struct Metric {
    const char* name;
    const char* help;
    const char* type;
    uint64_t MeterHealth::*counter;
  };
  static const Metric kMetrics[] = {
      {"dlt645_meter_requests_total", "Requests of the meter that ended (any quality).", "counter",
       &MeterHealth::requests},
      {"dlt645_meter_answers_total", "Requests the meter answered.", "counter",
       &MeterHealth::answers},
      {"dlt645_meter_timeouts_total", "Requests left unanswered after every attempt.", "counter",
       &MeterHealth::timeouts},
      {"dlt645_meter_errors_total", "Requests the meter answered with an error.", "counter",
       &MeterHealth::errors},
  };
  std::string out;
  for (const Metric& m : kMetrics) {
    out +=
        std::string("# HELP ") + m.name + " " + m.help + "\n# TYPE " + m.name + " " + m.type + "\n";
    for (const auto& [meter, h] : meters_)
      out += std::string(m.name) + "{meter=\"" + Label(meter) + "\",port=\"" + Label(h.port) +
             "\"} " + std::to_string(h.*m.counter) + "\n";
  }
  out +=
      "# HELP dlt645_meter_last_good_reading_seconds Unix time of the meter's last good "
      "reading.\n# TYPE dlt645_meter_last_good_reading_seconds gauge\n";
  for (const auto& [meter, h] : meters_) {
    if (h.last_good_ms == 0) continue;
    char v[32];
    std::snprintf(v, sizeof v, "%.3f", static_cast<double>(h.last_good_ms) / 1000.0);
    out += "dlt645_meter_last_good_reading_seconds{meter=\"" + Label(meter) + "\",port=\"" +
           Label(h.port) + "\"} " + v + "\n";
  }
  return out + extra;
}

bool MetricsServer::Open(const std::string& host, uint16_t port, std::string* error) {
  asio::error_code ec;
  const auto address = asio::ip::make_address(host, ec);
  if (ec) {
    *error = "metrics: '" + host + "' is not an address";
    return false;
  }
  auto acceptor = std::make_unique<asio::ip::tcp::acceptor>(io_);
  const asio::ip::tcp::endpoint endpoint(address, port);
  acceptor->open(endpoint.protocol(), ec);
  if (!ec) acceptor->set_option(asio::ip::tcp::acceptor::reuse_address(true), ec);
  if (!ec) acceptor->bind(endpoint, ec);
  if (!ec) acceptor->listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    *error = "metrics: cannot listen on " + host + ":" + std::to_string(port) + ": " + ec.message();
    return false;
  }
  acceptor_ = std::move(acceptor);
  Accept();
  return true;
}

std::string MetricsServer::LocalAddress() const {
  if (!acceptor_) return {};
  asio::error_code ec;
  const auto e = acceptor_->local_endpoint(ec);
  return ec ? std::string() : e.address().to_string() + ":" + std::to_string(e.port());
}

void MetricsServer::Accept() {
  acceptor_->async_accept([this](asio::error_code ec, asio::ip::tcp::socket socket) {
    if (ec == asio::error::operation_aborted) return;
    if (!ec) {
      auto s = std::make_shared<asio::ip::tcp::socket>(std::move(socket));
      auto request = std::make_shared<asio::streambuf>(8192);
      asio::async_read_until(
          *s, *request, "\r\n\r\n", [source = source_, s, request](asio::error_code rec, size_t) {
            if (rec) return;
            std::istream in(request.get());
            std::string method, path;
            in >> method >> path;
            std::string body;
            std::string status = "200 OK";
            if (method != "GET") {
              status = "405 Method Not Allowed";
            } else if (path != "/metrics") {
              status = "404 Not Found";
            } else {
              body = source();
            }
            auto reply = std::make_shared<std::string>(
                "HTTP/1.1 " + status +
                "\r\nContent-Type: text/plain; version=0.0.4; charset=utf-8\r\nContent-Length: " +
                std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
            asio::async_write(*s, asio::buffer(*reply), [s, reply](asio::error_code, size_t) {
              asio::error_code ignored;
              s->shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
            });
          });
    }
    Accept();
  });
}

bool WriteFileAtomically(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream f(temporary, std::ios::binary | std::ios::trunc);
    if (!f) return false;
    f << text;
    if (!f.flush()) return false;
  }
  std::error_code ec;
  std::filesystem::rename(temporary, path, ec);
  if (!ec) return true;
  std::filesystem::remove(temporary, ec);
  return false;
}

}  // namespace host
