#pragma once
// The command line of dlt645-host and the port specifications.
#include <cstdint>
#include <string>
#include <vector>

namespace host {

enum class PortKind { kTcpClient, kListen, kSerial };
enum class Parity { kNone, kEven, kOdd };

struct PortSpec {
  PortKind kind = PortKind::kTcpClient;
  std::string text;    // as written: the data source's name
  std::string host;    // tcp:// and listen://
  uint16_t port = 0;   // 0 with listen://: any free port
  std::string device;  // serial:
  uint32_t baud = 2400;
  Parity parity = Parity::kEven;
  uint8_t data_bits = 8;
  uint8_t stop_bits = 1;  // 1 or 2
};

enum class OutputFormat { kJson, kCsv, kText };
enum class Module { k2007, kGprs, k1997 };

struct HostOptions {
  std::vector<PortSpec> ports;
  std::string config;    // --config: query configuration (XML)
  std::string settings;  // --settings: INI file (written when --config is given)
  std::string section = "dlt645-host";
  std::string library;  // --library; empty: the one beside the program
  Module module = Module::k2007;
  OutputFormat format = OutputFormat::kJson;
  std::string output;               // --output FILE instead of stdout
  std::string log_file;             // --log FILE instead of stderr
  std::string store;                // --store FILE.db: SQLite
  double store_retention_days = 0;  // 0: keep everything
  int log_level = 2;                // plug-in log lines up to this level are shown
  double duration_s = 0;            // 0: until interrupted
  std::vector<std::string> events;
  double event_every_s = 0;       // 0: each event once, after the ports opened
  uint32_t connect_attempts = 0;  // network ports; 0: retry for ever
  double stats_every_s = 0;       // 0: no statistics lines
  // The gateway's outputs: MQTT (Linux) and the health exposition.
  std::string mqtt;            // --mqtt mqtt://HOST:PORT[/PREFIX], mqtts:// with TLS
  std::string mqtt_client_id;  // empty: dlt645-host-<host name>
  std::string mqtt_user;
  std::string mqtt_password;  // else DLT645_MQTT_PASSWORD from the environment
  std::string mqtt_ca;        // TLS: the CA certificates (PEM); empty: the system's
  std::string mqtt_outbox = "dlt645-outbox.db";
  uint64_t mqtt_outbox_bytes = uint64_t{64} << 20;
  std::string metrics;  // --metrics ADDR:PORT (serving /metrics) or FILE
  // What one line may cost the host (see PortSettings).
  uint32_t max_bytes_per_s = 65536;  // --max-rate; 0: no limit
  double idle_timeout_s = 1800;      // --idle-timeout, listen://; 0: never
  uint32_t max_connections = 10000;  // --max-connections per listen://; 0: no limit
  bool verbose = false;
  bool help = false;
  bool version = false;
};

// Below these a host event or a statistics line would flood the plug-in or
// the log rather than tell anything.
constexpr double kMinEventEverySeconds = 1;
constexpr double kMinStatsSeconds = 1;

// False with a message naming the offending argument.
bool ParseHostOptions(const std::vector<std::string>& args, HostOptions* options,
                      std::string* error);
bool ParsePortSpec(const std::string& text, PortSpec* definition, std::string* error);
const char* HostUsage();

// mqtt://HOST[:PORT][/PREFIX] (port 1883) or mqtts:// (TLS, port 8883).
struct MqttUrl {
  bool tls = false;
  std::string host;
  uint16_t port = 1883;
  std::string prefix = "dlt645";
};
bool ParseMqttUrl(const std::string& text, MqttUrl* url, std::string* error);
// --metrics: an address to serve on (a bare port is on loopback), or a file.
struct MetricsTarget {
  std::string host;  // empty: a file
  uint16_t port = 0;
  std::string file;
};
bool ParseMetricsTarget(const std::string& text, MetricsTarget* target);

// The module names of the variants and the identifier the plug-in finds
// them by: CRC-32 (reflected 0xEDB88320, start 0xFFFFFFFF) without the final
// inversion.
const char* ModuleName(Module module);
uint32_t ConfigIdOf(const std::string& name);

}  // namespace host
