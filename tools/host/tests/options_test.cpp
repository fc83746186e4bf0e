#include <gtest/gtest.h>

#include "host_options.h"

namespace {

using namespace host;

HostOptions Parse(std::vector<std::string> args, std::string* error = nullptr) {
  HostOptions o;
  std::string e;
  const bool ok = ParseHostOptions(args, &o, &e);
  if (error) *error = ok ? "" : e;
  return o;
}

TEST(HostPortSpec, NetworkPorts) {
  PortSpec s;
  std::string e;
  ASSERT_TRUE(ParsePortSpec("tcp://10.0.0.7:4001", &s, &e)) << e;
  EXPECT_EQ(s.kind, PortKind::kTcpClient);
  EXPECT_EQ(s.host, "10.0.0.7");
  EXPECT_EQ(s.port, 4001);
  EXPECT_EQ(s.text, "tcp://10.0.0.7:4001");
  ASSERT_TRUE(ParsePortSpec("listen://[::1]:0", &s, &e)) << e;
  EXPECT_EQ(s.kind, PortKind::kListen);
  EXPECT_EQ(s.host, "::1");
  EXPECT_EQ(s.port, 0);
  // A client needs a real port; a server may take any.
  EXPECT_FALSE(ParsePortSpec("tcp://host:0", &s, &e));
  EXPECT_FALSE(ParsePortSpec("tcp://host", &s, &e));
  EXPECT_FALSE(ParsePortSpec("tcp://:80", &s, &e));
  EXPECT_FALSE(ParsePortSpec("tcp://host:65536", &s, &e));
  EXPECT_FALSE(ParsePortSpec("udp://host:1", &s, &e));
  EXPECT_NE(e.find("udp://host:1"), std::string::npos);
}

TEST(HostPortSpec, SerialDefaultsAndSettings) {
  PortSpec s;
  std::string e;
  ASSERT_TRUE(ParsePortSpec("serial:/dev/ttyUSB0", &s, &e)) << e;
  EXPECT_EQ(s.device, "/dev/ttyUSB0");
  EXPECT_EQ(s.baud, 2400u);
  EXPECT_EQ(s.parity, Parity::kEven);
  EXPECT_EQ(s.data_bits, 8);
  EXPECT_EQ(s.stop_bits, 1);
  ASSERT_TRUE(ParsePortSpec("serial:COM3?baud=9600&parity=none&stop=2", &s, &e)) << e;
  EXPECT_EQ(s.device, "COM3");
  EXPECT_EQ(s.baud, 9600u);
  EXPECT_EQ(s.parity, Parity::kNone);
  EXPECT_EQ(s.stop_bits, 2);
  EXPECT_FALSE(ParsePortSpec("serial:COM3?baud=fast", &s, &e));
  EXPECT_FALSE(ParsePortSpec("serial:COM3?parity=mark", &s, &e));
  EXPECT_FALSE(ParsePortSpec("serial:COM3?flow=rts", &s, &e));
  EXPECT_NE(e.find("flow"), std::string::npos);
  EXPECT_FALSE(ParsePortSpec("serial:?baud=2400", &s, &e));
}

TEST(HostOptions, CommandLine) {
  std::string e;
  const HostOptions o =
      Parse({"--config", "q.xml", "--module", "1997", "--format", "csv", "--duration", "2.5",
             "--event", "READ", "--event", "NIGHT", "tcp://h:1", "listen://0.0.0.0:9100"},
            &e);
  ASSERT_TRUE(e.empty()) << e;
  EXPECT_EQ(o.config, "q.xml");
  EXPECT_EQ(o.module, Module::k1997);
  EXPECT_EQ(o.format, OutputFormat::kCsv);
  EXPECT_DOUBLE_EQ(o.duration_s, 2.5);
  EXPECT_EQ(o.events, (std::vector<std::string>{"READ", "NIGHT"}));
  ASSERT_EQ(o.ports.size(), 2u);
  EXPECT_EQ(o.ports[1].kind, PortKind::kListen);

  // The limits a line is held to; 0 lifts each.
  const HostOptions limits = Parse({"--config", "q.xml", "--max-rate", "0", "--idle-timeout", "0",
                                    "--max-connections", "5", "tcp://h:1"},
                                   &e);
  ASSERT_TRUE(e.empty()) << e;
  EXPECT_EQ(limits.max_bytes_per_s, 0u);
  EXPECT_EQ(limits.idle_timeout_s, 0);
  EXPECT_EQ(limits.max_connections, 5u);
  EXPECT_EQ(o.max_bytes_per_s, 65536u);
  EXPECT_EQ(o.idle_timeout_s, 1800);
}

TEST(HostOptions, MistakesAreNamed) {
  std::string e;
  Parse({"--config", "q.xml", "--frobnicate", "tcp://h:1"}, &e);
  EXPECT_NE(e.find("--frobnicate"), std::string::npos);
  Parse({"--config", "q.xml"}, &e);
  EXPECT_NE(e.find("no port"), std::string::npos);
  Parse({"tcp://h:1"}, &e);
  EXPECT_NE(e.find("--config"), std::string::npos);
  Parse({"--config", "q.xml", "tcp://h:1", "--duration"}, &e);
  EXPECT_NE(e.find("needs a value"), std::string::npos);
  Parse({"--config", "q.xml", "tcp://h:1", "--duration", "-3"}, &e);
  EXPECT_NE(e.find("--duration"), std::string::npos);
  Parse({"--config", "q.xml", "tcp://h:1", "--module", "2009"}, &e);
  EXPECT_NE(e.find("2009"), std::string::npos);
  for (const char* option : {"--max-rate", "--idle-timeout", "--max-connections"}) {
    Parse({"--config", "q.xml", "tcp://h:1", option, "-1"}, &e);
    EXPECT_NE(e.find(option), std::string::npos) << option;
  }
  Parse({"--config", "q.xml", "tcp://h:1", "--stats", "0.001"}, &e);
  EXPECT_NE(e.find("--stats"), std::string::npos);
  Parse({"--config", "q.xml", "tcp://h:1", "--event-every", "0.5"}, &e);
  EXPECT_NE(e.find("--event-every"), std::string::npos);
  Parse({"--help"}, &e);
  EXPECT_TRUE(e.empty());
}

TEST(HostOptions, ConfigIdsOfTheModuleNames) {
  EXPECT_EQ(ConfigIdOf("abc"), 0xCADBBE3Du);
  EXPECT_EQ(ConfigIdOf(""), 0xFFFFFFFFu);
  EXPECT_NE(ConfigIdOf(ModuleName(Module::kGprs)), ConfigIdOf(ModuleName(Module::k1997)));
  EXPECT_STREQ(ModuleName(Module::kGprs), "DL-T645/2007 [GPRS]");
  EXPECT_STREQ(ModuleName(Module::k1997), "DL-T645/1997");
}

}  // namespace

namespace {

TEST(HostOptions, GatewayBrokerMetricsAndOutbox) {
  MqttUrl u;
  std::string e;
  ASSERT_TRUE(ParseMqttUrl("mqtt://broker.lan", &u, &e)) << e;
  EXPECT_EQ(u.host, "broker.lan");
  EXPECT_EQ(u.port, 1883);
  EXPECT_EQ(u.prefix, "dlt645");
  EXPECT_FALSE(u.tls);
  ASSERT_TRUE(ParseMqttUrl("mqtts://[::1]:9883/site/a/", &u, &e)) << e;
  EXPECT_EQ(u.host, "::1");
  EXPECT_EQ(u.port, 9883);
  EXPECT_EQ(u.prefix, "site/a");
  EXPECT_TRUE(u.tls);
  ASSERT_TRUE(ParseMqttUrl("mqtts://h/p", &u, &e)) << e;
  EXPECT_EQ(u.port, 8883);
  for (const char* bad :
       {"tcp://h:1", "mqtt://", "mqtt://h:0", "mqtt://h:x", "mqtt://h/#", "mqtt://h/"})
    EXPECT_FALSE(ParseMqttUrl(bad, &u, &e)) << bad;

  MetricsTarget t;
  ASSERT_TRUE(ParseMetricsTarget("9108", &t));
  EXPECT_EQ(t.host, "127.0.0.1");
  EXPECT_EQ(t.port, 9108);
  ASSERT_TRUE(ParseMetricsTarget("0.0.0.0:9108", &t));
  EXPECT_EQ(t.host, "0.0.0.0");
  ASSERT_TRUE(ParseMetricsTarget("/var/lib/node/dlt645.prom", &t));
  EXPECT_EQ(t.file, "/var/lib/node/dlt645.prom");
  EXPECT_TRUE(t.host.empty());

  const HostOptions o = Parse({"--settings", "s.ini", "--mqtt", "mqtt://h/p", "--mqtt-outbox-size",
                               "8M", "--mqtt-user", "u", "--metrics", "9108", "tcp://h:1"});
  EXPECT_EQ(o.mqtt, "mqtt://h/p");
  EXPECT_EQ(o.mqtt_outbox_bytes, uint64_t{8} << 20);
  EXPECT_EQ(o.mqtt_user, "u");
  EXPECT_EQ(o.metrics, "9108");
  for (auto bad : std::vector<std::vector<std::string>>{{"--mqtt", "http://h"},
                                                        {"--mqtt-outbox-size", "1K"},
                                                        {"--mqtt-outbox-size", "x"},
                                                        {"--metrics", "h:0"},
                                                        {"--mqtt"}}) {
    std::string error;
    bad.insert(bad.begin(), {"--settings", "s.ini", "tcp://h:1"});
    Parse(bad, &error);
    EXPECT_FALSE(error.empty()) << bad[3];
  }
}

}  // namespace
