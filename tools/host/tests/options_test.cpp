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
