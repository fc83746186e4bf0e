// Each meter's health from its records, as log lines and as a Prometheus
// exposition served over HTTP.
#include <gtest/gtest.h>

#include <thread>

#include "host_metrics.h"
#include "host_records.h"

namespace {

using namespace host;

Record Of(const char* meter, const char* quality, double days) {
  Record r;
  const auto add = [&r](const char* name, Value v) { r.push_back(Field{name, 0, std::move(v)}); };
  add("DATE_TIME_STAMP", Value::Date(days));
  add("DATA_SOURCE_NAME", Value::Text("tcp://a:1"));
  add("DEVICE_ID", Value::Text(meter));
  if (quality) add("QUALITY", Value::Text(quality));
  return r;
}

TEST(Health, CountsEachMetersRequestsByQualityAndServesThem) {
  HealthCounters health;
  const double noon = 45413.5;  // 2024-05-01 12:00 local
  health.Count(Of("000000000001", nullptr, noon));
  health.Count(Of("000000000001", "incomplete", noon + 1));
  health.Count(Of("000000000001", "timeout", noon + 2));
  health.Count(Of("000000000001", "error", noon + 3));
  health.Count(Of("000000000002", "timeout", noon));
  const MeterHealth& one = health.Meters().at("000000000001");
  EXPECT_EQ(one.requests, 4u);
  EXPECT_EQ(one.answers, 2u);
  EXPECT_EQ(one.timeouts, 1u);
  EXPECT_EQ(one.errors, 1u);
  const std::string lines = health.Lines();
  EXPECT_NE(lines.find("meter 000000000001: 4 requests, 2 answers, 1 time-outs, 1 errors, last "
                       "good reading 2024-05-01T12:00:00"),
            std::string::npos)
      << lines;
  EXPECT_NE(lines.find("meter 000000000002: 1 requests, 0 answers, 1 time-outs, 0 errors, last "
                       "good reading never"),
            std::string::npos)
      << lines;

  const std::string text = health.Exposition("extra 1\n");
  EXPECT_NE(text.find("# TYPE dlt645_meter_timeouts_total counter\n"
                      "dlt645_meter_timeouts_total{meter=\"000000000001\",port=\"tcp://a:1\"} 1\n"
                      "dlt645_meter_timeouts_total{meter=\"000000000002\",port=\"tcp://a:1\"} 1\n"),
            std::string::npos)
      << text;
  // A meter never read well has no last good reading.
  EXPECT_NE(text.find("dlt645_meter_last_good_reading_seconds{meter=\"000000000001\""),
            std::string::npos);
  EXPECT_EQ(text.find("dlt645_meter_last_good_reading_seconds{meter=\"000000000002\""),
            std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 8), "extra 1\n");

  asio::io_context io;
  MetricsServer server(io, [&text] { return text; });
  std::string error;
  ASSERT_TRUE(server.Open("127.0.0.1", 0, &error)) << error;
  std::thread serving([&io] { io.run(); });
  const std::string address = server.LocalAddress();
  const auto port = static_cast<uint16_t>(std::stoi(address.substr(address.rfind(':') + 1)));
  const auto get = [port](const std::string& path) {
    asio::io_context cio;
    asio::ip::tcp::socket s(cio);
    s.connect({asio::ip::make_address("127.0.0.1"), port});
    asio::write(s, asio::buffer("GET " + path + " HTTP/1.1\r\nHost: x\r\n\r\n"));
    std::string reply;
    asio::error_code ec;
    char buf[4096];
    while (!ec) {
      const size_t n = s.read_some(asio::buffer(buf), ec);
      reply.append(buf, n);
    }
    return reply;
  };
  const std::string ok = get("/metrics");
  EXPECT_EQ(ok.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << ok;
  EXPECT_NE(ok.find("text/plain; version=0.0.4"), std::string::npos);
  EXPECT_EQ(ok.substr(ok.size() - text.size()), text);
  EXPECT_EQ(get("/").rfind("HTTP/1.1 404", 0), 0u);
  io.stop();
  serving.join();
}

}  // namespace
